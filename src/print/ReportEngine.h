#pragma once

// The report engine: a template and the visible records become sheets, laid out once (row
// heights, page breaks, the sheet count) and drawn on demand on any painter: the preview, the
// printer, a PDF file. Prepared sheets keep their texts, so they print as they were prepared.

#include "print/ReportTemplate.h"

#include <QRectF>
#include <QString>

#include <vector>

class QPainter;

namespace ulen3 {

class RecordView;

class PreparedReport {
public:
    int sheetCount() const { return static_cast<int>(m_sheets.size()); }
    bool empty() const { return m_sheets.empty(); }
    double paperWidth() const { return m_template.paperWidth; }
    double paperHeight() const { return m_template.paperHeight; }
    // Draws sheet `sheet` (from 0) with its top left corner at the painter's origin, at
    // `scale` device pixels per layout unit.
    void drawSheet(QPainter& painter, int sheet, double scale) const;

    // The texts of a sheet and their boxes in layout units, in drawing order.
    struct PlacedText {
        QRectF box;
        QString text;
    };
    std::vector<PlacedText> texts(int sheet) const;

private:
    friend PreparedReport prepare_report(const ReportTemplate&, const RecordView&, const QString&);
    struct Sheet {
        int firstRow = 0;
        int rows = 0;
        double dataTop = 0; // where the first row begins
    };
    template <class Visit> void place(int sheet, Visit visit) const;

    ReportTemplate m_template;
    std::vector<QString> m_headerTexts, m_titleTexts;
    double m_headerHeight = 0, m_titleHeight = 0, m_footerTop = 0;
    std::vector<QString> m_cells; // the data band's texts, row after row
    std::vector<float> m_rowHeights;
    std::vector<Sheet> m_sheets;
};

// Lays the records out with the template. decimalSeparator: the user's, for texts "as text".
PreparedReport prepare_report(const ReportTemplate& report, const RecordView& records, const QString& decimalSeparator);

// Writes every sheet to a PDF file of A4 pages; the file appears only when it is complete.
// Throws ReportError.
void write_pdf(const PreparedReport& report, const QString& path, const QString& title);

// "12,50": two decimals of a stored decimal text, halves away from zero, always a comma.
QString two_decimals(const std::string& storedText);

} // namespace ulen3
