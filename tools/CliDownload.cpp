#include "CliDownload.h"

#include "DownloadLink.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <memory>

namespace ulen3 {

namespace {

// The exchange's face on a terminal: identification on stdout, progress and errors on stderr.
class CliDownload : public DownloadLink {
public:
    explicit CliDownload(DownloadResults& results) : DownloadLink(results) {}
    int result() const { return m_result; }

private:
    void clearInformation() override {}
    void showStatus(ExchangeStatus status) override {
        std::fprintf(stderr, "%s\n", status == ExchangeStatus::Waiting ? exchange_text::kWaiting
                                                                       : exchange_text::kReceiving);
    }
    void showProgress(int percent) override {
        if (percent > 0)
            std::fprintf(stderr, "\rПринято: %d%%%s", percent, percent == 100 ? "\n" : "");
    }
    void showIdentification(const std::string& name, const std::string& version) override {
        std::printf("Тип прибора: %s\nВерсия ПО: %s\n", name.c_str(), version.c_str());
        std::fflush(stdout);
    }
    void showRecordCount(unsigned count) override {
        std::printf("Количество записей: %u\n", count);
        std::fflush(stdout);
    }
    void showError(const std::string& caption, const std::string& text) override {
        std::fprintf(stderr, "\n%s: %s\n", caption.c_str(), text.c_str());
    }
    void finish(int result) override {
        m_result = result;
        QCoreApplication::exit(0);
    }

    int m_result = 2;
};

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
    std::cerr << "Использование: ulen3-cli download [--port УСТРОЙСТВО] --image ОБРАЗ.bin\n";
    return 2;
}

} // namespace

int cli_download(const std::vector<std::string>& args) {
    std::string port, image;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--port" && i + 1 < args.size())
            port = args[++i];
        else if (args[i] == "--image" && i + 1 < args.size())
            image = args[++i];
        else
            return usage();
    }
    if (image.empty())
        return usage();

    int argc = 1;
    char name[] = "ulen3-cli";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    auto results = std::make_unique<DownloadResults>();
    CliDownload link(*results);
    if (!port.empty())
        link.setPortOverride(QString::fromStdString(port));
    link.startDownload();
    if (link.exchange().active())
        app.exec();
    if (link.result() != 1)
        return 1;
    std::printf("Серийный номер: %u\nКод прибора: 0x%02X\nПринято байт: %zu\n", results->dev_serial,
                results->dev_code, results->image_size);
    if (!write_image(image, *results)) {
        std::cerr << "ulen3-cli: не удалось записать образ памяти в " << image << "\n";
        return 1;
    }
    return 0;
}

} // namespace ulen3
