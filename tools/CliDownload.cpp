#include "CliDownload.h"

#include "CliDecode.h"
#include "ConsoleDownload.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <memory>

namespace ulen3 {

namespace {

bool write_image(const std::string& path, const DownloadResults& r) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    bool ok = f && std::fwrite(r.flash_image.data(), 1, r.image_size, f) == r.image_size;
    ok = f && std::fclose(f) == 0 && ok;
    if (ok && std::rename(tmp.c_str(), path.c_str()) == 0)
        return true;
    std::remove(tmp.c_str());
    return false;
}

int usage() {
    std::cerr << "Использование: ulen3-cli download [--port УСТРОЙСТВО] [--image ОБРАЗ.bin]\n"
                 "                 [--table ТАБЛИЦА.db [--append]]\n";
    return 2;
}

} // namespace

int cli_download(const std::vector<std::string>& args) {
    std::string port, image, table;
    bool append = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--port" && i + 1 < args.size())
            port = args[++i];
        else if (args[i] == "--image" && i + 1 < args.size())
            image = args[++i];
        else if (args[i] == "--table" && i + 1 < args.size())
            table = args[++i];
        else if (args[i] == "--append")
            append = true;
        else
            return usage();
    }
    if ((image.empty() && table.empty()) || (append && table.empty()))
        return usage();

    int argc = 1;
    char name[] = "ulen3-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto results = std::make_unique<DownloadResults>();
    ConsoleDownload link(*results, true);
    if (!port.empty())
        link.setPortOverride(QString::fromStdString(port));
    if (link.run() != 1)
        return 1;
    std::printf("Серийный номер: %u\nКод прибора: 0x%02X\nПринято байт: %zu\n", results->dev_serial,
                results->dev_code, results->image_size);
    if (!image.empty()) {
        if (!write_image(image, *results)) {
            std::cerr << "ulen3-cli: не удалось записать образ памяти в " << image << "\n";
            return 1;
        }
        std::printf("Образ памяти записан в %s\n", image.c_str());
    }
    if (table.empty())
        return 0;
    return decode_into_table(table, {results->flash_image.data(), results->image_size,
                                     results->dev_code, results->dev_serial},
                             append);
}

} // namespace ulen3
