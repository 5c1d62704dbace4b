#include "chart/ChartPicture.h"

#include "base/File.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QGraphicsScene>
#include <QImage>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <stdexcept>

namespace ulen3 {

namespace {

// A copy of the chart laid out at `size` in a scene of its own, so that drawing it leaves the
// chart on screen as it is.
class OffscreenChart {
public:
    OffscreenChart(const SeriesChart& source, QSizeF size, const std::optional<SeriesChart::Range>& range)
        : m_chart(new SeriesChart) {
        m_scene.addItem(m_chart);
        m_chart->resize(size);
        m_chart->setSeries(source.pageSeries(), source.xAxis(), source.texts(), source.decimal());
        if (range)
            m_chart->setRange(*range);
        // The layout places the plot on the next pass of the event loop; the points follow it.
        QCoreApplication::processEvents();
        m_chart->resample();
    }
    void paint(QPainter& painter, const QRectF& target) {
        m_scene.render(&painter, target, m_chart->geometry(), Qt::IgnoreAspectRatio);
    }

private:
    QGraphicsScene m_scene;
    SeriesChart* m_chart; // owned by the scene
};

constexpr double kSheetDpi = 96; // the sheet is laid out in points of the screen

} // namespace

std::optional<PictureFormat> picture_format(const QString& path) {
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".png")))
        return PictureFormat::Png;
    if (lower.endsWith(QLatin1String(".svg")))
        return PictureFormat::Svg;
    if (lower.endsWith(QLatin1String(".pdf")))
        return PictureFormat::Pdf;
    return std::nullopt;
}

QString sheet_heading(const ChartTexts& texts) {
    return texts.tableName.isEmpty() ? texts.page : texts.page + QStringLiteral(" — ") + texts.tableName;
}

void paint_chart_sheet(QPainter& painter, QPagedPaintDevice& device, const SeriesChart& source,
                       const std::optional<SeriesChart::Range>& range) {
    // The sheet in points of 1/96 inch, whatever the device's resolution.
    const QRectF paper = device.pageLayout().fullRectPoints();
    const double w = paper.width() / 72.0 * kSheetDpi, h = paper.height() / 72.0 * kSheetDpi;
    painter.save();
    painter.scale(device.logicalDpiX() / kSheetDpi, device.logicalDpiY() / kSheetDpi);
    const double margin = 40;
    QFont font = painter.font();
    font.setPixelSize(20); // in the sheet's points of 1/96 inch: 15 pt
    font.setBold(true);
    painter.setFont(font);
    const QRectF headingBox(margin, margin, w - 2 * margin, 36);
    painter.drawText(headingBox, Qt::AlignLeft | Qt::AlignVCenter, sheet_heading(source.texts()));
    const QRectF chartBox(margin, margin + 44, w - 2 * margin, h - 2 * margin - 44);
    OffscreenChart chart(source, chartBox.size(), range);
    chart.paint(painter, chartBox);
    painter.restore();
}

QByteArray chart_picture(const SeriesChart& source, const PictureRequest& request) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    switch (request.format) {
    case PictureFormat::Png: {
        QImage image(request.size * request.scale, QImage::Format_ARGB32);
        image.setDevicePixelRatio(request.scale);
        image.fill(Qt::white);
        {
            OffscreenChart chart(source, request.size, request.range);
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            chart.paint(painter, QRectF(QPointF(0, 0), QSizeF(request.size)));
        }
        image.save(&buffer, "PNG");
        break;
    }
    case PictureFormat::Svg: {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(request.size);
        svg.setViewBox(QRect(QPoint(0, 0), request.size));
        svg.setTitle(sheet_heading(source.texts()));
        {
            OffscreenChart chart(source, request.size, request.range);
            QPainter painter(&svg);
            chart.paint(painter, QRectF(QPointF(0, 0), QSizeF(request.size)));
        }
        // The generator gives the size in millimetres, which readers round; the picture's own
        // pixels say it exactly.
        QByteArray bytes = buffer.data();
        const int open = bytes.indexOf("<svg width=\"");
        const int end = open < 0 ? -1 : bytes.indexOf('\n', open);
        if (end > open)
            bytes.replace(open, end - open,
                          QStringLiteral("<svg width=\"%1\" height=\"%2\"")
                              .arg(request.size.width())
                              .arg(request.size.height())
                              .toLatin1());
        return bytes;
    }
    case PictureFormat::Pdf: {
        QPdfWriter pdf(&buffer);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(0, 0, 0, 0)));
        pdf.setResolution(300);
        pdf.setTitle(sheet_heading(source.texts()));
        pdf.setCreator(QStringLiteral("ULEN3"));
        QPainter painter(&pdf);
        paint_chart_sheet(painter, pdf, source, request.range);
        break;
    }
    }
    return buffer.data();
}

void write_picture(const QString& path, const QByteArray& bytes) {
    FileFailure why;
    if (bytes.isEmpty())
        throw std::runtime_error("Не удалось нарисовать график для «" + path.toStdString() + "»; график не записан");
    if (!write_whole_file(path.toStdString(), bytes.constData(), static_cast<size_t>(bytes.size()), why))
        throw std::runtime_error(file_failure_text(why, path.toStdString()) + "; график не записан");
}

} // namespace ulen3
