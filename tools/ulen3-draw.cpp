// ulen3-draw: the command line's commands that draw, "print" and "chart", started by ulen3-cli
// in its own place. The libraries that draw (Qt's widgets, charts and painting) take longer to
// load than most other commands take to run, so ulen3-cli itself does without them.

#include "CliChart.h"
#include "CliDecode.h"
#include "CliOptions.h"
#include "print/ReportEngine.h"
#include "print/Reports.h"
#include "table/ObservationTable.h"
#include "table/Pages.h"
#include "table/TablePaths.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace ulen3;

namespace {

// The page's report as "Предварительный просмотр" shows it, written to a PDF file; the page in
// the order of a sort by a field when asked.
int printReport(const std::string& path, const std::string& out, const std::string& page, const std::string& sortField,
                bool descending) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int argc = 1;
    char name[] = "ulen3-cli";
    char* argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    const std::string refused = output_refusal(out, path, "Отчёт не записан");
    if (!refused.empty())
        throw std::runtime_error(refused);
    ObservationTable table;
    open_for_reading(table, path, sortField, descending);
    const PageKind kind = named_page(table, page);
    const PreparedReport report =
        prepare_report(report_template(kind), table.Records(), QString(QChar::fromLatin1(user_decimal_separator())));
    write_pdf(report, QString::fromStdString(out), QFileInfo(QString::fromStdString(path)).completeBaseName());
    table.Close();
    std::printf("Отчёт записан в %s: листов %d\n", out.c_str(), report.sheetCount());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return run_command_line(argc, argv, [](char**, const std::vector<std::string>& args) {
        const std::string& command = args[0];
        Options o;
        if (command == "chart")
            return cli_chart(args);
        if (command == "print" && args.size() >= 3)
            return read_options(args, 3, {"--page", "--sort", "--desc"}, o)
                       ? printReport(args[1], args[2], o.page, o.sortField, o.descending)
                       : usage();
        return kNoSuchCommand;
    });
}
