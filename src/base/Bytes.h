#pragma once

// Little-endian numbers in byte buffers, as every file format and the line of the program store
// them (dBase tables and indexes, compound files, workbooks, memory images, version blocks).

#include <cstdint>

namespace ulen3 {

inline std::uint16_t get_le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t get_le32(const unsigned char* p) {
    return get_le16(p) | static_cast<std::uint32_t>(get_le16(p + 2)) << 16;
}
inline std::uint64_t get_le64(const unsigned char* p) {
    return get_le32(p) | static_cast<std::uint64_t>(get_le32(p + 4)) << 32;
}
inline void put_le16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put_le32(unsigned char* p, std::uint32_t v) {
    put_le16(p, static_cast<std::uint16_t>(v));
    put_le16(p + 2, static_cast<std::uint16_t>(v >> 16));
}

} // namespace ulen3
