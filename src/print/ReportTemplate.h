#pragma once

// A printed report as data: the paper, the margins, the font and the bands with their text
// objects, read from a small text format a person can edit:
//
//   report frReport1
//   paper A4 landscape
//   margins 72 25 25 25
//   font Arial cyrillic
//   band title 64
//     text 72 0 295 64 size=14 bold align=left,top: Наблюдения
//   band data 55
//     text 72 1 80 53 size=10 align=center,center frame=1 format=text: [Dbf1."Serial"]
//
// All positions and sizes are layout units of 5/18 mm; horizontal positions are measured from
// the sheet's left edge, vertical ones from the top of the band. No Qt here.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

// One layout unit in millimetres and in points.
inline constexpr double kUnitMm = 5.0 / 18.0;
inline constexpr double kUnitPt = kUnitMm * 72.0 / 25.4;

enum class HAlign { Left, Center, Right };
enum class VAlign { Top, Center, Bottom };
// "as text": the field's own text, numbers in the general form with the locale's separator;
// "0.00": two decimals, rounded, always with a comma.
enum class CellFormat { Text, TwoDecimals };

struct TextObject {
    double x = 0, y = 0, w = 0, h = 0;
    double size = 10; // points
    bool bold = false;
    HAlign halign = HAlign::Left;
    VAlign valign = VAlign::Top;
    double frame = 0; // line width of a frame on all four sides; 0 for none
    CellFormat format = CellFormat::Text;
    std::string text; // may hold [Dbf1."FIELD"], [PAGE#] and [TOTALPAGES]
};

enum class BandKind { Title, Header, Data, Footer };

struct Band {
    BandKind kind = BandKind::Data;
    double height = 0;
    std::vector<TextObject> objects;
};

struct ReportTemplate {
    std::string name;
    double paperWidth = 0, paperHeight = 0; // units
    double marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0;
    std::string fontFamily = "Arial";
    std::vector<Band> bands;

    // The band of that kind, or nullptr.
    const Band* band(BandKind kind) const;
};

class ReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws ReportError naming the line.
ReportTemplate parse_report_template(std::string_view text);

} // namespace ulen3
