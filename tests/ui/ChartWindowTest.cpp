// The window «График» as the user meets it: Ctrl+G on a real main window, marks and sorts it
// follows, a click on a point that selects the record in the grid, the zoom, the time axis, and
// the pictures it saves.

#include "ui/ChartWindow.h"
#include "chart/ChartView.h"
#include "chart/SeriesChart.h"
#include "chart/StatisticsPanel.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QImage>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

struct Row {
    double n, p, r;
    const char* date;
};

class ChartWindowTest : public WindowFixture {
protected:
    void open(const std::vector<Row>& rows) {
        ObservationTable t;
        const std::string path = dir.file("survey.db");
        t.CreateEmpty(path);
        t.Open(path);
        for (const Row& row : rows) {
            t.Append();
            t.SetNumber(Field::N, row.n);
            t.SetInteger(Field::NB_TYPE, 0);
            t.SetNumber(Field::P, row.p);
            t.SetNumber(Field::R, row.r);
            t.SetText(Field::DATE, row.date);
            t.SetText(Field::TIME, "10:00:00");
            t.Post();
        }
        t.Close();
        ASSERT_TRUE(form->Open_DB(QString::fromStdString(path)));
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QApplication::setActiveWindow(form.get());
    }
    // Ctrl+G on the main window, as the user presses it.
    ChartWindow* pressCtrlG() {
        QTest::keyClick(form.get(), Qt::Key_G, Qt::ControlModifier);
        ChartWindow* w = form->chartWindow();
        if (w) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(w));
        }
        return w;
    }
    static std::vector<double> charted(const ChartWindow& w) { return w.chart().pageSeries().n; }
    // Lets the chart follow what the grid and the table told it.
    static void settle() { QApplication::processEvents(); }
    TDBGridPro* grid() { return form->grid(PageKind::Observation); }
    // N of the grid's current record.
    double currentN() { return form->table().Number(Field::N); }
};

const std::vector<Row> kFive = {{3, 30, 3, "03.03.2024"},
                                {1, 10, 1, "01.03.2024"},
                                {5, 50, 5, "05.03.2024"},
                                {2, 20, 2, "31.02.2024"},
                                {4, 40, 4, "04.03.2024"}};

TEST_F(ChartWindowTest, CtrlGOpensTheChartOfThePageThatFollowsMarksAndSorts) {
    open(kFive);
    ChartWindow* w = pressCtrlG();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("График"));
    EXPECT_EQ(charted(*w), (std::vector<double>{3, 1, 5, 2, 4}));
    // Both series titled exactly as the grid's columns.
    const auto lines = w->chart().series();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0]->name(), QString::fromUtf8(kTitleP));
    EXPECT_EQ(lines[1]->name(), QString::fromUtf8(kTitleR));
    EXPECT_TRUE(w->note().isEmpty());

    // Two marks: only they, in the page's order, and the note says so.
    grid()->SelectRows({4, 0});
    settle();
    EXPECT_EQ(charted(*w), (std::vector<double>{3, 4}));
    EXPECT_EQ(w->note(), QStringLiteral("Показаны только отмеченные строки: 2."));
    grid()->SelectRows({});
    settle();
    EXPECT_EQ(charted(*w).size(), 5u);

    // A title click on P sorts the page largest first: the chart's order follows it.
    QHeaderView* header = grid()->view()->horizontalHeader();
    const int column = grid()->Columns().ByFieldName("P");
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    settle();
    EXPECT_EQ(charted(*w), (std::vector<double>{5, 4, 3, 2, 1}));

    // The figures follow too; "Копировать" puts them on the clipboard as text.
    w->statistics().findChild<QPushButton*>()->click();
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith(QStringLiteral("\t") + QString::fromUtf8(kTitleP))) << copied.toStdString();
    EXPECT_TRUE(copied.contains(QStringLiteral("Среднее\t30\t3\n"))) << copied.toStdString();

    // Closing the document closes the chart.
    form->Close_DB();
    EXPECT_FALSE(w->isVisible());
}

TEST_F(ChartWindowTest, AClickOnAPointSelectsThatRecordInTheGridAndHoverNamesIt) {
    open(kFive);
    ChartWindow* w = pressCtrlG();
    ASSERT_NE(w, nullptr);
    ChartView* view = w->chartView();
    SeriesChart& chart = w->chart();
    auto* p = static_cast<QLineSeries*>(chart.series()[0]);
    // The third point of P: N 5, P 50.
    const QPoint at = view->mapFromScene(chart.mapToScene(chart.mapToPosition(QPointF(3, 50), p)));
    QMouseEvent move(QEvent::MouseMove, QPointF(at), QPointF(view->viewport()->mapToGlobal(at)), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &move);
    EXPECT_TRUE(view->hoverText().startsWith(QStringLiteral("N 5, 05.03.2024 10:00:00")))
        << view->hoverText().toStdString();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(currentN(), 5);
    EXPECT_EQ(grid()->SelectionCount(), 1);
    EXPECT_EQ(grid()->SelectionRecord(0), form->table().RecordId());

    // With marks made, a click moves the current row and keeps the marks.
    grid()->SelectRows({0, 1, 3});
    settle();
    const QPoint second = view->mapFromScene(chart.mapToScene(chart.mapToPosition(QPointF(2, 10), p)));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(currentN(), 1);
    EXPECT_EQ(grid()->SelectionCount(), 3);
}

TEST_F(ChartWindowTest, TheTimeAxisLeavesOutAnUnreadableDateAndSaysHowMany) {
    open(kFive);
    ChartWindow* w = pressCtrlG();
    ASSERT_NE(w, nullptr);
    w->setXAxis(XAxis::Time);
    EXPECT_EQ(w->chart().curve(false).x.size(), 4u);
    EXPECT_EQ(w->note(), QStringLiteral("Записи без читаемых даты и времени не показаны: 1."));
    std::vector<double> byTime;
    for (int i : w->chart().curve(false).index)
        byTime.push_back(w->chart().pageSeries().n[i]);
    EXPECT_EQ(byTime, (std::vector<double>{1, 3, 4, 5}));
}

TEST_F(ChartWindowTest, RubberBandAndWheelZoomInAndResetShowsEverythingAgain) {
    std::vector<Row> rows;
    for (int i = 0; i < 20'000; ++i)
        rows.push_back({i + 1.0, (i * 37 % 1000) / 10.0, (i % 17) * 0.5, "01.03.2024"});
    open(rows);
    ChartWindow* w = pressCtrlG();
    ASSERT_NE(w, nullptr);
    ChartView* view = w->chartView();
    SeriesChart& chart = w->chart();
    const SeriesChart::Range whole = chart.range();
    // Downsampled to the plot's width: at most four points a pixel column for each curve.
    EXPECT_LE(chart.pointsDrawn(), 2 * (4 * static_cast<int>(chart.plotArea().width()) + 4));
    const QRectF plot = chart.plotArea();
    const QPoint from = view->mapFromScene(chart.mapToScene(plot.topLeft() + QPointF(plot.width() * 0.25, 5)));
    const QPoint to =
        view->mapFromScene(chart.mapToScene(plot.topLeft() + QPointF(plot.width() * 0.5, plot.height() - 5)));
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, from);
    QTest::mouseMove(view->viewport(), to);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, to);
    const SeriesChart::Range zoomed = chart.range();
    EXPECT_NEAR(zoomed.x0, whole.x0 + (whole.x1 - whole.x0) * 0.25, (whole.x1 - whole.x0) * 0.01);
    EXPECT_NEAR(zoomed.x1, whole.x0 + (whole.x1 - whole.x0) * 0.5, (whole.x1 - whole.x0) * 0.01);
    EXPECT_EQ(currentN(), 1); // a drag is no click
    // The wheel zooms further about the pointer.
    QWheelEvent wheel(QPointF(to), QPointF(view->mapToGlobal(to)), {}, QPoint(0, 120), Qt::NoButton, {},
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_LT(chart.range().x1 - chart.range().x0, (zoomed.x1 - zoomed.x0) * 0.9);
    w->resetZoom();
    EXPECT_EQ(chart.range().x0, whole.x0);
    EXPECT_EQ(chart.range().x1, whole.x1);
}

TEST_F(ChartWindowTest, SaveWritesThePictureTheDialogNamesAndTheHistogramFollowsItsBins) {
    open(kFive);
    ChartWindow* w = pressCtrlG();
    ASSERT_NE(w, nullptr);
    const QString png = QString::fromStdString(dir.file("chart.png"));
    dialogs.files = {png, QString::fromStdString(dir.file("chart.bmp"))};
    w->saveAs();
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), w->chartView()->size() * w->chartView()->devicePixelRatioF());
    EXPECT_EQ(dialogs.asked.back(),
              QStringLiteral("save|Рисунок PNG (*.png)|*.png|Рисунок SVG (*.svg)|*.svg|Документ PDF "
                             "(*.pdf)|*.pdf"));
    w->saveAs(); // an unknown type is said, and nothing is written
    EXPECT_TRUE(dialogs.asked.back().startsWith(QStringLiteral("error|График|Формат файла")));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir.file("chart.bmp"))));

    w->tabs()->setCurrentIndex(1);
    EXPECT_EQ(w->binsBox()->value(), default_bins(5));
    w->binsBox()->setValue(2);
    EXPECT_EQ(w->histogram().bins().counts, (std::vector<int>{2, 3})); // R 1..5 in two bins
    w->printChart();
    EXPECT_EQ(dialogs.printed, 1);
}

} // namespace
