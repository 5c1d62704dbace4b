#include "print/ReportPreview.h"

#include "dialogs/UserDialogs.h"

#include "print/ReportEngine.h"
#include "print/WindowSize.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <cmath>

namespace ulen3 {

// The sheets one under another on a grey desk; a paint draws only those in sight.
class SheetsView : public QAbstractScrollArea {
public:
    SheetsView(const PreparedReport& report, QWidget* parent) : QAbstractScrollArea(parent), m_report(report) {
        viewport()->setAutoFillBackground(true);
        QPalette p = viewport()->palette();
        p.setColor(QPalette::Window, QColor(128, 128, 128));
        viewport()->setPalette(p);
    }

    void setZoom(int zoom) {
        m_zoom = zoom;
        layoutSheets();
        viewport()->update();
    }
    // Device pixels per layout unit.
    double scale() const {
        const double width = std::max(100, viewport()->width() - 2 * kGap);
        if (m_zoom == 0)
            return width / m_report.paperWidth();
        if (m_zoom < 0)
            return std::min(width / m_report.paperWidth(),
                            (viewport()->height() - 2.0 * kGap) / m_report.paperHeight());
        return logicalDpiX() / 25.4 * kUnitMm * m_zoom / 100.0;
    }
    int sheetAt(int y) const {
        const double step = m_report.paperHeight() * scale() + kGap;
        return std::clamp(static_cast<int>((y - kGap / 2.0) / step), 0, std::max(0, m_report.sheetCount() - 1));
    }
    int currentSheet() const { return sheetAt(verticalScrollBar()->value() + viewport()->height() / 3); }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QAbstractScrollArea::resizeEvent(e);
        layoutSheets();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter painter(viewport());
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        const double s = scale();
        const double w = m_report.paperWidth() * s, h = m_report.paperHeight() * s;
        const double left = std::max<double>(kGap, (viewport()->width() - w) / 2) - horizontalScrollBar()->value();
        const int top = verticalScrollBar()->value();
        for (int i = sheetAt(top); i < m_report.sheetCount(); ++i) {
            const double y = kGap + i * (h + kGap) - top;
            if (y > viewport()->height())
                break;
            painter.fillRect(QRectF(left, y, w, h), Qt::white);
            painter.save();
            painter.translate(left, y);
            painter.setClipRect(QRectF(0, 0, w, h));
            m_report.drawSheet(painter, i, s);
            painter.restore();
        }
    }

private:
    static constexpr int kGap = 12;
    void layoutSheets() {
        const double s = scale();
        const int total =
            static_cast<int>(std::ceil(m_report.sheetCount() * (m_report.paperHeight() * s + kGap) + kGap));
        verticalScrollBar()->setRange(0, std::max(0, total - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
        verticalScrollBar()->setSingleStep(40);
        const int wide = static_cast<int>(m_report.paperWidth() * s) + 2 * kGap;
        horizontalScrollBar()->setRange(0, std::max(0, wide - viewport()->width()));
        horizontalScrollBar()->setPageStep(viewport()->width());
    }
    const PreparedReport& m_report;
    int m_zoom = 0;
};

ReportPreview::ReportPreview(const PreparedReport& report, Commands commands, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Предварительный просмотр"));
    setModal(true);
    m_view = new SheetsView(report, this);
    m_zoom = new QComboBox(this);
    const std::pair<const char*, int> zooms[] = {{"По ширине листа", 0}, {"Лист целиком", -1}, {"50 %", 50},
                                                 {"75 %", 75},           {"100 %", 100},       {"150 %", 150},
                                                 {"200 %", 200}};
    for (const auto& [caption, zoom] : zooms)
        m_zoom->addItem(QString::fromUtf8(caption), zoom);
    m_where = new QLabel(this);
    m_sheets = report.sheetCount();
    // A new zoom or window size moves the sheets under an unchanged scroll value: the label
    // follows them too.
    connect(m_zoom, &QComboBox::currentIndexChanged, this, [this] {
        m_view->setZoom(m_zoom->currentData().toInt());
        showWhere();
    });
    connect(m_view->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { showWhere(); });
    connect(m_view->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { showWhere(); });
    showWhere();
    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Масштаб:"), this));
    bar->addWidget(m_zoom);
    bar->addWidget(m_where);
    bar->addStretch();
    const auto button = [this, bar](const char* caption, std::function<void()> run) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [run] {
            if (run)
                run();
        });
        bar->addWidget(b);
        return b;
    };
    button("Печать…", commands.print);
    button("Сохранить в PDF…", commands.savePdf);
    button("Справка", commands.help);
    button("Закрыть", [this] { accept(); });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view, 1);
    size_to_screen(this, QSize(1000, 720));
}

ReportPreview::~ReportPreview() = default;

void ReportPreview::setZoom(int zoom) {
    const int i = m_zoom->findData(zoom);
    if (i >= 0) {
        m_zoom->setCurrentIndex(i);
    } else {
        m_view->setZoom(zoom);
        showWhere();
    }
}

void ReportPreview::showWhere() {
    m_where->setText(QStringLiteral("Лист %1 из %2").arg(currentSheet() + 1).arg(m_sheets));
}

int ReportPreview::currentSheet() const { return m_view->currentSheet(); }

bool printers_installed() { return !QPrinterInfo::availablePrinters().isEmpty(); }

bool print_with_dialog(const PreparedReport& report, const QString& documentName, UserDialogs& dialogs,
                       QWidget* parent) {
    if (QPrinterInfo::availablePrinters().isEmpty() || report.empty())
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(report.paperWidth() > report.paperHeight() ? QPageLayout::Landscape
                                                                          : QPageLayout::Portrait);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setFullPage(true);
    printer.setCopyCount(1);
    printer.setCollateCopies(true);
    printer.setDocName(documentName);
    printer.setFromTo(1, report.sheetCount());
    if (!dialogs.print(parent, printer, report.sheetCount()))
        return false;
    int first = 0, last = report.sheetCount() - 1;
    if (printer.printRange() == QPrinter::PageRange) {
        first = std::max(0, printer.fromPage() - 1);
        last = std::min(last, printer.toPage() - 1);
    }
    QPainter painter(&printer);
    if (!painter.isActive())
        throw ReportError("Принтер не начал печать");
    const double scale = printer.resolution() / 25.4 * kUnitMm;
    for (int i = first; i <= last; ++i) {
        if (i > first)
            printer.newPage();
        report.drawSheet(painter, i, scale);
    }
    return true;
}

} // namespace ulen3
