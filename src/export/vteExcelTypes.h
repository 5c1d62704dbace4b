#pragma once

// The workbook model: an in-memory spreadsheet that the export fills and the BIFF8 writer stores.
// A workbook owns its worksheets; a worksheet owns its page setup and its ranges, kept ordered by
// top row; a range is a rectangle of cells with one value and one style.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

// A text as a sheet keeps it: every CR LF made a single LF.
std::string lf_line_ends(std::string_view text);

// 32 bits: red in the lowest byte, green next, blue in the third; with the top bit set the low
// 24 bits name a system colour (8 is the window text).
using TvteColor = std::uint32_t;
constexpr TvteColor kSystemColorFlag = 0x80000000u;
constexpr TvteColor clWindowText = kSystemColorFlag | 8;

enum TvteFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
enum class TvteFontPitch : std::uint8_t { Default, Variable, Fixed };

class TvteXLSFont {
public:
    TvteXLSFont();
    const std::string& Name() const { return *m_name; }
    void SetName(std::string_view name);
    int Size = 10; // points
    TvteColor Color = 0;
    std::uint8_t Style = 0; // TvteFontStyle bits
    TvteFontPitch Pitch = TvteFontPitch::Default;
    std::uint8_t Charset = 1;

    // Equal when character set, colour, size, face name (letter case counts), pitch and style are.
    bool operator==(const TvteXLSFont& other) const;

private:
    const std::string* m_name; // shared text of the face name
};

class TvteXLSBorder {
public:
    TvteColor Color = 0;
    std::uint8_t LineStyle = 0; // BIFF8 line style code, 0 none
};

// Six borders: 0 diagonal down, 1 diagonal up, 2 bottom, 3 left, 4 right, 5 top.
class TvteXLSBorders {
public:
    enum Position { DiagonalDown, DiagonalUp, Bottom, Left, Right, Top };
    TvteXLSBorder& operator[](int position) { return m_borders[position]; }
    const TvteXLSBorder& operator[](int position) const { return m_borders[position]; }

private:
    TvteXLSBorder m_borders[6];
};

class TvteXLSPageSetup {
public:
    double LeftMargin = 2.0, RightMargin = 2.0, TopMargin = 2.5, BottomMargin = 2.5;
    double HeaderMargin = 0.0, FooterMargin = 0.0;
    std::string LeftHeader, CenterHeader, RightHeader;
    std::string LeftFooter, CenterFooter, RightFooter;
    bool CenterHorizontally = false, CenterVertically = false;
    bool PrintGridLines = false, PrintHeaders = false;
    bool BlackAndWhite = false, Draft = false, PrintNotes = false;
    int Order = 0;       // 1: over, then down
    int Orientation = 0; // 0 portrait
    int PaperSize = 9;   // A4
    int Scale = 100;
    int FirstPageNumber = 1; // 1: automatic
    int FitToPagesWide = 1, FitToPagesTall = 1;
    int Copies = 0;
};

// Pictures of a sheet; this system places none.
class TvteImages {
public:
    int Count() const { return 0; }
    void Clear() {}
};

class TvteXLSWorksheet;
class TvteXLSWorkbook;

enum class TvteValueKind : std::uint8_t { Empty, Number, Text };

class TvteXLSRange {
public:
    TvteXLSRange(TvteXLSWorksheet* sheet, int left, int top, int right, int bottom);

    TvteXLSWorksheet* Sheet() const { return m_sheet; }
    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Right() const { return m_right; }
    int Bottom() const { return m_bottom; }
    bool IsMerged() const { return m_left != m_right || m_top != m_bottom; }

    // Text keeps its characters, with every CR LF made a single LF; numbers stay as they are.
    void SetValue(double number);
    void SetValue(std::string_view utf8Text);
    void SetEmpty();
    TvteValueKind Kind() const { return m_kind; }
    double Number() const { return m_number; }
    const std::string& Text() const { return m_text; } // UTF-8; empty for numbers

    TvteXLSFont Font;
    std::uint8_t HorizontalAlignment = 0; // general, left, centre, right, fill, justify, across
    std::uint8_t VerticalAlignment = 2;   // top, centre, bottom, justify
    bool WrapText = false;
    std::uint8_t Rotation = 0;
    const std::string& NumberFormat() const { return *m_numberFormat; }
    void SetNumberFormat(std::string_view format);
    TvteXLSBorders Borders;
    std::uint8_t FillPattern = 0;
    TvteColor FillForegroundColor = 0, FillBackgroundColor = 0;

private:
    TvteXLSWorksheet* m_sheet;
    int m_left, m_top, m_right, m_bottom;
    double m_number = 0;
    std::string m_text;
    const std::string* m_numberFormat;
    TvteValueKind m_kind = TvteValueKind::Empty;
};

struct TvteColumnWidth {
    int column;
    int width; // 1/256 of a character width
};
struct TvteRowHeight {
    int row;
    int height; // twips
};

class TvteXLSWorksheet {
public:
    explicit TvteXLSWorksheet(TvteXLSWorkbook* workbook);
    ~TvteXLSWorksheet();

    TvteXLSWorkbook* Workbook() const { return m_workbook; }
    const std::string& Name() const { return m_name; }
    // Keeps the first 31 characters, then trims characters up to the blank at both ends.
    void SetName(std::string_view name);
    int Index() const;

    // The range with exactly this rectangle, created when needed; ranges that overlap it without
    // matching it are removed. Arguments: left column, top row, right column, bottom row.
    TvteXLSRange& Range(int left, int top, int right, int bottom);
    int RangeCount() const { return static_cast<int>(m_ranges.size()); }
    const TvteXLSRange& RangeAt(int index) const { return *m_ranges[index]; }
    TvteXLSRange& RangeAt(int index) { return *m_ranges[index]; }

    // Everything ever requested through Range; -1 while empty.
    int UsedLeft() const { return m_usedLeft; }
    int UsedTop() const { return m_usedTop; }
    int UsedRight() const { return m_usedRight; }
    int UsedBottom() const { return m_usedBottom; }
    bool UsedEmpty() const { return m_usedTop < 0; }

    TvteXLSPageSetup PageSetup;
    std::vector<TvteColumnWidth> ColumnWidths;
    std::vector<TvteRowHeight> RowHeights;
    std::vector<int> PageBreaks;
    TvteImages Images;

    // Reserves room for this many more ranges, so a large fill does not move the list often.
    void ReserveRanges(std::size_t count) { m_ranges.reserve(m_ranges.size() + count); }

private:
    TvteXLSRange* newRange(int left, int top, int right, int bottom);
    void releaseRange(TvteXLSRange* range);

    TvteXLSWorkbook* m_workbook;
    std::string m_name;
    // The ranges in list order. They live in blocks owned by the sheet, hundreds of thousands
    // of them for a large export, so that each costs no allocation of its own.
    std::vector<TvteXLSRange*> m_ranges;
    std::vector<std::unique_ptr<unsigned char[]>> m_blocks;
    std::size_t m_blockUsed = 0;
    std::vector<TvteXLSRange*> m_free;
    int m_tallest = 0;
    int m_usedLeft = -1, m_usedTop = -1, m_usedRight = -1, m_usedBottom = -1;
};

class TvteXLSWorkbook {
public:
    TvteXLSWorkbook();
    ~TvteXLSWorkbook();

    const std::string& Title() const { return m_title; }
    // Keeps the first 66 characters, then trims.
    void SetTitle(std::string_view title);

    TvteXLSWorksheet& AddSheet();
    int SheetCount() const { return static_cast<int>(m_sheets.size()); }
    TvteXLSWorksheet& Sheet(int index) { return *m_sheets[index]; }
    const TvteXLSWorksheet& Sheet(int index) const { return *m_sheets[index]; }
    int IndexOf(const TvteXLSWorksheet* sheet) const;

private:
    std::string m_title;
    std::vector<std::unique_ptr<TvteXLSWorksheet>> m_sheets;
};

// Abstract base of the workbook writers.
class TvteCustomWriter {
public:
    virtual ~TvteCustomWriter() = default;
    virtual void Save(const TvteXLSWorkbook& workbook, const std::string& fileName) {
        (void)workbook;
        (void)fileName;
    }
};

// First count characters (code points) of a UTF-8 text, then trimmed of characters ≤ 32.
std::string cut_and_trim(std::string_view utf8, std::size_t count);

} // namespace ulen3
