#include "ui/ChartWindow.h"

#include "chart/ChartPicture.h"
#include "chart/ChartView.h"
#include "chart/SeriesChart.h"
#include "chart/StatisticsPanel.h"
#include "dialogs/UserDialogs.h"
#include "table/Pages.h"
#include "ui/grid/DBGridPro.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

namespace ulen3 {

namespace {

// The title a grid gives the column of a field, or the field's own title.
QString column_title(const TDBGridPro* grid, const char* field, const char* fallback) {
    auto& columns = const_cast<TDBGridPro*>(grid)->Columns();
    const int at = columns.ByFieldName(QString::fromLatin1(field));
    return at >= 0 ? columns.Items(at).Caption : QString::fromUtf8(fallback);
}

} // namespace

ChartWindow::ChartWindow(UserDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), m_dialogs(dialogs), m_chart(new SeriesChart), m_histogram(new HistogramChart),
      m_chartView(new ChartView(m_chart)), m_tabs(new QTabWidget), m_xChoice(new QComboBox),
      m_histogramValue(new QComboBox), m_bins(new QSpinBox), m_note(new QLabel), m_statistics(new StatisticsPanel) {
    setWindowTitle(QStringLiteral("График"));
    resize(900, 640);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    connect(&m_refresh, &QTimer::timeout, this, [this] { refreshNow(); });

    m_chartView->setSeriesChart(m_chart);
    m_chartView->onRecordClicked = [this](int index) { recordClicked(index); };
    m_xChoice->addItems({QStringLiteral("по порядку записей"), QStringLiteral("по дате и времени")});
    connect(m_xChoice, &QComboBox::activated, this, [this](int i) { setXAxis(i == 1 ? XAxis::Time : XAxis::Order); });
    auto* reset = new QPushButton(QStringLiteral("Сбросить масштаб"));
    connect(reset, &QPushButton::clicked, this, [this] { resetZoom(); });
    auto* save = new QPushButton(QStringLiteral("Сохранить…"));
    connect(save, &QPushButton::clicked, this, [this] { saveAs(); });
    auto* print = new QPushButton(QStringLiteral("Печать…"));
    connect(print, &QPushButton::clicked, this, [this] { printChart(); });
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Ось X:")));
    bar->addWidget(m_xChoice);
    bar->addWidget(reset);
    bar->addStretch(1);
    bar->addWidget(save);
    bar->addWidget(print);

    auto* histogramPage = new QWidget;
    auto* histogramBar = new QHBoxLayout;
    histogramBar->addWidget(new QLabel(QStringLiteral("Величина:")));
    histogramBar->addWidget(m_histogramValue);
    histogramBar->addWidget(new QLabel(QStringLiteral("Интервалов:")));
    m_bins->setRange(1, 100);
    histogramBar->addWidget(m_bins);
    histogramBar->addStretch(1);
    connect(m_histogramValue, &QComboBox::activated, this, [this] { redrawHistogram(); });
    connect(m_bins, &QSpinBox::valueChanged, this, [this] {
        m_binsChosen = true;
        redrawHistogram();
    });
    auto* histogramLayout = new QVBoxLayout(histogramPage);
    histogramLayout->addLayout(histogramBar);
    auto* histogramView = new QChartView(m_histogram);
    histogramView->setRenderHint(QPainter::Antialiasing);
    histogramLayout->addWidget(histogramView, 1);

    m_tabs->addTab(m_chartView, QStringLiteral("График"));
    m_tabs->addTab(histogramPage, QStringLiteral("Гистограмма"));
    m_note->setWordWrap(true);
    auto* top = new QWidget;
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addLayout(bar);
    topLayout->addWidget(m_tabs, 1);
    topLayout->addWidget(m_note);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(top);
    split->addWidget(m_statistics);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(split);
}

ChartWindow::~ChartWindow() { setTable(nullptr); }

void ChartWindow::setTable(ObservationTable* table) {
    if (m_table == table)
        return;
    if (m_table)
        m_table->RemoveListener(this);
    m_table = table;
    if (m_table)
        m_table->AddListener(this);
}

void ChartWindow::showPage(TDBGridPro* grid, const QString& page, const QString& tableName, QChar decimal) {
    if (grid != m_grid)
        m_binsChosen = false;
    m_grid = grid;
    m_page = page;
    m_tableName = tableName;
    m_decimal = decimal;
    setTable(grid ? grid->DataSource() : nullptr);
    refreshNow();
}

void ChartWindow::detach() {
    m_refresh.stop();
    setTable(nullptr);
    m_grid = nullptr;
    close();
}

void ChartWindow::refreshNow() {
    m_refresh.stop();
    if (!m_grid || !m_table || !m_table->Active())
        return;
    ChartTexts texts;
    texts.titleP = column_title(m_grid, "P", kTitleP);
    texts.titleR = column_title(m_grid, "R", kTitleR);
    texts.page = m_page;
    texts.tableName = m_tableName;
    PageSeries series = page_series(m_table->Records(), m_grid->SelectionRecords());
    m_statistics->setSeries(series, texts.titleP, texts.titleR, m_decimal);
    const int bins = m_binsChosen ? m_bins->value() : default_bins(series.count());
    m_chart->setSeries(std::move(series), m_axis, texts, m_decimal);
    if (m_histogramValue->count() == 0 || m_histogramValue->itemText(0) != texts.titleR) {
        m_histogramValue->clear();
        m_histogramValue->addItems({texts.titleR, texts.titleP});
    }
    {
        const QSignalBlocker quiet(m_bins);
        m_bins->setValue(bins);
    }
    redrawHistogram();
    m_note->setText(note());
    m_note->setVisible(!m_note->text().isEmpty());
}

QString ChartWindow::note() const { return m_chart->note(); }

void ChartWindow::redrawHistogram() {
    const bool r = m_histogramValue->currentIndex() <= 0;
    const PageSeries& s = m_chart->pageSeries();
    m_histogram->setValues(r ? s.r : s.p, m_bins->value(), m_histogramValue->currentText(), m_decimal);
}

void ChartWindow::setXAxis(XAxis axis) {
    m_axis = axis;
    {
        const QSignalBlocker quiet(m_xChoice);
        m_xChoice->setCurrentIndex(axis == XAxis::Time ? 1 : 0);
    }
    refreshNow();
}

void ChartWindow::resetZoom() { m_chart->resetZoom(); }

void ChartWindow::recordClicked(int index) {
    if (!m_grid || !m_table || !m_table->Active() || index < 0 || index >= m_chart->pageSeries().count())
        return;
    const uint32_t record = m_chart->pageSeries().records[static_cast<size_t>(index)];
    // Marks the user made stay: the click moves the grid's current row to the record. Without
    // marks the record becomes the one selected.
    const bool keepMarks = m_grid->SelectionCount() >= 2;
    if (!m_table->GotoRecord(record))
        return;
    if (!keepMarks && m_grid->MultiSelect())
        m_grid->SelectRows({m_table->ViewRow()});
}

void ChartWindow::saveAs() {
    const QString path = m_dialogs.saveFile(
        this, QStringLiteral("Рисунок PNG (*.png)|*.png|Рисунок SVG (*.svg)|*.svg|Документ PDF (*.pdf)|*.pdf"),
        QStringLiteral("png"), QFileInfo(m_tableName).path(), true);
    if (path.isEmpty())
        return;
    const std::optional<PictureFormat> format = picture_format(path);
    if (!format) {
        m_dialogs.error(this, windowTitle(),
                        QStringLiteral("Формат файла «%1» не известен: выберите .png, .svg или .pdf. График не "
                                       "записан.")
                            .arg(path));
        return;
    }
    PictureRequest request;
    request.format = *format;
    request.size = m_chartView->size();
    request.scale = m_chartView->devicePixelRatioF();
    request.range = m_chart->range();
    try {
        write_picture(path, chart_picture(*m_chart, request));
    } catch (const std::exception& e) {
        m_dialogs.error(this, windowTitle(), QString::fromStdString(e.what()));
    }
}

void ChartWindow::printChart() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(QStringLiteral("График — ") + m_page);
    if (!m_dialogs.print(this, printer, 1))
        return;
    QPainter painter(&printer);
    if (!painter.isActive()) {
        m_dialogs.error(this, windowTitle(), QStringLiteral("Принтер не начал печать; график не напечатан."));
        return;
    }
    paint_chart_sheet(painter, printer, *m_chart, m_chart->range());
}

void show_statistics(TDBGridPro* grid, const QString& page, QChar decimal, QWidget* parent) {
    ObservationTable* table = grid ? grid->DataSource() : nullptr;
    if (!table || !table->Active())
        return;
    QDialog box(parent);
    box.setWindowTitle(QStringLiteral("Статистика — ") + page);
    auto* panel = new StatisticsPanel;
    panel->setSeries(page_series(table->Records(), grid->SelectionRecords()), column_title(grid, "P", kTitleP),
                     column_title(grid, "R", kTitleR), decimal);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    auto* layout = new QVBoxLayout(&box);
    layout->addWidget(panel);
    layout->addWidget(buttons);
    box.resize(520, 360);
    box.exec();
}

} // namespace ulen3
