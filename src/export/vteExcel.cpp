#include "export/vteExcel.h"

#include "export/CompoundFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace ulen3 {

namespace {

// Record numbers.
enum : std::uint16_t {
    rFORMULA_EOF = 0x000A,
    rCALCCOUNT = 0x000C,
    rCALCMODE = 0x000D,
    rPRECISION = 0x000E,
    rREFMODE = 0x000F,
    rDELTA = 0x0010,
    rITERATION = 0x0011,
    rPROTECT = 0x0012,
    rPASSWORD = 0x0013,
    rHEADER = 0x0014,
    rFOOTER = 0x0015,
    rWINDOWPROTECT = 0x0019,
    rHORIZONTALPAGEBREAKS = 0x001B,
    rSELECTION = 0x001D,
    rDATEMODE = 0x0022,
    rLEFTMARGIN = 0x0026,
    rRIGHTMARGIN = 0x0027,
    rTOPMARGIN = 0x0028,
    rBOTTOMMARGIN = 0x0029,
    rPRINTHEADERS = 0x002A,
    rPRINTGRIDLINES = 0x002B,
    rFONT = 0x0031,
    rCONTINUE = 0x003C,
    rWINDOW1 = 0x003D,
    rBACKUP = 0x0040,
    rCODEPAGE = 0x0042,
    rDEFCOLWIDTH = 0x0055,
    rWRITEACCESS = 0x005C,
    rSAVERECALC = 0x005F,
    rCOLINFO = 0x007D,
    rGUTS = 0x0080,
    rWSBOOL = 0x0081,
    rGRIDSET = 0x0082,
    rHCENTER = 0x0083,
    rVCENTER = 0x0084,
    rBOUNDSHEET = 0x0085,
    rCOUNTRY = 0x008C,
    rHIDEOBJ = 0x008D,
    rPALETTE = 0x0092,
    rFNGROUPCOUNT = 0x009C,
    rSETUP = 0x00A1,
    rMULBLANK = 0x00BE,
    rMMS = 0x00C1,
    rDBCELL = 0x00D7,
    rBOOKBOOL = 0x00DA,
    rXF = 0x00E0,
    rINTERFACEHDR = 0x00E1,
    rINTERFACEEND = 0x00E2,
    rMERGEDCELLS = 0x00E5,
    rSST = 0x00FC,
    rLABELSST = 0x00FD,
    rEXTSST = 0x00FF,
    rTABID = 0x013D,
    rUSESELFS = 0x0160,
    rDSF = 0x0161,
    rPROT4REV = 0x01AF,
    rREFRESHALL = 0x01B7,
    rPROT4REVPASS = 0x01BC,
    rEXCEL9FILE = 0x01C0,
    rDIMENSIONS = 0x0200,
    rBLANK = 0x0201,
    rNUMBER = 0x0203,
    rROW = 0x0208,
    rINDEX = 0x020B,
    rDEFAULTROWHEIGHT = 0x0225,
    rWINDOW2 = 0x023E,
    rSTYLE = 0x0293,
    rFORMAT = 0x041E,
    rBOF = 0x0809,
};

constexpr std::size_t kMaxRecordData = 8224;
constexpr std::size_t kMaxSstRecord = 8228; // header included
constexpr int kRowsPerBlock = 32;

// Little-endian bytes of one record's data.
class Bytes {
public:
    std::vector<std::uint8_t> data;
    Bytes& u8(unsigned v) {
        data.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Bytes& u16(unsigned v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
    Bytes& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& f64(double v) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        return u32(static_cast<std::uint32_t>(bits)).u32(static_cast<std::uint32_t>(bits >> 32));
    }
    Bytes& raw(const std::uint8_t* p, std::size_t n) {
        data.insert(data.end(), p, p + n);
        return *this;
    }
    Bytes& utf16(const std::u16string& s) {
        for (char16_t c : s)
            u16(c);
        return *this;
    }
    std::size_t size() const { return data.size(); }
};

// UTF-16 units of a UTF-8 text; malformed bytes become U+FFFD.
std::u16string utf16_of(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
            cp = (c & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
            cp = (c & 0x0Fu) << 12 | (s[i + 1] & 0x3Fu) << 6 | (s[i + 2] & 0x3Fu);
            len = 3;
        } else if ((c & 0xF8) == 0xF0 && i + 3 < s.size()) {
            cp = (c & 0x07u) << 18 | (s[i + 1] & 0x3Fu) << 12 | (s[i + 2] & 0x3Fu) << 6 | (s[i + 3] & 0x3Fu);
            len = 4;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

// Letter case folded for the comparison of number formats (Latin and Cyrillic).
std::u16string folded(std::u16string s) {
    for (char16_t& c : s) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
        else if (c >= 0x0410 && c <= 0x042F)
            c = static_cast<char16_t>(c + 32);
        else if (c == 0x0401)
            c = 0x0451;
    }
    return s;
}

// The workbook stream being written: appended at the end, rewritten in place where positions
// become known later.
class Stream {
public:
    std::vector<std::uint8_t> bytes;
    std::size_t pos() const { return bytes.size(); }

    void record(std::uint16_t id, const std::uint8_t* data, std::size_t size) {
        std::uint16_t number = id;
        do {
            const std::size_t piece = std::min(size, kMaxRecordData);
            header(number, piece);
            bytes.insert(bytes.end(), data, data + piece);
            data += piece;
            size -= piece;
            number = rCONTINUE;
        } while (size > 0);
    }
    void record(std::uint16_t id, const Bytes& b) { record(id, b.data.data(), b.size()); }
    void record(std::uint16_t id) { header(id, 0); }
    void record16(std::uint16_t id, unsigned value) { record(id, Bytes().u16(value)); }

    void overwrite(std::size_t at, const Bytes& b) {
        std::copy(b.data.begin(), b.data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void append(const std::vector<std::uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }

private:
    void header(std::uint16_t id, std::size_t size) {
        const std::uint8_t h[4] = {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                                   static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8)};
        bytes.insert(bytes.end(), h, h + 4);
    }
};

std::uint32_t rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16; }

// The BIFF8 default palette, colour indices 8 to 63.
const std::array<std::uint32_t, 56>& default_palette() {
    static const std::array<std::uint32_t, 56> palette = [] {
        static const std::uint32_t hex[56] = {
            0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, 0x800000, 0x008000,
            0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, 0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF,
            0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, 0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000,
            0x008080, 0x0000FF, 0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
            0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, 0x003366, 0x339966,
            0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333};
        std::array<std::uint32_t, 56> p{};
        for (int i = 0; i < 56; ++i)
            p[i] = rgb(hex[i] >> 16, hex[i] >> 8 & 0xFF, hex[i] & 0xFF);
        return p;
    }();
    return palette;
}

bool basic_color(std::uint32_t c) {
    static const std::uint32_t basic[16] = {rgb(255, 255, 255), rgb(0, 0, 0),   rgb(192, 192, 192), rgb(128, 128, 128),
                                            rgb(255, 0, 0),     rgb(128, 0, 0), rgb(255, 255, 0),   rgb(128, 128, 0),
                                            rgb(0, 255, 0),     rgb(0, 128, 0), rgb(0, 255, 255),   rgb(0, 128, 128),
                                            rgb(0, 0, 255),     rgb(0, 0, 128), rgb(255, 0, 255),   rgb(128, 0, 128)};
    return std::find(std::begin(basic), std::end(basic), c) != std::end(basic);
}

struct CellEntry {
    int xf = 0;
    int sst = -1;
};

struct FormatEntry {
    int index;
    std::u16string text;
    std::u16string key;
};

// One Save: the tables built over the model and the stream they go into.
class WorkbookWriter {
public:
    WorkbookWriter(const TvteXLSWorkbook& book, const SystemColorSource& systemColors)
        : m_book(book), m_systemColors(systemColors), m_palette(default_palette()) {}

    std::vector<std::uint8_t> write() {
        for (int s = 0; s < m_book.SheetCount(); ++s) {
            m_sheetFirstCell.push_back(m_rangeCount);
            m_rangeCount += static_cast<std::size_t>(m_book.Sheet(s).RangeCount());
        }
        m_cells.assign(m_rangeCount, CellEntry());
        // About 32 bytes per cell (its record, its share of the row and of the strings), so a
        // large sheet is not copied while the stream grows.
        m_stream.bytes.reserve(65536 + m_rangeCount * 32);
        globals();
        std::vector<std::size_t> bofs;
        for (int s = 0; s < m_book.SheetCount(); ++s) {
            bofs.push_back(m_stream.pos());
            sheet(s);
        }
        for (std::size_t s = 0; s < bofs.size(); ++s)
            m_stream.overwrite(m_boundsheetFields[s], Bytes().u32(static_cast<std::uint32_t>(bofs[s])));
        return std::move(m_stream.bytes);
    }

private:
    template <class Visit> void eachRange(Visit visit) {
        std::size_t n = 0;
        for (int s = 0; s < m_book.SheetCount(); ++s) {
            const TvteXLSWorksheet& sheet = m_book.Sheet(s);
            for (int i = 0; i < sheet.RangeCount(); ++i)
                visit(sheet.RangeAt(i), m_cells[n++]);
        }
    }

    // A model colour as a palette index.
    int color(TvteColor c) {
        if (c & kSystemColorFlag)
            c = m_systemColors(c & 0xFFFFFF);
        c &= 0xFFFFFF;
        if (c == m_lastColor)
            return m_lastIndex;
        if (std::find(m_used.begin(), m_used.end(), c) == m_used.end())
            m_used.push_back(c);
        int index = 8;
        const auto hit = std::find(m_palette.begin(), m_palette.end(), c);
        if (hit != m_palette.end()) {
            index = static_cast<int>(hit - m_palette.begin()) + 8;
        } else {
            for (std::size_t s = 0; s < m_palette.size(); ++s) {
                const std::uint32_t old = m_palette[s];
                if (!basic_color(old) && std::find(m_used.begin(), m_used.end(), old) == m_used.end()) {
                    m_palette[s] = c;
                    m_paletteChanged = true;
                    index = static_cast<int>(s) + 8;
                    break;
                }
            }
            // A colour that got no slot is not remembered: a later slot may still free up.
            if (index == 8 && m_palette[0] != c)
                return 8;
        }
        m_lastColor = c;
        m_lastIndex = index;
        return index;
    }

    void globals() {
        m_stream.record(rBOF, Bytes().u16(0x0600).u16(0x0005).u16(0x0DBB).u16(0x07CC).u32(0).u32(0x0600));
        m_stream.record16(rINTERFACEHDR, 1252);
        m_stream.record16(rMMS, 0);
        m_stream.record(rINTERFACEEND);
        {
            std::u16string title = utf16_of(m_book.Title());
            if (title.size() > 54)
                title.resize(54);
            Bytes b;
            b.u16(static_cast<unsigned>(title.size())).u8(1).utf16(title);
            while (b.size() < 112)
                b.u8(0x20);
            m_stream.record(rWRITEACCESS, b);
        }
        m_stream.record16(rCODEPAGE, 1252);
        m_stream.record16(rDSF, 0);
        m_stream.record(rEXCEL9FILE);
        {
            Bytes b;
            for (int s = 0; s < m_book.SheetCount(); ++s)
                b.u16(static_cast<unsigned>(s + 1));
            m_stream.record(rTABID, b);
        }
        m_stream.record16(rFNGROUPCOUNT, 14);
        m_stream.record16(rWINDOWPROTECT, 0);
        m_stream.record16(rPROTECT, 0);
        m_stream.record16(rPASSWORD, 0);
        m_stream.record16(rPROT4REV, 0);
        m_stream.record16(rPROT4REVPASS, 0);
        m_stream.record(rWINDOW1,
                        Bytes().u16(360).u16(30).u16(7454).u16(6240).u16(0x0038).u16(0).u16(0).u16(1).u16(600));
        m_stream.record16(rBACKUP, 0);
        m_stream.record16(rHIDEOBJ, 0);
        m_stream.record16(rDATEMODE, 0);
        m_stream.record16(rPRECISION, 1);
        m_stream.record16(rREFRESHALL, 0);
        m_stream.record16(rBOOKBOOL, 0);
        fonts();
        formats();
        xfs();
        static const std::uint8_t styles[6][4] = {{0x10, 0x80, 0x04, 0xFF}, {0x11, 0x80, 0x07, 0xFF},
                                                  {0x00, 0x80, 0x00, 0xFF}, {0x12, 0x80, 0x05, 0xFF},
                                                  {0x13, 0x80, 0x03, 0xFF}, {0x14, 0x80, 0x06, 0xFF}};
        for (const auto& style : styles)
            m_stream.record(rSTYLE, style, 4);
        if (m_paletteChanged) {
            Bytes b;
            b.u16(56);
            for (std::uint32_t c : m_palette)
                b.u8(c & 0xFF).u8(c >> 8 & 0xFF).u8(c >> 16 & 0xFF).u8(0);
            m_stream.record(rPALETTE, b);
        }
        m_stream.record16(rUSESELFS, 0);
        for (int s = 0; s < m_book.SheetCount(); ++s) {
            const std::u16string name = utf16_of(m_book.Sheet(s).Name());
            m_boundsheetFields.push_back(m_stream.pos() + 4);
            m_stream.record(rBOUNDSHEET,
                            Bytes().u32(0).u16(0).u8(static_cast<unsigned>(name.size())).u8(1).utf16(name));
        }
        m_stream.record(rCOUNTRY, Bytes().u16(7).u16(7));
        sst();
        m_stream.record(rFORMULA_EOF);
    }

    void fonts() {
        std::vector<TvteXLSFont> list(4);
        for (TvteXLSFont& f : list)
            f.Color = clWindowText;
        std::vector<int> fontIndex(m_rangeCount);
        std::size_t n = 0, last = 0;
        eachRange([&](const TvteXLSRange& r, CellEntry&) {
            if (!(list[last] == r.Font)) {
                const auto hit = std::find(list.begin(), list.end(), r.Font);
                last = static_cast<std::size_t>(hit - list.begin());
                if (hit == list.end())
                    list.push_back(r.Font);
            }
            fontIndex[n++] = static_cast<int>(last) + 1;
        });
        m_fontIndex = std::move(fontIndex);
        for (const TvteXLSFont& f : list) {
            const std::u16string name = utf16_of(f.Name());
            m_stream.record(rFONT, Bytes()
                                       .u16(static_cast<unsigned>(f.Size * 20))
                                       .u16((f.Style & fsItalic ? 0x0002 : 0) | (f.Style & fsStrikeOut ? 0x0008 : 0))
                                       .u16(static_cast<unsigned>(color(f.Color)))
                                       .u16(f.Style & fsBold ? 1000 : 100)
                                       .u16(0)
                                       .u8(f.Style & fsUnderline ? 1 : 0)
                                       .u8(f.Pitch == TvteFontPitch::Fixed      ? 1
                                           : f.Pitch == TvteFontPitch::Variable ? 2
                                                                                : 0)
                                       .u8(f.Charset)
                                       .u8(0)
                                       .u8(static_cast<unsigned>(name.size()))
                                       .u8(1)
                                       .utf16(name));
        }
    }

    void formats() {
        static const std::pair<int, const char*> builtIn[8] = {
            {5, "#,##0\"р.\";\\-#,##0\"р.\""},
            {6, "#,##0\"р.\";[Red]\\-#,##0\"р.\""},
            {7, "#,##0.00\"р.\";\\-#,##0.00\"р.\""},
            {8, "#,##0.00\"р.\";[Red]\\-#,##0.00\"р.\""},
            {42, "_-* #,##0\"р.\"_-;\\-* #,##0\"р.\"_-;_-* \"-\"\"р.\"_-;_-@_-"},
            {41, "_-* #,##0_р_._-;\\-* #,##0_р_._-;_-* \"-\"_р_._-;_-@_-"},
            {44, "_-* #,##0.00\"р.\"_-;\\-* #,##0.00\"р.\"_-;_-* \"-\"??\"р.\"_-;_-@_-"},
            {43, "_-* #,##0.00_р_._-;\\-* #,##0.00_р_._-;_-* \"-\"??_р_._-;_-@_-"}};
        std::vector<FormatEntry> list;
        for (const auto& [index, text] : builtIn) {
            std::u16string t = utf16_of(text);
            list.push_back({index, t, folded(t)});
        }
        int appended = 0;
        m_formatIndex.assign(m_rangeCount, 0);
        std::size_t n = 0;
        const std::string* lastText = nullptr;
        int lastIndex = 0;
        eachRange([&](const TvteXLSRange& r, CellEntry&) {
            const std::string& format = r.NumberFormat();
            if (format.empty()) {
                m_formatIndex[n++] = 0;
                return;
            }
            if (&format != lastText) {
                const std::u16string t = utf16_of(format);
                const std::u16string key = folded(t);
                const auto hit =
                    std::find_if(list.begin(), list.end(), [&](const FormatEntry& e) { return e.key == key; });
                if (hit != list.end()) {
                    lastIndex = hit->index;
                } else {
                    lastIndex = 50 + appended++;
                    list.push_back({lastIndex, t, key});
                }
                lastText = &format;
            }
            m_formatIndex[n++] = lastIndex;
        });
        for (const FormatEntry& e : list)
            m_stream.record(rFORMAT, Bytes()
                                         .u16(static_cast<unsigned>(e.index))
                                         .u16(static_cast<unsigned>(e.text.size()))
                                         .u8(1)
                                         .utf16(e.text));
    }

    using Xf = std::array<std::uint8_t, 20>;

    static Xf xf_of(const char* hex) {
        Xf x{};
        for (std::size_t i = 0; i < 20; ++i)
            x[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex + 3 * i, 2), nullptr, 16));
        return x;
    }

    Xf rangeXf(const TvteXLSRange& r, int font, int format) {
        const TvteXLSBorders& b = r.Borders;
        const auto mapped = [&](const TvteXLSBorder& border) { return border.LineStyle ? color(border.Color) : 0; };
        // Colours are mapped in this order: the diagonals, left, right, top, bottom, the fill.
        const int diagDown = mapped(b[TvteXLSBorders::DiagonalDown]);
        const int diagUp = mapped(b[TvteXLSBorders::DiagonalUp]);
        const int left = mapped(b[TvteXLSBorders::Left]);
        const int right = mapped(b[TvteXLSBorders::Right]);
        const int top = mapped(b[TvteXLSBorders::Top]);
        const int bottom = mapped(b[TvteXLSBorders::Bottom]);
        const int fg = color(r.FillForegroundColor);
        const int bg = color(r.FillBackgroundColor);
        int diagColor = 0, diagStyle = 0;
        if (b[TvteXLSBorders::DiagonalUp].LineStyle)
            diagColor = diagUp, diagStyle = b[TvteXLSBorders::DiagonalUp].LineStyle;
        else if (b[TvteXLSBorders::DiagonalDown].LineStyle)
            diagColor = diagDown, diagStyle = b[TvteXLSBorders::DiagonalDown].LineStyle;

        Bytes x;
        x.u16(static_cast<unsigned>(font)).u16(static_cast<unsigned>(format)).u16(0x0001);
        x.u8((r.HorizontalAlignment & 7u) + (r.WrapText ? 8u : 0u) + 16u * (r.VerticalAlignment & 7u));
        x.u8(r.Rotation);
        x.u16(0x7C00 | (r.IsMerged() ? 0x0020 : 0));
        x.u16((b[TvteXLSBorders::Left].LineStyle & 15u) | (b[TvteXLSBorders::Right].LineStyle & 15u) << 4 |
              (b[TvteXLSBorders::Top].LineStyle & 15u) << 8 | (b[TvteXLSBorders::Bottom].LineStyle & 15u) << 12);
        x.u16((left & 0x7Fu) | (right & 0x7Fu) << 7 | (b[TvteXLSBorders::DiagonalDown].LineStyle ? 0x4000u : 0u) |
              (b[TvteXLSBorders::DiagonalUp].LineStyle ? 0x8000u : 0u));
        x.u32((top & 0x7Fu) | (bottom & 0x7Fu) << 7 | (diagColor & 0x7Fu) << 14 | (diagStyle & 15u) << 21 |
              (r.FillPattern & 0x3Fu) << 26);
        x.u16((fg & 0x7Fu) | (bg & 0x7Fu) << 7);
        Xf out;
        std::copy(x.data.begin(), x.data.end(), out.begin());
        return out;
    }

    void xfs() {
        const Xf style0 = xf_of("00 00 00 00 F5 FF 20 00 00 00 00 00 00 00 00 00 00 00 C0 20");
        const Xf style1 = xf_of("01 00 00 00 F5 FF 20 00 00 F4 00 00 00 00 00 00 00 00 C0 20");
        const Xf style3 = xf_of("02 00 00 00 F5 FF 20 00 00 F4 00 00 00 00 00 00 00 00 C0 20");
        const Xf style5 = xf_of("00 00 00 00 F5 FF 20 00 00 F4 00 00 00 00 00 00 00 00 C0 20");
        std::vector<Xf> list = {xf_of("00 00 00 00 01 00 20 00 00 00 00 00 00 00 00 00 00 00 C0 20"),
                                xf_of("01 00 2C 00 F5 FF 20 00 00 F8 00 00 00 00 00 00 00 00 C0 20"),
                                xf_of("01 00 2A 00 F5 FF 20 00 00 F8 00 00 00 00 00 00 00 00 C0 20"),
                                xf_of("01 00 09 00 F5 FF 20 00 00 F8 00 00 00 00 00 00 00 00 C0 20"),
                                xf_of("01 00 2B 00 F5 FF 20 00 00 F8 00 00 00 00 00 00 00 00 C0 20"),
                                xf_of("01 00 29 00 F5 FF 20 00 00 F8 00 00 00 00 00 00 00 00 C0 20")};
        std::size_t n = 0, last = 0;
        eachRange([&](const TvteXLSRange& r, CellEntry& cell) {
            const Xf x = rangeXf(r, m_fontIndex[n], m_formatIndex[n]);
            ++n;
            if (list[last] != x) {
                last = static_cast<std::size_t>(std::find(list.begin(), list.end(), x) - list.begin());
                if (last == list.size())
                    list.push_back(x);
            }
            cell.xf = static_cast<int>(last) + 15;
        });
        m_stream.record(rXF, style0.data(), 20);
        for (int i = 1; i < 15; ++i) {
            const Xf& x = i < 3 ? style1 : i < 5 ? style3 : style5;
            m_stream.record(rXF, x.data(), 20);
        }
        for (const Xf& x : list)
            m_stream.record(rXF, x.data(), 20);
    }

    // Shared strings: one entry per non-empty text, in cell order; assembled in memory with its
    // CONTINUE records and written in one piece, then EXTSST.
    void sst() {
        std::vector<std::uint8_t> buf;
        std::size_t recordStart = 0;
        int count = 0;
        Bytes ext;
        ext.u16(8);
        const auto startRecord = [&](std::uint16_t id) {
            recordStart = buf.size();
            buf.insert(buf.end(), {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8), 0, 0});
        };
        const auto closeRecord = [&] {
            const std::size_t len = buf.size() - recordStart - 4;
            buf[recordStart + 2] = static_cast<std::uint8_t>(len);
            buf[recordStart + 3] = static_cast<std::uint8_t>(len >> 8);
        };
        const auto room = [&] { return kMaxSstRecord - (buf.size() - recordStart); };
        const std::size_t base = m_stream.pos();
        startRecord(rSST);
        buf.resize(buf.size() + 8); // the two counts, filled in at the end
        eachRange([&](const TvteXLSRange& r, CellEntry& cell) {
            if (r.Kind() != TvteValueKind::Text || r.Text().empty())
                return;
            cell.sst = count;
            const std::u16string text = utf16_of(r.Text());
            if (room() <= 4) {
                closeRecord();
                startRecord(rCONTINUE);
            }
            if (count % 8 == 0) {
                ext.u32(static_cast<std::uint32_t>(base + buf.size()));
                ext.u16(static_cast<unsigned>(buf.size() - recordStart)).u16(0);
            }
            ++count;
            const std::uint16_t units = static_cast<std::uint16_t>(text.size());
            buf.insert(buf.end(), {static_cast<std::uint8_t>(units), static_cast<std::uint8_t>(units >> 8), 1});
            std::size_t done = 0;
            while (done < text.size()) {
                if (room() <= 4) {
                    closeRecord();
                    startRecord(rCONTINUE);
                    buf.push_back(1);
                }
                const std::size_t take = std::min(text.size() - done, (room() & ~std::size_t(1)) / 2);
                for (std::size_t i = 0; i < take; ++i) {
                    buf.push_back(static_cast<std::uint8_t>(text[done + i]));
                    buf.push_back(static_cast<std::uint8_t>(text[done + i] >> 8));
                }
                done += take;
            }
        });
        if (count == 0)
            return;
        closeRecord();
        for (int i = 0; i < 2; ++i) {
            const std::uint32_t c = static_cast<std::uint32_t>(count);
            const std::uint8_t le[4] = {static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                                        static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 24)};
            std::copy(le, le + 4, buf.begin() + 4 + 4 * i);
        }
        m_stream.append(buf);
        m_stream.record(rEXTSST, ext);
    }

    static std::u16string header_text(const std::string& left, const std::string& centre, const std::string& right) {
        std::string s;
        if (!left.empty())
            s += "&L" + left;
        if (!centre.empty())
            s += "&C" + centre;
        if (!right.empty())
            s += "&R" + right;
        return utf16_of(s);
    }

    void headerRecord(std::uint16_t id, const std::u16string& text) {
        if (text.empty())
            m_stream.record(id);
        else
            m_stream.record(id, Bytes().u16(static_cast<unsigned>(text.size())).u8(1).utf16(text));
    }

    void sheet(int index) {
        const TvteXLSWorksheet& sh = m_book.Sheet(index);
        const TvteXLSPageSetup& ps = sh.PageSetup;
        const std::size_t firstCell = m_sheetFirstCell[static_cast<std::size_t>(index)];
        const bool empty = sh.UsedEmpty();
        const int firstRow = empty ? 0 : sh.UsedTop();
        const int lastRow = empty ? -1 : sh.UsedBottom();
        const int blocks = empty ? 0 : (lastRow - firstRow + 1 + kRowsPerBlock - 1) / kRowsPerBlock;

        m_stream.record(rBOF, Bytes().u16(0x0600).u16(0x0010).u16(0x0DBB).u16(0x07CC).u32(0).u32(0));
        const auto indexData = [&](const std::vector<std::uint32_t>& positions) {
            Bytes b;
            b.u32(0)
                .u32(empty ? 0 : static_cast<std::uint32_t>(firstRow))
                .u32(empty ? 0 : static_cast<std::uint32_t>(lastRow + 1))
                .u32(0);
            for (std::uint32_t p : positions)
                b.u32(p);
            return b;
        };
        const std::size_t indexPos = m_stream.pos();
        m_stream.record(rINDEX, indexData(std::vector<std::uint32_t>(static_cast<std::size_t>(blocks), 0)));
        m_stream.record16(rCALCMODE, 1);
        m_stream.record16(rCALCCOUNT, 100);
        m_stream.record16(rREFMODE, 1);
        m_stream.record16(rITERATION, 0);
        m_stream.record(rDELTA, Bytes().f64(0.001));
        m_stream.record16(rSAVERECALC, 1);
        m_stream.record16(rPRINTHEADERS, ps.PrintHeaders ? 1 : 0);
        m_stream.record16(rPRINTGRIDLINES, ps.PrintGridLines ? 1 : 0);
        m_stream.record16(rGRIDSET, 1);
        m_stream.record(rGUTS, Bytes().u32(0).u32(0));
        m_stream.record(rDEFAULTROWHEIGHT, Bytes().u16(0).u16(255));
        if (!sh.PageBreaks.empty()) {
            Bytes b;
            b.u16(static_cast<unsigned>(sh.PageBreaks.size()));
            for (int row : sh.PageBreaks)
                b.u16(static_cast<unsigned>(row)).u16(0).u16(255);
            m_stream.record(rHORIZONTALPAGEBREAKS, b);
        }
        m_stream.record16(rWSBOOL, 0x04C1);
        headerRecord(rHEADER, header_text(ps.LeftHeader, ps.CenterHeader, ps.RightHeader));
        headerRecord(rFOOTER, header_text(ps.LeftFooter, ps.CenterFooter, ps.RightFooter));
        m_stream.record16(rHCENTER, ps.CenterHorizontally ? 1 : 0);
        m_stream.record16(rVCENTER, ps.CenterVertically ? 1 : 0);
        m_stream.record(rLEFTMARGIN, Bytes().f64(ps.LeftMargin));
        m_stream.record(rRIGHTMARGIN, Bytes().f64(ps.RightMargin));
        m_stream.record(rTOPMARGIN, Bytes().f64(ps.TopMargin));
        m_stream.record(rBOTTOMMARGIN, Bytes().f64(ps.BottomMargin));
        {
            unsigned flags = 0;
            flags |= ps.Order == 1 ? 0x0001 : 0;
            flags |= ps.Orientation == 0 ? 0x0002 : 0;
            flags |= ps.BlackAndWhite ? 0x0008 : 0;
            flags |= ps.Draft ? 0x0010 : 0;
            flags |= ps.PrintNotes ? 0x0020 : 0;
            flags |= ps.FirstPageNumber != 1 ? 0x0080 : 0;
            m_stream.record(rSETUP, Bytes()
                                        .u16(static_cast<unsigned>(ps.PaperSize))
                                        .u16(static_cast<unsigned>(ps.Scale))
                                        .u16(static_cast<unsigned>(ps.FirstPageNumber))
                                        .u16(static_cast<unsigned>(ps.FitToPagesWide))
                                        .u16(static_cast<unsigned>(ps.FitToPagesTall))
                                        .u16(flags)
                                        .u16(0)
                                        .u16(0)
                                        .f64(ps.HeaderMargin)
                                        .f64(ps.FooterMargin)
                                        .u16(static_cast<unsigned>(ps.Copies)));
        }
        m_stream.record16(rDEFCOLWIDTH, 8);
        for (const TvteColumnWidth& c : sh.ColumnWidths)
            m_stream.record(rCOLINFO, Bytes()
                                          .u16(static_cast<unsigned>(c.column))
                                          .u16(static_cast<unsigned>(c.column))
                                          .u16(static_cast<unsigned>(c.width))
                                          .u16(0)
                                          .u16(0)
                                          .u8(0));
        if (empty)
            m_stream.record(rDIMENSIONS, Bytes().u32(0).u32(0).u16(0).u16(0).u16(0));
        else
            m_stream.record(rDIMENSIONS, Bytes()
                                             .u32(static_cast<std::uint32_t>(firstRow))
                                             .u32(static_cast<std::uint32_t>(lastRow + 1))
                                             .u16(static_cast<unsigned>(sh.UsedLeft()))
                                             .u16(static_cast<unsigned>(sh.UsedRight() + 1))
                                             .u16(0));
        std::vector<std::uint32_t> dbcells;
        if (!empty)
            rows(sh, firstCell, firstRow, lastRow, dbcells);
        if (!dbcells.empty())
            m_stream.overwrite(indexPos + 4, indexData(dbcells));
        m_stream.record(rWINDOW2,
                        Bytes().u16(0x04B6 | (index == 0 ? 0x0200 : 0)).u16(0).u16(0).u32(64).u16(0).u16(0).u32(0));
        m_stream.record(rSELECTION, Bytes().u8(3).u16(0).u16(0).u16(0).u16(1).u16(0).u16(0).u8(0).u8(0));
        mergedCells(sh);
        m_stream.record(rFORMULA_EOF);
    }

    void rows(const TvteXLSWorksheet& sh, std::size_t firstCell, int firstRow, int lastRow,
              std::vector<std::uint32_t>& dbcells) {
        std::vector<int> active;   // list positions of the ranges covering the current row
        std::vector<int> covering; // the same, sorted by left column
        int next = 0;              // first range not yet active
        std::vector<std::uint8_t> cells;
        std::vector<std::size_t> cellStart;
        std::vector<std::uint8_t> rowRecords;
        for (int blockFirst = firstRow; blockFirst <= lastRow; blockFirst += kRowsPerBlock) {
            const int blockLast = std::min(lastRow, blockFirst + kRowsPerBlock - 1);
            const std::size_t firstRowPos = m_stream.pos();
            cells.clear();
            cellStart.clear();
            for (int r = blockFirst; r <= blockLast; ++r) {
                // The ranges that cover r: those still reaching it, then those starting on it.
                active.erase(
                    std::remove_if(active.begin(), active.end(), [&](int i) { return sh.RangeAt(i).Bottom() < r; }),
                    active.end());
                while (next < sh.RangeCount() && sh.RangeAt(next).Top() <= r) {
                    if (sh.RangeAt(next).Bottom() >= r)
                        active.push_back(next);
                    ++next;
                }
                covering = active;
                std::stable_sort(covering.begin(), covering.end(),
                                 [&](int a, int b) { return sh.RangeAt(a).Left() < sh.RangeAt(b).Left(); });
                Bytes row;
                const bool none = covering.empty();
                const auto height = std::find_if(sh.RowHeights.begin(), sh.RowHeights.end(),
                                                 [&](const TvteRowHeight& h) { return h.row == r; });
                row.u16(static_cast<unsigned>(r))
                    .u16(none ? 0 : static_cast<unsigned>(sh.RangeAt(covering.front()).Left()))
                    .u16(none ? 0 : static_cast<unsigned>(sh.RangeAt(covering.back()).Right() + 1))
                    .u16(height != sh.RowHeights.end() ? static_cast<unsigned>(height->height) : 255)
                    .u16(0)
                    .u16(0)
                    .u16(height != sh.RowHeights.end() ? 0x0040 : 0)
                    .u16(0);
                m_stream.record(rROW, row);
                cellStart.push_back(cells.size());
                for (int i : covering)
                    cellRecords(sh.RangeAt(i), m_cells[firstCell + static_cast<std::size_t>(i)], r, cells);
            }
            m_stream.append(cells);
            const std::size_t dbcellPos = m_stream.pos();
            dbcells.push_back(static_cast<std::uint32_t>(dbcellPos));
            Bytes d;
            d.u32(static_cast<std::uint32_t>(dbcellPos - firstRowPos));
            const std::size_t rowsInBlock = cellStart.size();
            for (std::size_t k = 0; k < rowsInBlock; ++k)
                d.u16(static_cast<unsigned>(k == 0 ? (rowsInBlock - 1) * 20 : cellStart[k] - cellStart[k - 1]));
            m_stream.record(rDBCELL, d);
        }
    }

    static void put(std::vector<std::uint8_t>& out, std::uint16_t id, const Bytes& b) {
        out.insert(out.end(), {static_cast<std::uint8_t>(id), static_cast<std::uint8_t>(id >> 8),
                               static_cast<std::uint8_t>(b.size()), static_cast<std::uint8_t>(b.size() >> 8)});
        out.insert(out.end(), b.data.begin(), b.data.end());
    }

    static void cellRecords(const TvteXLSRange& range, const CellEntry& cell, int r, std::vector<std::uint8_t>& out) {
        const unsigned row = static_cast<unsigned>(r);
        const unsigned xf = static_cast<unsigned>(cell.xf);
        int nextColumn = range.Left();
        if (r == range.Top()) {
            if (range.Kind() == TvteValueKind::Number) {
                put(out, rNUMBER,
                    Bytes().u16(row).u16(static_cast<unsigned>(range.Left())).u16(xf).f64(range.Number()));
                ++nextColumn;
            } else if (cell.sst >= 0) {
                put(out, rLABELSST,
                    Bytes()
                        .u16(row)
                        .u16(static_cast<unsigned>(range.Left()))
                        .u16(xf)
                        .u32(static_cast<std::uint32_t>(cell.sst)));
                ++nextColumn;
            }
        }
        if (nextColumn < range.Right()) {
            Bytes b;
            b.u16(row).u16(static_cast<unsigned>(nextColumn));
            for (int c = nextColumn; c <= range.Right(); ++c)
                b.u16(xf);
            b.u16(static_cast<unsigned>(range.Right()));
            put(out, rMULBLANK, b);
        } else if (nextColumn == range.Right()) {
            put(out, rBLANK, Bytes().u16(row).u16(static_cast<unsigned>(range.Right())).u16(xf));
        }
    }

    void mergedCells(const TvteXLSWorksheet& sh) {
        std::vector<const TvteXLSRange*> merged;
        for (int i = 0; i < sh.RangeCount(); ++i) {
            if (sh.RangeAt(i).IsMerged())
                merged.push_back(&sh.RangeAt(i));
        }
        for (std::size_t at = 0; at < merged.size(); at += 1024) {
            const std::size_t n = std::min<std::size_t>(1024, merged.size() - at);
            Bytes b;
            b.u16(static_cast<unsigned>(n));
            for (std::size_t i = at; i < at + n; ++i)
                b.u16(static_cast<unsigned>(merged[i]->Top()))
                    .u16(static_cast<unsigned>(merged[i]->Bottom()))
                    .u16(static_cast<unsigned>(merged[i]->Left()))
                    .u16(static_cast<unsigned>(merged[i]->Right()));
            m_stream.record(rMERGEDCELLS, b);
        }
    }

    const TvteXLSWorkbook& m_book;
    const SystemColorSource& m_systemColors;
    std::array<std::uint32_t, 56> m_palette;
    bool m_paletteChanged = false;
    std::vector<std::uint32_t> m_used;
    std::uint32_t m_lastColor = 0xFFFFFFFF;
    int m_lastIndex = 0;
    std::size_t m_rangeCount = 0;
    std::vector<std::size_t> m_sheetFirstCell;
    std::vector<CellEntry> m_cells;
    std::vector<int> m_fontIndex;
    std::vector<int> m_formatIndex;
    std::vector<std::size_t> m_boundsheetFields;
    Stream m_stream;
};

} // namespace

TvteColor standard_system_color(std::uint32_t systemColor) {
    // The colours of a standard desktop scheme, red in the lowest byte.
    static const std::uint32_t scheme[] = {
        rgb(200, 200, 200), rgb(0, 0, 0),       rgb(153, 180, 209), rgb(191, 205, 219), rgb(240, 240, 240),
        rgb(255, 255, 255), rgb(100, 100, 100), rgb(0, 0, 0),       rgb(0, 0, 0),       rgb(0, 0, 0),
        rgb(180, 180, 180), rgb(244, 247, 252), rgb(171, 171, 171), rgb(0, 120, 215),   rgb(255, 255, 255),
        rgb(240, 240, 240), rgb(160, 160, 160), rgb(109, 109, 109), rgb(0, 0, 0),       rgb(0, 0, 0),
        rgb(255, 255, 255), rgb(105, 105, 105), rgb(227, 227, 227), rgb(0, 0, 0),       rgb(255, 255, 225),
        rgb(0, 0, 0),       rgb(0, 102, 204),   rgb(185, 209, 234), rgb(215, 228, 242), rgb(0, 120, 215),
        rgb(240, 240, 240)};
    return systemColor < std::size(scheme) ? scheme[systemColor] : 0;
}

TvteExcelWriter::TvteExcelWriter() : m_systemColors(standard_system_color) {}

std::vector<std::uint8_t> TvteExcelWriter::WorkbookStream(const TvteXLSWorkbook& workbook) {
    return WorkbookWriter(workbook, m_systemColors).write();
}

void TvteExcelWriter::Save(const TvteXLSWorkbook& workbook, const std::string& fileName) {
    std::vector<std::uint8_t> stream;
    try {
        stream = WorkbookStream(workbook);
    } catch (const std::bad_alloc&) {
        throw CompoundFileError(create_stream_error(stg::kInsufficientMemory));
    }
    write_compound_file(fileName, u"Workbook", stream);
}

} // namespace ulen3
