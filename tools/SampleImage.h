#pragma once

// Sample memory images of a ВЕСКОР instrument for tests, benchmarks and the demo: two sections
// of 22-byte records with plausible values and measurement times that increase record by record.

#include <cstdint>
#include <string>
#include <vector>

namespace ulen3 {

struct SampleImageOptions {
    unsigned count1 = 10; // section 1 records (round or square plates)
    unsigned count2 = 5;  // section 2 records (rectangular plates)
    std::uint32_t seed = 1;
    bool fullMemory = false;   // pad to the whole 65,536-byte memory with erased bytes (0xFF)
    unsigned startYear = 2024; // the first record is measured on 1 March of this year
};

// Most records a 65,536-byte memory holds: 4 + 22 × n ≤ 65,536.
constexpr unsigned kMaxImageRecords = 2978;

// Throws std::invalid_argument when the records do not fit the memory.
std::vector<unsigned char> sample_image(const SampleImageOptions& options);

// The instrument's side of the exchange. Bytes travel as two characters '0'…'?', low nibble
// first. The identification reply: bytes 0, device code, version third/second/first number,
// serial (low byte first), then 'S' (stops the host's reply timer) and 'P'.
std::string identification_reply(unsigned devCode, unsigned serial, const unsigned version[3]);
// The dump reply: 'S', the image as nibble text, one character the host does not decode, 'P'.
std::string dump_reply(const std::vector<unsigned char>& image);

} // namespace ulen3
