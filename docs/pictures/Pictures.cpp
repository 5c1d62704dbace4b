// The pictures of the documentation, drawn off screen from the program's own windows and
// reports: `make docs` writes them into docs/ (ULEN3_PICTURES names another folder).

#include "SampleImage.h"
#include "app/about.h"
#include "print/ReportEngine.h"
#include "print/Reports.h"
#include "support/Emulator.h"
#include "support/UserKey.h"
#include "support/WindowFixture.h"
#include "ui/ChartWindow.h"

#include <QTest>
#include <QTimer>

#include <cstdio>

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

QString folder() { return qEnvironmentVariable("ULEN3_PICTURES", QStringLiteral(ULEN3_DOCS_DIR)); }

class WindowPictures : public WindowFixture {};

// The window at start, during a download, with a table, sorted and coloured, and the other page.
TEST_F(WindowPictures, TheWindowAsTheUserMeetsIt) {
    const QString out = folder();
    form->setWindowState(Qt::WindowNoState);
    form->resize(900, 560);
    form->show();
    form->grab().save(out + "/start.png");

    const std::string image = dir.file("image.bin");
    write_file(image, sample_image({.count1 = 300, .count2 = 80}));
    Emulator emu(image, {"--pace", "--chunk", "40"});
    test::set_settings_value("COM1", emu.qdevice());
    QTimer::singleShot(4000, download.get(), [this, out] { download->grab().save(out + "/download.png"); });
    dialogs.files = {QString::fromStdString(dir.file("survey.db"))};
    form->N2Click();
    ASSERT_TRUE(form->document().isOpen());
    form->grab().save(out + "/observations.png");

    // «График» of the page over the record order.
    form->showChart();
    ChartWindow* chart = form->chartWindow();
    ASSERT_NE(chart, nullptr);
    chart->resize(900, 640);
    QTest::qWait(200); // the chart lays out its plot in the event loop
    chart->grab().save(out + "/chart-observation.png");
    chart->hide();

    // Sorted by P, largest first, with "Время" coloured and three rows marked.
    TDBGridPro* grid = form->grid(PageKind::Observation);
    grid->TitleClick(grid->Columns().ByFieldName("P"), false);
    grid->view()->setCurrentIndex(grid->view()->model()->index(0, grid->Columns().ByFieldName("TIME")));
    dialogs.colours = {QColor(255, 255, 160)};
    form->N17Click();
    grid->SelectRows({1, 2, 3});
    form->grab().save(out + "/sorted.png");
    form->N33Click();

    ObservationTable t;
    const std::string mixed = dir.file("operative.db");
    t.CreateEmpty(mixed);
    t.Open(mixed);
    for (int i = 0; i < 300; ++i) {
        t.Append();
        t.SetNumber(Field::N, i + 1);
        t.SetText(Field::DATE, "09.12.2026");
        char time[16];
        std::snprintf(time, sizeof time, "%02d:%02d:00", 8 + i / 60, i % 60); // a record a minute
        t.SetText(Field::TIME, time);
        t.SetNumber(Field::SERIAL, 1234);
        t.SetInteger(Field::NB_TYPE, 1);
        t.SetNumber(Field::P, 10 + 0.37 * i);
        t.SetNumber(Field::R, 20 - 0.05 * i);
        t.SetNumber(Field::H, 0.125 * i);
        t.SetText(Field::COMMENT, i % 7 ? "" : "Контрольная точка");
        t.Post();
    }
    t.Close();
    ASSERT_TRUE(form->Open_DB(QString::fromStdString(mixed)));
    form->grab().save(out + "/operative.png");

    // The operative page over date and time.
    form->showChart();
    chart->setXAxis(XAxis::Time);
    QTest::qWait(200);
    chart->grab().save(out + "/chart-operative.png");
}

class ReportPictures : public TableFixture {
protected:
    void SetUp() override { table.Open(createTable()); }
    std::string pdf(PageKind page, const std::string& name) {
        table.SetFilter(page_definition(page).filter);
        const PreparedReport prepared = prepare_report(report_template(page), table.Records(), ",");
        const std::string path = dir.file(name);
        write_pdf(prepared, QString::fromStdString(path), "survey");
        return path;
    }
};

// The first sheet of each report.
TEST_F(ReportPictures, TheFirstSheetOfEachReport) {
    const std::string out = folder().toStdString();
    for (int i = 0; i < 40; ++i)
        addReportRecord(i + 1, 10 + 0.37 * i, 20 - 0.05 * i, 0.125 * i, "", i % 7 ? "" : "Контрольная точка", i % 2);
    for (PageKind page : {PageKind::Observation, PageKind::Operative}) {
        const char* name = page == PageKind::Observation ? "report-observation" : "report-operative";
        const std::string pdfPath = pdf(page, std::string(name) + ".pdf");
        run_command("pdftoppm -r 70 -png -singlefile -f 1 -l 1 '" + pdfPath + "' '" + out + "/" + name + "'");
    }
}

TEST(AboutPicture, TheAboutBox) {
    Tform6 about(QStringLiteral(ULEN3_PROGRAM));
    about.show();
    about.grab().save(folder() + "/about.png");
}

} // namespace
