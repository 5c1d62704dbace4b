#include "SampleImage.h"

#include <stdexcept>
#include <string>

namespace ulen3 {

namespace {

void put16(std::vector<unsigned char>& out, unsigned v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
}

void put32(std::vector<unsigned char>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A calendar clock that steps forward by whole seconds.
struct Clock {
    unsigned year = 2024, month = 3, day = 1, hour = 8, minute = 0, second = 0;

    static unsigned days_in(unsigned month, unsigned year) {
        static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
        return month == 2 && leap ? 29 : days[month - 1];
    }

    void advance(unsigned seconds) {
        second += seconds;
        minute += second / 60, second %= 60;
        hour += minute / 60, minute %= 60;
        while (hour >= 24) {
            hour -= 24;
            if (++day > days_in(month, year)) {
                day = 1;
                if (++month > 12)
                    month = 1, ++year;
            }
        }
    }

    void put(std::vector<unsigned char>& out) const {
        out.insert(out.end(), {static_cast<unsigned char>(second), static_cast<unsigned char>(minute),
                               static_cast<unsigned char>(hour), static_cast<unsigned char>(day),
                               static_cast<unsigned char>(month), static_cast<unsigned char>(year - 2000)});
    }
};

struct Random {
    std::uint32_t state;
    unsigned below(unsigned n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    }
};

} // namespace

std::vector<unsigned char> sample_image(const SampleImageOptions& o) {
    if (o.count1 + o.count2 > kMaxImageRecords)
        throw std::invalid_argument("в памяти прибора помещается не больше " + std::to_string(kMaxImageRecords) +
                                    " записей");
    std::vector<unsigned char> out;
    out.reserve(o.fullMemory ? 65536 : 4 + 22 * (o.count1 + o.count2));
    Random rnd{o.seed};
    Clock clock;
    clock.year = o.startYear;
    static const unsigned diameters[] = {500, 1000, 1500, 0}; // × 10 mm; 0: a square plate
    put16(out, o.count1);
    for (unsigned i = 0; i < o.count1; ++i) {
        const unsigned diameter = diameters[rnd.below(4)];
        put16(out, 50 + rnd.below(400));     // H × 10
        put32(out, 1000 + rnd.below(60000)); // R × 1000
        put32(out, 500 + rnd.below(90000));  // P × 1000
        put16(out, diameter);
        put16(out, diameter ? 0 : 1000); // side A × 10
        put16(out, diameter ? 0 : 1000); // side B × 10
        clock.advance(60 + rnd.below(3600));
        clock.put(out);
    }
    put16(out, o.count2);
    for (unsigned i = 0; i < o.count2; ++i) {
        put16(out, 500 + rnd.below(4000));    // H × 100
        put32(out, 100 + rnd.below(6000));    // R × 100
        put32(out, 50 + rnd.below(9000));     // P × 100
        put16(out, 0);                        // not read in section 2
        put16(out, 505 + 5 * rnd.below(100)); // side A × 10
        put16(out, 505 + 5 * rnd.below(100)); // side B × 10
        clock.advance(60 + rnd.below(3600));
        clock.put(out);
    }
    if (o.fullMemory)
        out.resize(65536, 0xFF);
    return out;
}

namespace {

void put_nibbles(std::string& out, unsigned byte) {
    out += static_cast<char>(0x30 + (byte & 0x0F));
    out += static_cast<char>(0x30 + ((byte >> 4) & 0x0F));
}

} // namespace

std::string identification_reply(unsigned devCode, unsigned serial, const unsigned version[3]) {
    std::string r;
    for (unsigned byte : {0u, devCode, version[2], version[1], version[0], serial & 0xFF, (serial >> 8) & 0xFF})
        put_nibbles(r, byte);
    return r + "SP";
}

std::string dump_reply(const std::vector<unsigned char>& image) {
    std::string r = "S";
    r.reserve(image.size() * 2 + 3);
    for (unsigned char b : image)
        put_nibbles(r, b);
    return r + "0P";
}

} // namespace ulen3
