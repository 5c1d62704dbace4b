#pragma once

// The chart of a page as a file: PNG, SVG, or PDF as an A4 landscape sheet with the page's title
// and the table's file name above the chart; and the same sheet on a printer.

#include "chart/SeriesChart.h"

#include <QByteArray>
#include <QSize>

#include <optional>

class QPainter;
class QPagedPaintDevice;

namespace ulen3 {

enum class PictureFormat { Png, Svg, Pdf };

// The format a file name asks for by its extension (.png, .svg, .pdf, any case).
std::optional<PictureFormat> picture_format(const QString& path);

struct PictureRequest {
    PictureFormat format = PictureFormat::Png;
    QSize size{1200, 700};                   // pixels of a PNG or SVG; a PDF is always the A4 sheet
    double scale = 1;                        // a PNG's pixels per point of the chart (the screen's HiDPI scale)
    std::optional<SeriesChart::Range> range; // the zoom shown; the whole range without one
};

// Draws the chart of `source` (its series, axis and texts) off screen into a file's bytes.
QByteArray chart_picture(const SeriesChart& source, const PictureRequest& request);

// Draws the A4 sheet (heading and chart) on a printer or PDF writer that is already set up.
void paint_chart_sheet(QPainter& painter, QPagedPaintDevice& device, const SeriesChart& source,
                       const std::optional<SeriesChart::Range>& range);

// The heading of a sheet: "Наблюдения — t.db".
QString sheet_heading(const ChartTexts& texts);

// Writes the bytes under a temporary name and renames them over `path`; throws with the
// reason and "график не записан" when that fails.
void write_picture(const QString& path, const QByteArray& bytes);

} // namespace ulen3
