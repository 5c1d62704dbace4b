#include "settings/LayoutText.h"

#include <cctype>
#include <charconv>
#include <cstdint>

namespace ulen3 {

namespace {

const char* const kEol = "\r\n";

struct NamedColour {
    const char* name;
    int32_t value;
};

// The colour names of the notation; system colours carry the top bit.
constexpr NamedColour kColours[] = {
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clNone", 0x1FFFFFFF},
    {"clDefault", 0x20000000},
    {"clScrollBar", int32_t(0xFF000000)},
    {"clBackground", int32_t(0xFF000001)},
    {"clActiveCaption", int32_t(0xFF000002)},
    {"clInactiveCaption", int32_t(0xFF000003)},
    {"clMenu", int32_t(0xFF000004)},
    {"clWindow", int32_t(0xFF000005)},
    {"clWindowFrame", int32_t(0xFF000006)},
    {"clMenuText", int32_t(0xFF000007)},
    {"clWindowText", int32_t(0xFF000008)},
    {"clCaptionText", int32_t(0xFF000009)},
    {"clActiveBorder", int32_t(0xFF00000A)},
    {"clInactiveBorder", int32_t(0xFF00000B)},
    {"clAppWorkSpace", int32_t(0xFF00000C)},
    {"clHighlight", int32_t(0xFF00000D)},
    {"clHighlightText", int32_t(0xFF00000E)},
    {"clBtnFace", int32_t(0xFF00000F)},
    {"clBtnShadow", int32_t(0xFF000010)},
    {"clGrayText", int32_t(0xFF000011)},
    {"clBtnText", int32_t(0xFF000012)},
    {"clInactiveCaptionText", int32_t(0xFF000013)},
    {"clBtnHighlight", int32_t(0xFF000014)},
    {"cl3DDkShadow", int32_t(0xFF000015)},
    {"cl3DLight", int32_t(0xFF000016)},
    {"clInfoText", int32_t(0xFF000017)},
    {"clInfoBk", int32_t(0xFF000018)},
};

// A text in the notation: printable ASCII between single quotes (a quote doubled), any other
// character as #code.
std::string quoted(std::string_view utf8) {
    std::string out;
    bool open = false;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x20 && c < 0x7F) {
            if (!open)
                out += '\'';
            open = true;
            out += c == '\'' ? "''" : std::string(1, static_cast<char>(c));
            ++i;
            continue;
        }
        // One UTF-8 sequence, written as the code of its character.
        uint32_t code = c;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        code = more == 3 ? c & 0x07 : more == 2 ? c & 0x0F : more == 1 ? c & 0x1F : c;
        ++i;
        for (; more > 0 && i < utf8.size(); --more, ++i)
            code = code << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (open)
            out += '\'';
        open = false;
        out += '#' + std::to_string(code);
    }
    if (open)
        out += '\'';
    return out.empty() ? "''" : out;
}

void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

class Reader {
public:
    explicit Reader(std::string_view text) {
        // Line ends of any kind: CR LF, LF or CR alone.
        size_t start = 0;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '\n' || text[i] == '\r') {
                m_lines.push_back(text.substr(start, i - start));
                if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n')
                    ++i;
                start = i + 1;
            }
        }
    }

    // The next line that is not empty, without its indentation; empty at the end.
    std::string_view next() {
        while (m_at < m_lines.size()) {
            const std::string_view line = trim(m_lines[m_at++]);
            if (!line.empty())
                return line;
        }
        return {};
    }
    [[noreturn]] void fail(const std::string& why) const {
        throw LayoutError("строка " + std::to_string(m_at) + ": " + why);
    }

    std::string text(std::string_view v) const {
        std::string out;
        size_t i = 0;
        if (v.empty())
            fail("нет значения");
        while (i < v.size()) {
            if (v[i] == '\'') {
                for (++i;; ++i) {
                    if (i >= v.size())
                        fail("текст не закрыт кавычкой");
                    if (v[i] == '\'') {
                        if (i + 1 < v.size() && v[i + 1] == '\'') {
                            out += '\'';
                            ++i;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    out += v[i];
                }
            } else if (v[i] == '#') {
                size_t j = ++i;
                while (j < v.size() && v[j] >= '0' && v[j] <= '9')
                    ++j;
                uint32_t code = 0;
                if (j == i || std::from_chars(v.data() + i, v.data() + j, code).ec != std::errc() || code > 0x10FFFF)
                    fail("неверный код знака");
                append_utf8(out, code);
                i = j;
            } else {
                fail("ожидается текст в кавычках");
            }
        }
        return out;
    }
    int32_t integer(std::string_view v) const {
        int64_t n = 0;
        const auto res = std::from_chars(v.data(), v.data() + v.size(), n);
        if (v.empty() || res.ec != std::errc() || res.ptr != v.data() + v.size() || n < INT32_MIN || n > UINT32_MAX)
            fail("ожидается целое число, а не «" + std::string(v) + "»");
        return static_cast<int32_t>(static_cast<uint32_t>(n));
    }
    int32_t colour(std::string_view v) const {
        const auto value = colour_from_text(v);
        if (!value)
            fail("неизвестный цвет «" + std::string(v) + "»");
        return *value;
    }
    std::string name(std::string_view v) const {
        if (v.empty())
            fail("нет значения");
        for (char c : v)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
                fail("ожидается имя, а не «" + std::string(v) + "»");
        return std::string(v);
    }
    std::string set(std::string_view v) const {
        if (v.size() < 2 || v.front() != '[' || v.back() != ']')
            fail("ожидается множество в квадратных скобках");
        return std::string(v);
    }

private:
    std::vector<std::string_view> m_lines;
    size_t m_at = 0;
};

void property(Reader& r, StoredColumn& c, std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        r.fail("ожидается «свойство = значение», а не «" + std::string(line) + "»");
    const std::string_view key = trim(line.substr(0, eq));
    const std::string_view value = trim(line.substr(eq + 1));
    if (key == "FieldName")
        c.fieldName = r.text(value);
    else if (key == "OptionsVisual")
        c.optionsVisual = r.set(value);
    else if (key == "TitleState")
        c.titleState = r.name(value);
    else if (key == "FooterState")
        c.footerState = r.name(value);
    else if (key == "Width")
        c.width = r.integer(value);
    else if (key == "LayoutLevel")
        c.layoutLevel = r.integer(value);
    else if (key == "LayoutIndex")
        c.layoutIndex = r.integer(value);
    else if (key == "Color")
        c.color = r.colour(value);
    else if (key == "Alignment")
        c.alignment = r.name(value);
    else if (key == "Font.Name")
        c.fontName = r.text(value);
    else if (key == "Font.Color")
        c.fontColor = r.colour(value);
    else if (key == "Font.Height")
        c.fontHeight = r.integer(value);
    else if (key == "Font.Style")
        c.fontStyle = r.set(value);
    else if (key == "Font.Charset")
        c.fontCharset = r.integer(value);
    else if (key == "SortOrder")
        c.sortOrder = r.integer(value);
    // Properties this program does not keep are passed over.
}

} // namespace

std::string colour_text(int32_t colour) {
    for (const NamedColour& c : kColours)
        if (c.value == colour)
            return c.name;
    return std::to_string(colour);
}

std::optional<int32_t> colour_from_text(std::string_view text) {
    for (const NamedColour& c : kColours)
        if (text == c.name)
            return c.value;
    int64_t n = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), n);
    if (text.empty() || res.ec != std::errc() || res.ptr != text.data() + text.size() || n < INT32_MIN ||
        n > UINT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(n));
}

std::string write_layout(const std::vector<StoredColumn>& columns) {
    std::string out = std::string("object TUniDataStorage") + kEol;
    if (columns.empty())
        return out + "  Data = <>" + kEol + "end" + kEol;
    out += std::string("  Data = <") + kEol;
    const auto line = [&out](const char* name, const std::string& value) {
        out += std::string("      ") + name + " = " + value + kEol;
    };
    for (size_t i = 0; i < columns.size(); ++i) {
        const StoredColumn& c = columns[i];
        out += std::string("    item") + kEol;
        if (!c.fieldName.empty())
            line("FieldName", quoted(c.fieldName));
        if (c.optionsVisual && *c.optionsVisual != "[]")
            line("OptionsVisual", *c.optionsVisual);
        if (c.titleState && *c.titleState != "tsSortedNone")
            line("TitleState", *c.titleState);
        if (c.footerState && *c.footerState != "fsNone")
            line("FooterState", *c.footerState);
        if (c.width && *c.width != kDefaultStoredWidth)
            line("Width", std::to_string(*c.width));
        if (c.layoutLevel && *c.layoutLevel != 0)
            line("LayoutLevel", std::to_string(*c.layoutLevel));
        if (c.layoutIndex && *c.layoutIndex != 0)
            line("LayoutIndex", std::to_string(*c.layoutIndex));
        if (c.color)
            line("Color", colour_text(*c.color));
        if (c.alignment && *c.alignment != "talDefault")
            line("Alignment", *c.alignment);
        if (c.fontCharset)
            line("Font.Charset", std::to_string(*c.fontCharset));
        if (c.fontColor)
            line("Font.Color", colour_text(*c.fontColor));
        if (c.fontHeight)
            line("Font.Height", std::to_string(*c.fontHeight));
        if (c.fontName)
            line("Font.Name", quoted(*c.fontName));
        if (c.fontStyle)
            line("Font.Style", *c.fontStyle);
        if (c.sortOrder)
            line("SortOrder", std::to_string(*c.sortOrder));
        out += std::string(i + 1 == columns.size() ? "    end>" : "    end") + kEol;
    }
    return out + "end" + kEol;
}

// Settings values are Unicode text: bytes that are not UTF-8 (overlong forms, surrogates and
// codes past U+10FFFF included) are no layout.
bool valid_utf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const int more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0 || i + static_cast<size_t>(more) >= s.size() + (more == 0 ? 1u : 0u))
            return false;
        uint32_t code = more == 0 ? c : more == 1 ? c & 0x1F : more == 2 ? c & 0x0F : c & 0x07;
        for (int k = 1; k <= more; ++k) {
            const unsigned char n = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((n & 0xC0) != 0x80)
                return false;
            code = code << 6 | (n & 0x3F);
        }
        static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += static_cast<size_t>(more) + 1;
    }
    return true;
}

std::vector<StoredColumn> read_layout(std::string_view text) {
    if (!valid_utf8(text))
        throw LayoutError("строка 1: текст не в кодировке UTF-8");
    Reader r(text);
    std::string_view line = r.next();
    if (line.substr(0, 7) != "object " || trim(line.substr(7)) != "TUniDataStorage")
        r.fail("ожидается «object TUniDataStorage»");
    line = r.next();
    std::vector<StoredColumn> columns;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || trim(line.substr(0, eq)) != "Data")
        r.fail("ожидается «Data = <»");
    const std::string_view data = trim(line.substr(eq + 1));
    if (data == "<>") {
        if (r.next() != "end" || !r.next().empty())
            r.fail("ожидается «end» в конце");
        return columns;
    }
    if (data != "<")
        r.fail("ожидается «Data = <»");
    for (;;) {
        line = r.next();
        if (line != "item")
            r.fail("ожидается «item»");
        StoredColumn c;
        for (line = r.next(); line != "end" && line != "end>"; line = r.next()) {
            if (line.empty())
                r.fail("столбец не закрыт «end»");
            property(r, c, line);
        }
        columns.push_back(std::move(c));
        if (line == "end>")
            break;
    }
    if (r.next() != "end" || !r.next().empty())
        r.fail("ожидается «end» в конце");
    return columns;
}

} // namespace ulen3
