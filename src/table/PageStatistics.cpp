#include "table/PageStatistics.h"

#include "table/ObservationTable.h"

#include <cmath>
#include <cstdio>

namespace ulen3 {

double round1(double x) { return std::floor(x / 0.1 + 0.5) * 0.1; }

void FiguresOf::add(double value) {
    if (m_count == 0) {
        m_min = m_max = m_sum = value;
    } else {
        if (value < m_min)
            m_min = value;
        if (value > m_max)
            m_max = value;
        m_sum += value;
    }
    ++m_count;
}

Figures FiguresOf::figures() const {
    if (m_count == 0)
        return {};
    if (m_count == 1)
        return {m_min, m_sum, m_max};
    return {m_min, round1(m_sum / m_count), m_max};
}

PageStatistics page_statistics(const RecordView& records) {
    FiguresOf p, r;
    for (int row = 0; row < records.Count(); ++row) {
        p.add(records.Number(row, Field::P));
        r.add(records.Number(row, Field::R));
    }
    return {p.figures(), r.figures()};
}

std::string general_text(double value, const std::string& decimalSeparator) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", value == 0 ? 0.0 : value); // no "-0"
    std::string text;
    for (const char* c = buf; *c; ++c) {
        if (*c == '.')
            text += decimalSeparator;
        else
            text += *c;
    }
    return text;
}

std::string figures_text(const Figures& f, const std::string& decimalSeparator) {
    return general_text(f.min, decimalSeparator) + "/" + general_text(f.mean, decimalSeparator) + "/" +
           general_text(f.max, decimalSeparator);
}

} // namespace ulen3
