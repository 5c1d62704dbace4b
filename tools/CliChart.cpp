#include "CliChart.h"

#include "CliDecode.h"
#include "chart/ChartPicture.h"
#include "chart/PageSeries.h"
#include "table/ObservationTable.h"
#include "table/PageStatistics.h"
#include "table/Pages.h"
#include "table/TablePaths.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

namespace ulen3 {

namespace {

int stats_usage() {
    std::cerr << "Использование: ulen3-cli stats ТАБЛИЦА.db [--json] [--page observation|operative]\n";
    return 2;
}

int chart_usage() {
    std::cerr << "Использование: ulen3-cli chart ТАБЛИЦА.db ГРАФИК.png|.svg|.pdf [--page observation|operative]\n"
                 "                 [--x order|time] [--width ПИКСЕЛИ --height ПИКСЕЛИ]\n";
    return 2;
}

bool known_page(const std::string& page) { return page.empty() || page == "observation" || page == "operative"; }

std::string figures_json(const SeriesFigures& f) {
    return "{\"min\":" + json_number(f.min) + ",\"max\":" + json_number(f.max) + ",\"mean\":" + json_number(f.mean) +
           ",\"median\":" + json_number(f.median) + ",\"stdev\":" + json_number(f.stdev) +
           ",\"cv\":" + json_number(f.cv) + ",\"range\":" + json_number(f.range) +
           ",\"empty\":" + std::to_string(f.empty) + "}";
}

} // namespace

int cli_stats(const std::vector<std::string>& args) {
    std::string page;
    bool json = false;
    for (size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--json")
            json = true;
        else if (args[i] == "--page" && i + 1 < args.size())
            page = args[++i];
        else
            return stats_usage();
    }
    if (!known_page(page))
        return stats_usage();
    ObservationTable table;
    table.OpenReadOnly(args[1]); // a reader writes nothing
    const PageKind kind = named_page(table, page);
    if (json) {
        const PageSeries s = page_series(table.Records(), {}, false);
        const std::string out = std::string("{\"page\":\"") + page_name(kind) +
                                "\",\"count\":" + std::to_string(s.count()) + ",\"P\":" + figures_json(s.figuresP()) +
                                ",\"R\":" + figures_json(s.figuresR()) + "}\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
    } else {
        // The footer texts the window shows for the page, with the user's decimal separator.
        const PageStatistics s = page_statistics(table.Records());
        const std::string sep(1, user_decimal_separator());
        std::printf("P: %s\nR: %s\nN: %d\n", figures_text(s.p, sep).c_str(), figures_text(s.r, sep).c_str(),
                    table.VisibleCount());
    }
    table.Close();
    return 0;
}

int cli_chart(const std::vector<std::string>& args) {
    if (args.size() < 3)
        return chart_usage();
    const std::string& path = args[1];
    const std::string& out = args[2];
    std::string page;
    XAxis axis = XAxis::Order;
    PictureRequest request;
    for (size_t i = 3; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return chart_usage();
        const std::string& option = args[i];
        const std::string& value = args[++i];
        if (option == "--page")
            page = value;
        else if (option == "--x" && (value == "order" || value == "time"))
            axis = value == "time" ? XAxis::Time : XAxis::Order;
        else if (option == "--width")
            request.size.setWidth(static_cast<int>(number_option(option, value, 100, 10000)));
        else if (option == "--height")
            request.size.setHeight(static_cast<int>(number_option(option, value, 100, 10000)));
        else
            return chart_usage();
    }
    if (!known_page(page))
        return chart_usage();
    const std::string refused = output_refusal(out, path, "График не записан");
    if (!refused.empty())
        throw std::runtime_error(refused);
    const std::optional<PictureFormat> format = picture_format(QString::fromStdString(out));
    if (!format)
        throw std::runtime_error("формат файла " + out + " не известен: нужен .png, .svg или .pdf; график не записан");
    request.format = *format;
    // Qt Charts draws through the widgets' scene: an application without a display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int argc = 1;
    char name[] = "ulen3-cli";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ObservationTable table;
    table.OpenReadOnly(path);
    const PageKind kind = named_page(table, page);
    ChartTexts texts{QString::fromUtf8(kTitleP), QString::fromUtf8(kTitleR),
                     QString::fromUtf8(page_definition(kind).caption),
                     QFileInfo(QString::fromStdString(path)).fileName()};
    SeriesChart chart;
    chart.setSeries(page_series(table.Records()), axis, texts, QChar::fromLatin1(user_decimal_separator()));
    table.Close();
    write_picture(QString::fromStdString(out), chart_picture(chart, request));
    std::printf("График записан в %s: записей %d\n", out.c_str(), chart.pageSeries().count());
    if (!chart.note().isEmpty())
        std::printf("%s\n", chart.note().toUtf8().constData());
    return 0;
}

} // namespace ulen3
