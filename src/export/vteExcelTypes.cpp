#include "export/vteExcelTypes.h"

#include <algorithm>
#include <new>
#include <unordered_set>

namespace ulen3 {

std::string lf_line_ends(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // CR LF becomes LF
        out += text[i];
    }
    return out;
}

namespace {

// Face names and number formats repeat in every range: each distinct text is kept once.
const std::string* shared_text(std::string_view text) {
    static std::unordered_set<std::string> texts;
    return &*texts.emplace(text).first;
}

const std::string* const kArial = shared_text("Arial");
const std::string* const kGeneral = shared_text("");

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

} // namespace

std::string cut_and_trim(std::string_view s, std::size_t count) {
    std::size_t end = 0, chars = 0;
    while (end < s.size() && chars < count) {
        ++end;
        while (end < s.size() && continuation(static_cast<unsigned char>(s[end])))
            ++end;
        ++chars;
    }
    s = s.substr(0, end);
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
        s.remove_suffix(1);
    return std::string(s);
}

TvteXLSFont::TvteXLSFont() : m_name(kArial) {}

void TvteXLSFont::SetName(std::string_view name) { m_name = shared_text(name); }

bool TvteXLSFont::operator==(const TvteXLSFont& o) const {
    return Charset == o.Charset && Color == o.Color && Size == o.Size && m_name == o.m_name && Pitch == o.Pitch &&
           Style == o.Style;
}

TvteXLSRange::TvteXLSRange(TvteXLSWorksheet* sheet, int left, int top, int right, int bottom)
    : m_sheet(sheet), m_left(left), m_top(top), m_right(right), m_bottom(bottom), m_numberFormat(kGeneral) {}

void TvteXLSRange::SetValue(double number) {
    m_kind = TvteValueKind::Number;
    m_number = number;
    m_text.clear();
}

void TvteXLSRange::SetValue(std::string_view text) {
    m_kind = TvteValueKind::Text;
    m_number = 0;
    m_text = lf_line_ends(text);
}

void TvteXLSRange::SetEmpty() {
    m_kind = TvteValueKind::Empty;
    m_number = 0;
    m_text.clear();
}

void TvteXLSRange::SetNumberFormat(std::string_view format) { m_numberFormat = shared_text(format); }

TvteXLSWorksheet::TvteXLSWorksheet(TvteXLSWorkbook* workbook) : m_workbook(workbook) {}

TvteXLSWorksheet::~TvteXLSWorksheet() {
    for (TvteXLSRange* r : m_ranges)
        r->~TvteXLSRange();
}

namespace {
constexpr std::size_t kRangesPerBlock = 4096;
}

TvteXLSRange* TvteXLSWorksheet::newRange(int left, int top, int right, int bottom) {
    void* place = nullptr;
    if (!m_free.empty()) {
        place = m_free.back();
        m_free.pop_back();
    } else {
        if (m_blocks.empty() || m_blockUsed == kRangesPerBlock) {
            m_blocks.emplace_back(new unsigned char[kRangesPerBlock * sizeof(TvteXLSRange)]);
            m_blockUsed = 0;
        }
        place = m_blocks.back().get() + m_blockUsed++ * sizeof(TvteXLSRange);
    }
    return new (place) TvteXLSRange(this, left, top, right, bottom);
}

void TvteXLSWorksheet::releaseRange(TvteXLSRange* range) {
    range->~TvteXLSRange();
    m_free.push_back(range);
}

void TvteXLSWorksheet::SetName(std::string_view name) { m_name = cut_and_trim(name, 31); }

int TvteXLSWorksheet::Index() const { return m_workbook ? m_workbook->IndexOf(this) : -1; }

TvteXLSRange& TvteXLSWorksheet::Range(int left, int top, int right, int bottom) {
    const auto intersects = [&](const TvteXLSRange& r) {
        return r.Left() <= right && left <= r.Right() && r.Top() <= bottom && top <= r.Bottom();
    };
    // The first range that can still overlap starts no higher than the tallest range allows.
    const int lowestTop = top - m_tallest + 1;
    const auto first = std::lower_bound(m_ranges.begin(), m_ranges.end(), lowestTop,
                                        [](const auto& r, int row) { return r->Top() < row; });
    std::size_t s = static_cast<std::size_t>(first - m_ranges.begin());
    TvteXLSRange* result = nullptr;
    bool removedAny = false;
    if (s == m_ranges.size()) {
        result = newRange(left, top, right, bottom);
        m_ranges.push_back(result);
    } else {
        std::size_t i = s, p = s;
        while (i < m_ranges.size() && m_ranges[i]->Top() <= bottom) {
            TvteXLSRange& r = *m_ranges[i];
            bool removed = false;
            if (r.Left() == left && r.Top() == top && r.Right() == right && r.Bottom() == bottom) {
                result = &r;
            } else if (intersects(r)) {
                releaseRange(m_ranges[i]);
                m_ranges.erase(m_ranges.begin() + static_cast<std::ptrdiff_t>(i));
                removed = removedAny = true;
            }
            if (!removed) {
                if (p < m_ranges.size() && m_ranges[p]->Top() <= top)
                    ++p;
                if (m_ranges[i]->Top() <= bottom)
                    ++i;
            }
        }
        if (!result) {
            result = newRange(left, top, right, bottom);
            m_ranges.insert(m_ranges.begin() + static_cast<std::ptrdiff_t>(std::min(p, m_ranges.size())), result);
        }
    }
    if (removedAny) {
        m_tallest = 1;
        for (const auto& r : m_ranges)
            m_tallest = std::max(m_tallest, r->Bottom() - r->Top() + 1);
    } else {
        m_tallest = std::max(m_tallest, bottom - top + 1);
    }
    const auto extend = [](int& v, int by, bool lower) {
        if (v < 0 || (lower ? by < v : by > v))
            v = by;
    };
    extend(m_usedLeft, left, true);
    extend(m_usedTop, top, true);
    extend(m_usedRight, right, false);
    extend(m_usedBottom, bottom, false);
    return *result;
}

TvteXLSWorkbook::TvteXLSWorkbook() : m_title("Morvail") {}

TvteXLSWorkbook::~TvteXLSWorkbook() = default;

void TvteXLSWorkbook::SetTitle(std::string_view title) { m_title = cut_and_trim(title, 66); }

TvteXLSWorksheet& TvteXLSWorkbook::AddSheet() {
    auto sheet = std::make_unique<TvteXLSWorksheet>(this);
    // "Sheet" and the first number from count + 1 on that no other sheet carries, in any case.
    const auto lower = [](std::string s) {
        for (char& c : s)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    int n = SheetCount() + 1;
    for (bool taken = true; taken;) {
        taken = false;
        const std::string candidate = "sheet" + std::to_string(n);
        for (const auto& s : m_sheets)
            taken = taken || lower(s->Name()) == candidate;
        if (taken)
            ++n;
    }
    sheet->SetName("Sheet" + std::to_string(n));
    m_sheets.push_back(std::move(sheet));
    return *m_sheets.back();
}

int TvteXLSWorkbook::IndexOf(const TvteXLSWorksheet* sheet) const {
    for (std::size_t i = 0; i < m_sheets.size(); ++i) {
        if (m_sheets[i].get() == sheet)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace ulen3
