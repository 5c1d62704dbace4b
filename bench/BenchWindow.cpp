#include "BenchWindow.h"

#include "BenchArguments.h"
#include "chart/ChartView.h"
#include "chart/SeriesChart.h"
#include "dialogs/UserDialogs.h"
#include "link/receive.h"
#include "print/ReportEngine.h"
#include "print/ReportPreview.h"
#include "print/Reports.h"
#include "settings/Settings.h"
#include "ui/ChartWindow.h"
#include "ui/main.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QTableView>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/resource.h>

namespace ulen3 {

namespace {

// Every question answered Yes, nothing else asked.
class YesDialogs : public UserDialogs {
public:
    QString openFile(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString saveFile(QWidget*, const QString&, const QString&, const QString&, bool) override { return {}; }
    bool ask(QWidget*, const QString&, const QString&, bool) override { return true; }
    void message(QWidget*, BoxIcon, const QString&, const QString& text, const QString&) override {
        std::fprintf(stderr, "    box: %s\n", text.toUtf8().constData());
    }
    bool offer(QWidget*, BoxIcon, const QString&, const QString&, const QString&, const QString&) override {
        return false;
    }
    std::optional<QColor> color(QWidget*, const QColor&) override { return std::nullopt; }
    bool print(QWidget*, QPrinter&, int) override { return false; }
};

double ms_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

double peak_mib() {
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

} // namespace

int bench_window(const std::string& tablePath, const std::string& configDir) {
    setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
    BenchArguments args(true);
    QApplication app(args.argc, args.argv);
    YesDialogs dialogs;
    SettingsStore& settings = user_settings();
    auto results = std::make_unique<DownloadResults>();
    TForm2 download(*results);
    TForm1 form(dialogs, settings, download, *results);
    form.setWindowState(Qt::WindowNoState);
    form.resize(1000, 700);
    form.show();

    std::fprintf(stderr, "    the window shown: peak %.0f MiB\n", peak_mib());
    auto t = std::chrono::steady_clock::now();
    if (!form.Open_DB(QString::fromStdString(tablePath)))
        return 1;
    form.grab();
    std::fprintf(stderr, "    open with the page shown and painted: %.0f ms (peak %.0f MiB)\n", ms_since(t),
                 peak_mib());
    TDBGridPro* grid = form.grid(PageKind::Observation);
    for (const char* field : {"P", "COMMENT"}) {
        t = std::chrono::steady_clock::now();
        grid->TitleClick(grid->Columns().ByFieldName(field), false);
        grid->grab();
        std::fprintf(stderr, "    title click on %s to the grid painted in the new order: %.0f ms (peak %.0f MiB)\n",
                     field, ms_since(t), peak_mib());
    }
    std::fprintf(stderr, "    peak memory with the table open and sorted by COMMENT: %.0f MiB\n", peak_mib());

    t = std::chrono::steady_clock::now();
    const PageStatistics alone = page_statistics(form.table().Records());
    std::fprintf(stderr, "    page statistics alone: %.1f ms (P mean %g)\n", ms_since(t), alone.p.mean);
    t = std::chrono::steady_clock::now();
    form.recompute_footers();
    std::fprintf(stderr, "    find_mma and the footers: %.1f ms\n", ms_since(t));
    // Cell edits as the user posts them: each writes its record and recomputes the footers.
    QAbstractItemModel* model = grid->view()->model();
    const int rColumn = grid->Columns().ByFieldName("R");
    t = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i)
        model->setData(model->index(i * 97, rColumn), QString::number(1000 + i));
    std::fprintf(stderr, "    a posted cell edit with the footers recomputed: %.1f ms each (of 20)\n",
                 ms_since(t) / 20);
    // A shift-click marks a run of rows.
    std::vector<int> rows(10000);
    for (int i = 0; i < 10000; ++i)
        rows[static_cast<size_t>(i)] = i;
    grid->SelectRows(rows);
    t = std::chrono::steady_clock::now();
    form.DBGridPro1SelectionChange(grid);
    std::fprintf(stderr, "    footers of a %d-row selection: %.2f ms\n", grid->SelectionCount(), ms_since(t));

    grid->SelectRows({10, 20, 30});
    t = std::chrono::steady_clock::now();
    form.N21Click();
    grid->grab();
    std::fprintf(stderr, "    delete of 3 marked rows (pack, reopen, footers): %.0f ms\n", ms_since(t));
    t = std::chrono::steady_clock::now();
    form.N37Click();
    grid->grab();
    std::fprintf(stderr, "    renumber of the whole page (%d records): %.0f ms\n", form.table().VisibleCount(),
                 ms_since(t));
    form.N7Click();
    return 0;
}

int bench_chart(const std::string& tablePath, const std::string& configDir) {
    setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
    BenchArguments args(true);
    QApplication app(args.argc, args.argv);
    YesDialogs dialogs;
    auto results = std::make_unique<DownloadResults>();
    TForm2 download(*results);
    TForm1 form(dialogs, user_settings(), download, *results);
    form.setWindowState(Qt::WindowNoState);
    form.resize(1000, 700);
    form.show();
    if (!form.Open_DB(QString::fromStdString(tablePath)))
        return 1;
    form.grab();
    const double before = peak_mib();
    auto t = std::chrono::steady_clock::now();
    form.showChart();
    ChartWindow* window = form.chartWindow();
    window->resize(1000, 700);
    QApplication::processEvents(); // the chart lays out its plot in the event loop
    window->grab();
    const double opened = ms_since(t);
    SeriesChart& chart = window->chart();
    std::fprintf(stderr, "    «График» of %d records opened and painted: %.0f ms [500 ms], %d points drawn\n",
                 chart.pageSeries().count(), opened, chart.pointsDrawn());
    const QRectF plot = chart.plotArea();
    t = std::chrono::steady_clock::now();
    chart.zoomIn(QRectF(plot.left() + plot.width() * 0.3, plot.top(), plot.width() * 0.2, plot.height()));
    window->chartView()->grab();
    std::fprintf(stderr, "    a rubber-band zoom to a fifth repainted: %.1f ms [100 ms]\n", ms_since(t));
    t = std::chrono::steady_clock::now();
    chart.resetZoom();
    window->chartView()->grab();
    std::fprintf(stderr, "    the zoom reset and repainted: %.1f ms\n", ms_since(t));
    std::fprintf(stderr, "    memory the chart window adds to the window with the table: %.0f MiB [150 MiB]\n",
                 peak_mib() - before);
    form.N7Click();
    return 0;
}

} // namespace ulen3

namespace ulen3 {

namespace {

// The observation report of a table's observation page, and how long preparing it took.
PreparedReport observation_report(ObservationTable& table, const std::string& tablePath, double& ms) {
    table.OpenReadOnly(tablePath);
    table.SetFilter("NB_TYPE=0");
    const auto t = std::chrono::steady_clock::now();
    PreparedReport report = prepare_report(report_template(PageKind::Observation), table.Records(), ",");
    ms = ms_since(t);
    return report;
}

} // namespace

int bench_print(const std::string& tablePath, const std::string& pdfPath) {
    BenchArguments args(true);
    QGuiApplication app(args.argc, args.argv);
    ObservationTable table;
    double prepared = 0;
    const PreparedReport report = observation_report(table, tablePath, prepared);
    auto t = std::chrono::steady_clock::now();
    write_pdf(report, QString::fromStdString(pdfPath), "bench");
    std::fprintf(stderr, "    %d records: prepared in %.0f ms, %d sheets written as PDF in %.0f ms\n",
                 table.VisibleCount(), prepared, report.sheetCount(), ms_since(t));
    return 0;
}

int bench_preview(const std::string& tablePath) {
    BenchArguments args(true);
    QApplication app(args.argc, args.argv);
    ObservationTable table;
    double prepared = 0;
    const auto t = std::chrono::steady_clock::now();
    const PreparedReport report = observation_report(table, tablePath, prepared);
    ReportPreview preview(report, {});
    preview.show();
    preview.grab();
    std::fprintf(
        stderr, "    %d records: prepared in %.0f ms, the first of %d sheets on screen after %.0f ms (peak %.0f MiB)\n",
        table.VisibleCount(), prepared, report.sheetCount(), ms_since(t), peak_mib());
    return 0;
}

} // namespace ulen3
