#include "print/ReportEngine.h"

#include "base/File.h"
#include "table/FieldCodec.h"
#include "table/ObservationTable.h"
#include "table/PageStatistics.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <optional>

namespace ulen3 {

namespace {

// The gap between a text and its box, in layout units.
constexpr double kPad = 1.0;
// Texts are measured on a device of this resolution.
constexpr double kMeasureDpi = 720.0;

// A piece of an object's text: literal text, a field of the record, or a sheet number.
struct Piece {
    enum Kind { Literal, FieldValue, PageNumber, TotalPages } kind = Literal;
    QString literal;
    Field field = Field::N;
};

std::vector<Piece> pieces_of(const std::string& text) {
    std::vector<Piece> out;
    const QString t = QString::fromStdString(text);
    int i = 0;
    while (i < t.size()) {
        const int open = t.indexOf('[', i);
        const int close = open < 0 ? -1 : t.indexOf(']', open);
        if (open < 0 || close < 0) {
            out.push_back({Piece::Literal, t.mid(i), Field::N});
            break;
        }
        if (open > i)
            out.push_back({Piece::Literal, t.mid(i, open - i), Field::N});
        const QString inside = t.mid(open + 1, close - open - 1);
        Field f;
        if (inside == QLatin1String("PAGE#")) {
            out.push_back({Piece::PageNumber, {}, Field::N});
        } else if (inside == QLatin1String("TOTALPAGES")) {
            out.push_back({Piece::TotalPages, {}, Field::N});
        } else if (inside.startsWith(QLatin1String("Dbf1.\"")) && inside.endsWith('"') &&
                   find_field(inside.mid(6, inside.size() - 7).toStdString(), f)) {
            out.push_back({Piece::FieldValue, {}, f}); // field names match in any case
        } else {
            out.push_back({Piece::Literal, t.mid(open, close - open + 1), Field::N});
        }
        i = close + 1;
    }
    return out;
}

QString page_text(const std::vector<Piece>& pieces, int page, int total) {
    QString out;
    for (const Piece& p : pieces)
        out += p.kind == Piece::PageNumber   ? QString::number(page)
               : p.kind == Piece::TotalPages ? QString::number(total)
                                             : p.literal;
    return out;
}

QFont object_font(const ReportTemplate& t, const TextObject& o, double dpi) {
    QFont f(QString::fromStdString(t.fontFamily));
    f.setBold(o.bold);
    // A font of `size` points is size / kUnitPt units high on the sheet, whatever the device.
    f.setPointSizeF(o.size * 72.0 / (kUnitPt * dpi));
    f.setStyleStrategy(QFont::ForceOutline);
    return f;
}

Qt::Alignment alignment_of(const TextObject& o) {
    Qt::Alignment a = o.halign == HAlign::Left    ? Qt::AlignLeft
                      : o.halign == HAlign::Right ? Qt::AlignRight
                                                  : Qt::AlignHCenter;
    a |= o.valign == VAlign::Top ? Qt::AlignTop : o.valign == VAlign::Bottom ? Qt::AlignBottom : Qt::AlignVCenter;
    return a;
}

// Texts wrap at word boundaries, and a word wider than its cell (a long number, a comment
// without spaces) breaks between characters: every glyph stays inside its cell.
QTextOption wrapping(Qt::Alignment alignment) {
    QTextOption option(alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// The height of the text laid out as drawText lays it out with that option.
double wrapped_height(QString text, const QFont& font, QPaintDevice* device, double width) {
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font, device);
    layout.setTextOption(wrapping(Qt::AlignLeft));
    double height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        height += line.height();
    }
    layout.endLayout();
    return height;
}

// Heights of texts in layout units, wrapped in a width; most texts fit on one line, which the
// sum of their characters' advances tells without laying them out.
class Measure {
public:
    Measure(const ReportTemplate& t, const TextObject& o)
        : m_image(1, 1, QImage::Format_Mono), m_font(object_font(t, o, kMeasureDpi)) {
        const int dpm = static_cast<int>(std::lround(kMeasureDpi / 0.0254));
        m_image.setDotsPerMeterX(dpm);
        m_image.setDotsPerMeterY(dpm);
        // The font is size / kUnitPt units high at any resolution, so here a pixel is a unit.
        m_metrics.emplace(m_font, &m_image);
        m_lineHeight = m_metrics->height();
    }
    double height(const QString& text, double width) {
        if (text.isEmpty())
            return 0;
        double advance = 0;
        bool simple = true;
        for (const QChar c : text) {
            if (c == '\n' || c.isSurrogate()) {
                simple = false;
                break;
            }
            auto it = m_advance.find(c.unicode());
            if (it == m_advance.end())
                it = m_advance.insert(c.unicode(), m_metrics->horizontalAdvance(c));
            advance += *it;
        }
        if (simple && advance <= width * 0.98)
            return m_lineHeight;
        return wrapped_height(text, m_font, &m_image, width);
    }

private:
    QImage m_image;
    QFont m_font;
    std::optional<QFontMetricsF> m_metrics;
    QHash<ushort, double> m_advance;
    double m_lineHeight = 0;
};

} // namespace

QString two_decimals(const std::string& stored) {
    std::string t = stored;
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.erase(0, 1);
    }
    if (!is_decimal_text(t))
        t = "0";
    const size_t point = t.find('.');
    std::string whole = t.substr(0, point);
    std::string fraction = point == std::string::npos ? std::string() : t.substr(point + 1);
    if (whole.empty())
        whole = "0";
    const bool up = fraction.size() > 2 && fraction[2] >= '5';
    fraction.resize(2, '0');
    std::string digits = whole + fraction;
    if (up) {
        int i = static_cast<int>(digits.size()) - 1;
        for (; i >= 0 && digits[static_cast<size_t>(i)] == '9'; --i)
            digits[static_cast<size_t>(i)] = '0';
        if (i < 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[static_cast<size_t>(i)];
    }
    std::string out = digits.substr(0, digits.size() - 2) + "," + digits.substr(digits.size() - 2);
    const size_t nonZero = out.find_first_not_of("0,");
    if (negative && nonZero != std::string::npos)
        out.insert(out.begin(), '-');
    return QString::fromStdString(out);
}

PreparedReport prepare_report(const ReportTemplate& report, const RecordView& records,
                              const QString& decimalSeparator) {
    PreparedReport r;
    r.m_template = report;
    const ReportTemplate& t = r.m_template;
    const Band* title = t.band(BandKind::Title);
    const Band* header = t.band(BandKind::Header);
    const Band* data = t.band(BandKind::Data);
    const Band* footer = t.band(BandKind::Footer);
    const std::string sep = decimalSeparator.toStdString();

    // A band's height: its own, or taller where a text needs more room.
    const auto bandHeight = [](const Band& band, const std::vector<QString>& texts, std::vector<Measure>& measures) {
        double h = band.height;
        for (size_t i = 0; i < band.objects.size(); ++i) {
            const TextObject& o = band.objects[i];
            const double needed = measures[i].height(texts[i], std::max(1.0, o.w - 2 * kPad)) + 2 * kPad;
            if (needed > o.h)
                h = std::max(h, o.y + needed + (band.height - o.y - o.h));
        }
        return h;
    };
    const auto fixedTexts = [](const Band* band) {
        std::vector<QString> out;
        for (const TextObject& o : band ? band->objects : std::vector<TextObject>())
            out.push_back(QString::fromStdString(o.text));
        return out;
    };
    const auto measuresOf = [&](const Band* band) {
        std::vector<Measure> out;
        for (const TextObject& o : band ? band->objects : std::vector<TextObject>())
            out.emplace_back(t, o);
        return out;
    };
    r.m_titleTexts = fixedTexts(title);
    r.m_headerTexts = fixedTexts(header);
    if (title) {
        auto m = measuresOf(title);
        r.m_titleHeight = bandHeight(*title, r.m_titleTexts, m);
    }
    if (header) {
        auto m = measuresOf(header);
        r.m_headerHeight = bandHeight(*header, r.m_headerTexts, m);
    }

    // The data band's texts for every record, and each row's height.
    std::vector<std::vector<Piece>> dataPieces;
    for (const TextObject& o : data->objects)
        dataPieces.push_back(pieces_of(o.text));
    std::vector<Measure> measures = measuresOf(data);
    const size_t columns = data->objects.size();
    const int count = records.Count();
    r.m_cells.reserve(static_cast<size_t>(count) * columns);
    r.m_rowHeights.reserve(static_cast<size_t>(count));
    std::vector<QString> row(columns);
    for (int rec = 0; rec < count; ++rec) {
        for (size_t c = 0; c < columns; ++c) {
            const TextObject& o = data->objects[c];
            QString text;
            for (const Piece& p : dataPieces[c]) {
                if (p.kind != Piece::FieldValue) {
                    text += p.literal;
                    continue;
                }
                if (records.IsNull(rec, p.field))
                    continue; // an empty field prints as a blank cell
                if (!is_numeric(p.field))
                    text += QString::fromStdString(records.Text(rec, p.field));
                else if (o.format == CellFormat::TwoDecimals)
                    text += two_decimals(records.Text(rec, p.field));
                else
                    text += QString::fromStdString(general_text(records.Number(rec, p.field), sep));
            }
            row[c] = std::move(text);
        }
        r.m_rowHeights.push_back(static_cast<float>(bandHeight(*data, row, measures)));
        for (QString& text : row)
            r.m_cells.push_back(std::move(text));
    }

    // Rows onto sheets: a row that would pass the bottom margin less the page footer begins a
    // new sheet, under the page header again.
    const double footerHeight = footer ? footer->height : 0;
    r.m_footerTop = t.paperHeight - t.marginBottom - footerHeight;
    PreparedReport::Sheet sheet;
    sheet.dataTop = t.marginTop + r.m_titleHeight + r.m_headerHeight;
    double y = sheet.dataTop;
    for (int rec = 0; rec < count; ++rec) {
        const double h = r.m_rowHeights[static_cast<size_t>(rec)];
        if (sheet.rows > 0 && y + h > r.m_footerTop) {
            r.m_sheets.push_back(sheet);
            sheet = {rec, 0, t.marginTop + r.m_headerHeight};
            y = sheet.dataTop;
        }
        ++sheet.rows;
        y += h;
    }
    r.m_sheets.push_back(sheet);
    return r;
}

// Every object of a sheet with its box and text, in drawing order.
template <class Visit> void PreparedReport::place(int index, Visit visit) const {
    const ReportTemplate& t = m_template;
    const Sheet& sheet = m_sheets[static_cast<size_t>(index)];
    const auto band = [&](const Band* b, double top, double height, const std::vector<QString>& texts) {
        for (size_t i = 0; b && i < b->objects.size(); ++i) {
            const TextObject& o = b->objects[i];
            visit(o, QRectF(o.x, top + o.y, o.w, o.h + (height - b->height)), texts[i]);
        }
    };
    double y = t.marginTop;
    if (index == 0 && t.band(BandKind::Title)) {
        band(t.band(BandKind::Title), y, m_titleHeight, m_titleTexts);
        y += m_titleHeight;
    }
    band(t.band(BandKind::Header), y, m_headerHeight, m_headerTexts);
    const Band* data = t.band(BandKind::Data);
    const size_t columns = data->objects.size();
    y = sheet.dataTop;
    std::vector<QString> row(columns);
    for (int r = sheet.firstRow; r < sheet.firstRow + sheet.rows; ++r) {
        const double h = m_rowHeights[static_cast<size_t>(r)];
        for (size_t c = 0; c < columns; ++c)
            row[c] = m_cells[static_cast<size_t>(r) * columns + c];
        band(data, y, h, row);
        y += h;
    }
    if (const Band* footer = t.band(BandKind::Footer)) {
        std::vector<QString> texts;
        for (const TextObject& o : footer->objects)
            texts.push_back(page_text(pieces_of(o.text), index + 1, sheetCount()));
        band(footer, m_footerTop, footer->height, texts);
    }
}

std::vector<PreparedReport::PlacedText> PreparedReport::texts(int sheet) const {
    std::vector<PlacedText> out;
    place(sheet, [&](const TextObject&, const QRectF& box, const QString& text) { out.push_back({box, text}); });
    return out;
}

void PreparedReport::drawSheet(QPainter& painter, int sheet, double scale) const {
    // Device coordinates throughout, without a scaling transform: frames then go out as plain
    // strokes, which a PDF keeps small, rather than as outlines of scaled pens.
    painter.save();
    const double dpi = painter.device()->logicalDpiY();
    QHash<const TextObject*, QFont> fonts;
    painter.setBrush(Qt::NoBrush);
    const auto device = [scale](const QRectF& r) {
        return QRectF(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale);
    };
    place(sheet, [&](const TextObject& o, const QRectF& box, const QString& text) {
        if (o.frame > 0) {
            painter.setPen(QPen(Qt::black, o.frame * scale));
            painter.drawRect(device(box));
        }
        if (text.isEmpty())
            return;
        auto it = fonts.find(&o);
        if (it == fonts.end()) {
            QFont f = object_font(m_template, o, dpi);
            f.setPointSizeF(f.pointSizeF() * scale);
            it = fonts.insert(&o, f);
        }
        painter.setFont(*it);
        painter.setPen(Qt::black);
        painter.drawText(device(box.adjusted(kPad, kPad, -kPad, -kPad)), text, wrapping(alignment_of(o)));
    });
    painter.restore();
}

void write_pdf(const PreparedReport& report, const QString& path, const QString& title) {
    // The document is made in memory and written as the program writes every whole file: under a
    // temporary name of its own beside the target, renamed over it when complete.
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&pdf);
        const bool landscape = report.paperWidth() > report.paperHeight();
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4),
                                         landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                         QMarginsF(0, 0, 0, 0)));
        writer.setResolution(600);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("ULEN3"));
        QPainter painter(&writer);
        if (!painter.isActive())
            throw ReportError("Не удалось начать файл PDF «" + path.toStdString() + "»");
        const double scale = 600.0 / 25.4 * kUnitMm;
        for (int i = 0; i < report.sheetCount(); ++i) {
            if (i > 0)
                writer.newPage();
            report.drawSheet(painter, i, scale);
        }
    }
    FileFailure why;
    const QByteArray& bytes = pdf.data();
    if (!write_whole_file(path.toStdString(), bytes.constData(), static_cast<size_t>(bytes.size()), why))
        throw ReportError(file_failure_text(why, path.toStdString()) + "; отчёт не записан");
}

} // namespace ulen3
