#pragma once

// A colour as the column layouts store it: 32 bits, red in the lowest byte, green and blue
// above it. Two values mean no colour of the column's own (clNone, clDefault); a top byte of
// 0xFF names a system colour by its index (clBtnFace is 0xFF00000F), which the window shows in
// the nearest colour of its palette.

#include <cstdint>

namespace ulen3 {

class ColourValue {
public:
    static constexpr std::uint32_t kNone = 0x1FFFFFFF;
    static constexpr std::uint32_t kDefault = 0x20000000;

    constexpr ColourValue(std::uint32_t value = kNone) : m_value(value) {}
    static constexpr ColourValue rgb(int red, int green, int blue) {
        return ColourValue(static_cast<std::uint32_t>(red & 0xFF) | static_cast<std::uint32_t>(green & 0xFF) << 8 |
                           static_cast<std::uint32_t>(blue & 0xFF) << 16);
    }

    constexpr std::uint32_t value() const { return m_value; }
    // Whether the column has a colour of its own (a plain or a system colour).
    constexpr bool isSet() const { return m_value != kNone && m_value != kDefault; }
    constexpr bool isSystem() const { return (m_value & 0xFF000000u) == 0xFF000000u; }
    constexpr int systemIndex() const { return static_cast<int>(m_value & 0xFF); }
    // The parts of a plain colour.
    constexpr int red() const { return static_cast<int>(m_value & 0xFF); }
    constexpr int green() const { return static_cast<int>(m_value >> 8 & 0xFF); }
    constexpr int blue() const { return static_cast<int>(m_value >> 16 & 0xFF); }

    friend constexpr bool operator==(ColourValue a, ColourValue b) { return a.m_value == b.m_value; }

private:
    std::uint32_t m_value;
};

} // namespace ulen3
