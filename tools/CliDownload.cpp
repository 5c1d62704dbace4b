#include "CliDownload.h"

#include "CliDecode.h"
#include "base/File.h"
#include "link/ConsoleDownload.h"
#include "link/ImageArchive.h"
#include "table/TablePaths.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <unistd.h>

namespace ulen3 {

namespace {

int usage() {
    std::cerr << "Использование: ulen3-cli download [--port УСТРОЙСТВО] [--image ОБРАЗ.bin]\n"
                 "                 [--table ТАБЛИЦА.db [--append]] [--timeout С]\n";
    return 2;
}

// Why the table cannot take the download, said before the instrument's long transfer starts;
// empty when it can. An append needs a table this program may write and nobody else holds; a
// new table needs a free name in a folder that can be written.
std::string table_refusal(const std::string& table, bool append) {
    const std::string name = "«" + table + "»";
    if (append) {
        // Opened for writing with the table's lock, and closed again: nothing is written.
        File probe;
        FileFailure why;
        if (!probe.open(table, File::Options{}, why))
            return file_failure_text(why, table) + "; приём данных не начат";
        return {};
    }
    if (file_exists(table))
        return "файл " + name +
               " уже существует и не изменён; чтобы дополнить его, укажите --append; приём данных не начат";
    const std::string folder = folder_of(table);
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "в папку «" + folder + "» нельзя записывать (" + std::strerror(errno) + "); приём данных не начат";
    return {};
}

} // namespace

int cli_download(const std::vector<std::string>& args) {
    std::string port, image, table;
    bool append = false;
    unsigned long timeout = 60;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--port" && i + 1 < args.size())
            port = args[++i];
        else if (args[i] == "--image" && i + 1 < args.size())
            image = args[++i];
        else if (args[i] == "--table" && i + 1 < args.size())
            table = args[++i];
        else if (args[i] == "--append")
            append = true;
        else if (args[i] == "--timeout" && i + 1 < args.size())
            timeout = number_option("--timeout", args[++i], 1, 3600);
        else
            return usage();
    }
    if ((image.empty() && table.empty()) || (append && table.empty()))
        return usage();
    // Everything that would throw the download away is checked before it starts.
    if (!table.empty()) {
        const std::string refused = table_refusal(table, append);
        if (!refused.empty())
            throw std::runtime_error(refused);
    }
    if (!image.empty()) {
        const std::string refused = output_refusal(image, table, "Образ памяти не записан");
        if (!refused.empty())
            throw std::runtime_error(refused + "; приём данных не начат");
    }

    int argc = 1;
    char name[] = "ulen3-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto results = std::make_unique<DownloadResults>();
    const int seconds = static_cast<int>(timeout);
    ConsoleDownload link(*results, true, seconds, std::min(kStallMs, seconds * 1000));
    if (!port.empty())
        link.setPortOverride(QString::fromStdString(port));
    if (link.run() != 1)
        return 1;
    std::printf("Серийный номер: %u\nКод прибора: 0x%02X\nПринято байт: %zu\n", results->dev_serial, results->dev_code,
                results->image_size);
    // Every complete image is kept, as the window keeps it, before anything decodes it.
    std::string kept;
    try {
        kept = keep_image(*results, QDateTime::currentDateTime()).toStdString();
        std::printf("Образ памяти сохранён в %s\n", kept.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ulen3-cli: образ памяти не сохранён в папке образов: %s\n", e.what());
    }
    const std::string keptNote = kept.empty() ? "" : "; принятый образ памяти сохранён в «" + kept + "»";
    const DownloadedImage downloaded{results->flash_image.data(), results->image_size, results->dev_code,
                                     results->dev_serial};
    if (!image.empty()) {
        FileFailure why;
        if (!write_whole_file(image, results->flash_image.data(), results->image_size, why)) {
            std::fprintf(stderr, "ulen3-cli: %s%s\n", file_failure_text(why, image).c_str(), keptNote.c_str());
            return 1;
        }
        std::printf("Образ памяти записан в %s\n", image.c_str());
        if (table.empty()) {
            // The image is kept as it came; one whose sections do not fit its bytes is said.
            try {
                check_image(downloaded);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "ulen3-cli: образ памяти записан в %s, но в таблицу не загрузится: %s\n",
                             image.c_str(), e.what());
                return 1;
            }
            return 0;
        }
    }
    try {
        return decode_into_table(table, downloaded, append);
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what() + keptNote);
    }
}

} // namespace ulen3
