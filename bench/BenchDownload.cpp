#include "BenchDownload.h"

#include "BenchArguments.h"
#include "SampleImage.h"
#include "link/ConsoleDownload.h"
#include "support/QuietExchangeHost.h"
#include "ui/grid/DBGridPro.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPixmap>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace ulen3 {

namespace {

constexpr double kCharsPerSecond = 9600.0 / 11.0; // 8N2: 11 bit times per character

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

const unsigned kVersion[3] = {15, 3, 7};

} // namespace

int bench_exchange_feed() {
    const auto image = sample_image({.count1 = 2000, .count2 = 978});
    const std::string reply = identification_reply(0x21, 1234, kVersion);
    const std::string dump = dump_reply(image);
    test::QuietExchangeHost host;
    auto results = std::make_unique<DownloadResults>();
    Exchange exchange(host, *results);
    const int rounds = 20;
    const double cpu0 = cpu_seconds();
    for (int r = 0; r < rounds; ++r) {
        exchange.start();
        exchange.received(reply.data(), reply.size());
        for (std::size_t i = 0; i < dump.size(); i += 44)
            exchange.received(dump.data() + i, std::min<std::size_t>(44, dump.size() - i));
        if (host.result != 1 || results->image_size != image.size())
            return 1;
    }
    const double chars = double(rounds) * (reply.size() + dump.size());
    std::fprintf(stderr, "    exchange CPU per received character: %.1f ns\n", (cpu_seconds() - cpu0) / chars * 1e9);
    return 0;
}

int bench_grid(const std::string& tablePath) {
    BenchArguments args(true);
    QApplication app(args.argc, args.argv);
    const auto t0 = std::chrono::steady_clock::now();
    ObservationTable table;
    table.Open(tablePath);
    TDBGridPro grid;
    std::vector<TgpColumn> columns;
    for (const char* f : {"SERIAL", "N", "DATE", "TIME", "P", "R", "H", "T", "COMMENT"}) {
        TgpColumn c;
        c.FieldName = f;
        c.Caption = f;
        c.DisplayFormat = std::string(f) == "P" ? "0.0" : "";
        columns.push_back(c);
    }
    grid.SetColumns(columns);
    grid.SetBookmarkFields("P;R");
    grid.SetDataSource(&table);
    grid.resize(900, 600);
    table.First();
    const QPixmap first = grid.grab();
    const auto t1 = std::chrono::steady_clock::now();
    table.Last();
    const QPixmap last = grid.grab();
    table.First();
    const auto t2 = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000; ++i)
        table.Next();
    const auto t3 = std::chrono::steady_clock::now();
    grid.SetDataSource(nullptr);
    std::fprintf(stderr,
                 "    open + first paint: %.3f s; to the last record and paint: %.1f ms; a cursor move "
                 "followed by the grid: %.1f us\n",
                 std::chrono::duration<double>(t1 - t0).count(),
                 std::chrono::duration<double, std::milli>(t2 - t1).count(),
                 std::chrono::duration<double, std::micro>(t3 - t2).count() / 1000);
    return first.isNull() || last.isNull() ? 1 : 0;
}

int bench_download(const std::string& dir) {
    const auto image = sample_image({.count1 = 2000, .count2 = 978});
    const std::string imagePath = dir + "/full.bin";
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    const std::string link = dir + "/emu-tty";
    std::string emu = ULEN3_EMU, serve = "serve", linkOpt = "--link", quiet = "/dev/null";
    char* argv[] = {
        emu.data(), serve.data(), const_cast<char*>(imagePath.c_str()), linkOpt.data(), const_cast<char*>(link.c_str()),
        nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, quiet.c_str(), O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, emu.c_str(), &actions, nullptr, argv, environ) != 0)
        return 1;
    struct stat st {};
    for (int i = 0; i < 500 && lstat(link.c_str(), &st) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    BenchArguments args(false);
    QCoreApplication app(args.argc, args.argv);
    auto results = std::make_unique<DownloadResults>();
    ConsoleDownload download(*results, false);
    download.setPortOverride(QString::fromStdString(link));
    const double cpu0 = cpu_seconds();
    const auto t0 = std::chrono::steady_clock::now();
    const int result = download.run();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpu_seconds() - cpu0;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (result != 1 || results->image_size != image.size())
        return 1;
    const double chars = identification_reply(0x21, 1234, kVersion).size() + 2.0 * image.size() + 3;
    std::fprintf(stderr,
                 "    %.0f characters: wall %.2f s (polling every 50 ms, 4,096 per tick), host CPU "
                 "%.3f s = %.0f ns per character\n"
                 "    the same download on the line at 9600 bit/s 8N2 takes %.1f s; the host's CPU "
                 "is %.3f%% of it\n",
                 chars, wall, cpu, cpu / chars * 1e9, chars / kCharsPerSecond, 100.0 * cpu / (chars / kCharsPerSecond));
    return 0;
}

} // namespace ulen3
