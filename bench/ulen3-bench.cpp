// ulen3-bench: runs each workload in a process of its own and prints its
// wall time, records per second and peak memory. Figures, not pass/fail.

#include "BenchDownload.h"
#include "BenchRecords.h"
#include "BenchWindow.h"
#include "SampleImage.h"
#include "decode/ImageDecoder.h"
#include "export/SheetExport.h"
#include "table/ObservationTable.h"
#include "table/Pages.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace ulen3;

namespace {

std::string g_dir;

std::string tablePath(const char* name) { return g_dir + "/" + name; }

// The workloads, each run in a fresh process.
int runWorkload(const std::string& name) {
    if (name == "append-2978" || name == "append-200000") {
        const int count = name == "append-2978" ? 2978 : 200000;
        const std::string path = tablePath(count == 2978 ? "small.db" : "large.db");
        ObservationTable table;
        table.CreateEmpty(path);
        table.Open(path);
        append_bench_records(table, count);
        table.Close();
        return 0;
    }
    if (name == "scan-200000") {
        ObservationTable table;
        table.Open(tablePath("large.db"));
        const int visible = table.VisibleCount();
        double sumP = 0, sumR = 0;
        for (table.First(); !table.Eof(); table.Next()) {
            sumP += table.Number(Field::P);
            sumR += table.Number(Field::R);
        }
        table.Close();
        std::fprintf(stderr, "    (%d visible, mean P %.3f, mean R %.3f)\n", visible, sumP / visible, sumR / visible);
        return 0;
    }
    if (name == "sort-COMMENT" || name == "sort-P") {
        const std::string field = name.substr(5);
        ObservationTable table;
        table.Open(tablePath("large.db"));
        table.AddTag("tab1", field, false);
        table.RebuildTags();
        table.SetIndexName("tab1");
        size_t bytes = 0;
        for (table.First(); !table.Eof(); table.Next())
            bytes += field == "P" ? 8 : table.Text(Field::COMMENT).size();
        table.DropTag("tab1");
        table.Close();
        return bytes > 0 ? 0 : 1;
    }
    if (name == "post-2tags" || name == "post-2tags-small") {
        ObservationTable table;
        table.Open(tablePath(name == "post-2tags" ? "large.db" : "small.db"));
        table.AddTag("tab1", "P", false);
        table.AddTag("tab2", "COMMENT", false);
        const int posts = 2000;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < posts; ++i) {
            table.Append();
            table.SetNumber(Field::N, i + 1);
            table.SetNumber(Field::P, (i * 7919) % 100000 / 100.0);
            table.SetText(Field::COMMENT, i % 2 ? "Плита" : "ёлка");
            table.Post();
        }
        const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "    one post with two tags on %u records: %.1f us\n", table.FileRecordCount(),
                     us / posts);
        table.DropTag("tab1");
        table.DropTag("tab2");
        table.Close();
        return 0;
    }
    if (name == "decode-2978" || name == "decode-append-100") {
        const bool append = name == "decode-append-100";
        // Appended: the instrument that wrote the whole table, with 100 records newer than all.
        const auto image =
            sample_image({.count1 = append ? 70u : 2000u, .count2 = append ? 30u : 978u, .startYear = 2025});
        ObservationTable table;
        const std::string path = tablePath(append ? "large.db" : "decoded.db");
        if (!append)
            table.CreateEmpty(path);
        table.Open(path);
        flash2ulen3(table, {image.data(), image.size(), 7, 4321}, append, ',');
        if (append && table.FileRecordCount() != 202100)
            return 1;
        table.Close();
        return 0;
    }
    if (name == "export-table") {
        // The most records a sheet holds, with the texts a download gives and comments.
        ObservationTable table;
        table.CreateEmpty(tablePath("export.db"));
        table.Open(tablePath("export.db"));
        append_bench_records(table, 65535);
        table.Close();
        return 0;
    }
    if (name == "export-65535") {
        ObservationTable table;
        table.Open(tablePath("export.db"));
        show_page_in_file_order(table, PageKind::Observation);
        exp2excel(table.Records(), tablePath("export.xls"));
        table.Close();
        return 0;
    }
    if (name == "grid-200000")
        return bench_grid(tablePath("large.db"));
    if (name == "print-2978")
        return bench_print(tablePath("decoded.db"), tablePath("report.pdf"));
    if (name == "preview-65535")
        return bench_preview(tablePath("export.db"));
    if (name == "window-200000") {
        // A copy: the window deletes and renumbers. It is on the disk before the window opens it:
        // the first title click syncs the new index file, and the file system would otherwise
        // write the 58 MB of the fresh copy out with it and bill them to the click.
        const std::string copy = tablePath("window.db");
        if (std::system(("cp " + tablePath("large.db") + " " + copy + " && sync " + copy).c_str()) != 0)
            return 1;
        return bench_window(tablePath("window.db"), tablePath("config"));
    }
    if (name == "chart-200000")
        return bench_chart(tablePath("large.db"), tablePath("config"));
    if (name == "stats-json-200000") {
        // The command as a script runs it: this process becomes ulen3-cli.
        const std::string table = tablePath("large.db");
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1); // the figures are the time, not the text
        execl(ULEN3_CLI, ULEN3_CLI, "stats", table.c_str(), "--json", static_cast<char*>(nullptr));
        return 127;
    }
    if (name == "xlsx-200000" || name == "csv-200000" || name == "xlsx-65535") {
        // The command as a script runs it: this process becomes ulen3-cli.
        const bool large = name != "xlsx-65535";
        const std::string table = tablePath(large ? "large.db" : "export.db");
        const std::string out = tablePath(name.substr(0, name.find('-')) == "csv" ? "all.csv" : "all.xlsx");
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 1);
        execl(ULEN3_CLI, ULEN3_CLI, "export", table.c_str(), out.c_str(), "--page", "observation",
              static_cast<char*>(nullptr));
        return 127;
    }
    if (name == "libreoffice-xlsx-200000") {
        // LibreOffice's own conversion of the same dBase file, told its code page.
        const std::string command = "cd " + g_dir + " && HOME=" + g_dir +
                                    " soffice --headless --infilter=dBase:34 --convert-to xlsx --outdir lo large.db"
                                    " >/dev/null 2>&1 && test -s lo/large.xlsx";
        return std::system(command.c_str()) == 0 ? 0 : 1;
    }
    if (name == "exchange-feed")
        return bench_exchange_feed();
    if (name == "download-full")
        return bench_download(g_dir);
    std::fprintf(stderr, "unknown workload %s\n", name.c_str());
    return 2;
}

void measure(const char* self, const std::string& name, const char* what, int records) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--workload", name.c_str(), g_dir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("%-52s failed\n", what);
        return;
    }
    std::printf("%-52s %8.3f s %12.0f records/s %8.1f MiB peak\n", what, seconds, records / seconds,
                usage.ru_maxrss / 1024.0);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--workload") == 0) {
        g_dir = argv[3];
        try {
            return runWorkload(argv[2]);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }
    char dirTemplate[] = "/tmp/ulen3-bench-XXXXXX";
    g_dir = mkdtemp(dirTemplate);
    const char* self = "/proc/self/exe";
    std::string exe(4096, '\0');
    const ssize_t n = readlink(self, exe.data(), exe.size() - 1);
    exe.resize(n > 0 ? static_cast<size_t>(n) : 0);

    std::printf("ULEN3 benchmarks (whole process each; aims in brackets)\n");
    measure(exe.c_str(), "append-2978", "table: append+post 2,978 records [20 ms]", 2978);
    measure(exe.c_str(), "append-200000", "table: append+post 200,000 records [0.5 s]", 200000);
    measure(exe.c_str(), "scan-200000", "table: open+count+pass P,R 200,000 [0.15 s]", 200000);
    measure(exe.c_str(), "sort-COMMENT", "tags: AddTag+Rebuild+view 200,000 by COMMENT [0.35 s]", 200000);
    measure(exe.c_str(), "sort-P", "tags: AddTag+Rebuild+view 200,000 by P [0.15 s]", 200000);
    measure(exe.c_str(), "post-2tags-small", "tags: 2,000 posts with two tags on 2,978", 2000);
    measure(exe.c_str(), "post-2tags", "tags: 2,000 posts with two tags on 200,000", 2000);
    measure(exe.c_str(), "grid-200000", "grid: 202,000 records, paint, last, 1,000 moves", 202000);
    measure(exe.c_str(), "window-200000", "window: 202,000 records, sorts, footers, delete, renumber", 202000);
    measure(exe.c_str(), "chart-200000", "chart: window with «График» of 200,000 records", 200000);
    measure(exe.c_str(), "stats-json-200000", "chart: ulen3-cli stats --json of 200,000 [0.15 s]", 200000);
    measure(exe.c_str(), "decode-2978", "decode: 2,978-record image into a new table [20 ms]", 2978);
    measure(exe.c_str(), "decode-append-100", "decode: append 100 records onto 202,000", 100);
    measure(exe.c_str(), "print-2978", "print: 2,978 records to PDF as ulen3-cli print [0.6 s]", 2978);
    measure(exe.c_str(), "export-table", "export: prepare a table of 65,535 records", 65535);
    measure(exe.c_str(), "export-65535", "export: table of 65,535 records to .xls [0.5 s, 150 MiB]", 65535);
    measure(exe.c_str(), "preview-65535", "print: preview of 65,535 records [1 s, 200 MiB]", 65535);
    measure(exe.c_str(), "xlsx-200000", "export: ulen3-cli of 200,000 to .xlsx [1.5 s, 120 MiB]", 200000);
    measure(exe.c_str(), "csv-200000", "export: ulen3-cli of 200,000 to CSV [0.3 s]", 200000);
    measure(exe.c_str(), "xlsx-65535", "export: ulen3-cli of 65,535 to .xlsx [0.5 s]", 65535);
    if (std::system("soffice --version >/dev/null 2>&1 && test -d /usr/lib/libreoffice/program && "
                    "ls /usr/lib/libreoffice/program/ | grep -q '^libdbaselo'") == 0)
        measure(exe.c_str(), "libreoffice-xlsx-200000", "export: LibreOffice's own 200,000 to .xlsx, side by side",
                200000);
    else
        std::printf("%-52s not measured: soffice with libreoffice-base-drivers is not installed\n",
                    "export: LibreOffice's own 200,000 to .xlsx");
    measure(exe.c_str(), "exchange-feed", "link: exchange fed 20 full dumps in 44-char chunks", 20 * 2978);
    measure(exe.c_str(), "download-full", "link: unpaced download of 2,978 records over a pty", 2978);
    std::system(("rm -rf " + g_dir).c_str());
    return 0;
}
