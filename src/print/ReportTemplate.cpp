#include "print/ReportTemplate.h"

#include <charconv>
#include <sstream>

namespace ulen3 {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> words(std::string_view s) {
    std::vector<std::string_view> out;
    while (!(s = trim(s)).empty()) {
        const size_t end = s.find_first_of(" \t");
        out.push_back(s.substr(0, end));
        if (end == std::string_view::npos)
            break;
        s.remove_prefix(end);
    }
    return out;
}

class Parser {
public:
    int line = 0;
    [[noreturn]] void fail(const std::string& why) const {
        throw ReportError("шаблон отчёта, строка " + std::to_string(line) + ": " + why);
    }
    double number(std::string_view w) const {
        double v = 0;
        const auto res = std::from_chars(w.data(), w.data() + w.size(), v);
        if (w.empty() || res.ec != std::errc() || res.ptr != w.data() + w.size() || v < 0)
            fail("ожидается неотрицательное число, а не «" + std::string(w) + "»");
        return v;
    }
};

} // namespace

const Band* ReportTemplate::band(BandKind kind) const {
    for (const Band& b : bands)
        if (b.kind == kind)
            return &b;
    return nullptr;
}

ReportTemplate parse_report_template(std::string_view text) {
    ReportTemplate t;
    Parser p;
    Band* band = nullptr;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        const std::string_view raw = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++p.line;
        const std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.substr(0, 5) == "text ") {
            if (!band)
                p.fail("объект «text» вне полосы");
            const size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                p.fail("у объекта нет текста после двоеточия");
            const auto w = words(line.substr(5, colon - 5));
            if (w.size() < 4)
                p.fail("у объекта должны быть x, y, ширина и высота");
            TextObject o;
            o.x = p.number(w[0]);
            o.y = p.number(w[1]);
            o.w = p.number(w[2]);
            o.h = p.number(w[3]);
            for (size_t i = 4; i < w.size(); ++i) {
                const std::string_view a = w[i];
                if (a == "bold")
                    o.bold = true;
                else if (a.substr(0, 5) == "size=")
                    o.size = p.number(a.substr(5));
                else if (a.substr(0, 6) == "frame=")
                    o.frame = p.number(a.substr(6));
                else if (a == "format=text")
                    o.format = CellFormat::Text;
                else if (a == "format=0.00")
                    o.format = CellFormat::TwoDecimals;
                else if (a.substr(0, 6) == "align=") {
                    const std::string_view v = a.substr(6);
                    const size_t comma = v.find(',');
                    const std::string_view h = v.substr(0, comma);
                    const std::string_view vert = comma == std::string_view::npos ? "top" : v.substr(comma + 1);
                    o.halign = h == "left"     ? HAlign::Left
                               : h == "right"  ? HAlign::Right
                               : h == "center" ? HAlign::Center
                                               : (p.fail("выравнивание «" + std::string(h) + "»"), HAlign::Left);
                    o.valign = vert == "top"      ? VAlign::Top
                               : vert == "bottom" ? VAlign::Bottom
                               : vert == "center" ? VAlign::Center
                                                  : (p.fail("выравнивание «" + std::string(vert) + "»"), VAlign::Top);
                } else {
                    p.fail("неизвестное свойство «" + std::string(a) + "»");
                }
            }
            o.text = std::string(trim(line.substr(colon + 1)));
            band->objects.push_back(std::move(o));
            continue;
        }
        const auto w = words(line);
        if (w[0] == "report" && w.size() == 2) {
            t.name = std::string(w[1]);
        } else if (w[0] == "paper" && w.size() == 3 && w[1] == "A4") {
            const bool landscape = w[2] == "landscape";
            if (!landscape && w[2] != "portrait")
                p.fail("ориентация «" + std::string(w[2]) + "»");
            const double wide = 297 / kUnitMm, narrow = 210 / kUnitMm;
            t.paperWidth = landscape ? wide : narrow;
            t.paperHeight = landscape ? narrow : wide;
        } else if (w[0] == "margins" && w.size() == 5) {
            t.marginLeft = p.number(w[1]);
            t.marginTop = p.number(w[2]);
            t.marginRight = p.number(w[3]);
            t.marginBottom = p.number(w[4]);
        } else if (w[0] == "font" && w.size() >= 2) {
            t.fontFamily = std::string(w[1]);
        } else if (w[0] == "band" && w.size() == 3) {
            Band b;
            b.kind = w[1] == "title"    ? BandKind::Title
                     : w[1] == "header" ? BandKind::Header
                     : w[1] == "data"   ? BandKind::Data
                     : w[1] == "footer" ? BandKind::Footer
                                        : (p.fail("полоса «" + std::string(w[1]) + "»"), BandKind::Data);
            if (t.band(b.kind))
                p.fail("полоса «" + std::string(w[1]) + "» уже есть");
            b.height = p.number(w[2]);
            t.bands.push_back(std::move(b));
            band = &t.bands.back();
        } else {
            p.fail("непонятная строка «" + std::string(line) + "»");
        }
    }
    if (t.paperWidth <= 0)
        throw ReportError("в шаблоне отчёта не указан формат бумаги");
    if (!t.band(BandKind::Data))
        throw ReportError("в шаблоне отчёта нет полосы данных");
    return t;
}

} // namespace ulen3
