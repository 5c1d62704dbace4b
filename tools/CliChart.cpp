#include "CliChart.h"

#include "CliDecode.h"
#include "CliOptions.h"
#include "chart/ChartPicture.h"
#include "chart/PageSeries.h"
#include "table/ObservationTable.h"
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

int chart_usage() {
    std::cerr << "Использование: ulen3-cli chart ТАБЛИЦА.db ГРАФИК.png|.svg|.pdf [--page observation|operative]\n"
                 "                 [--x order|time] [--width ПИКСЕЛИ --height ПИКСЕЛИ]\n";
    return 2;
}

} // namespace

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
