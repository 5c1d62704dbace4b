#pragma once

// The thirteen fields of an observation record and the small types that the table's file part
// and its cursor part share.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace ulen3 {

// The thirteen fields of an observation record, in file order.
enum class Field : int { N, DATE, TIME, DEV_TYPE, SERIAL, NB_TYPE, P, R, ZAV, TYPE, COMMENT, H, T };
inline constexpr int kFieldCount = 13;

// The field's name as stored in the file ("N", "DATE", ...).
const char* field_name(Field field);
// The field named `name` (any case); throws TableError for an unknown name.
Field field_by_name(std::string_view name);
// The field named `name` (any case), or false.
bool find_field(std::string_view name, Field& field);
// True for the seven numeric fields.
bool is_numeric(Field field);
// The width of the field as the program creates it.
int field_width(Field field);

// Date of a header write: year − 1900 (modulo 256), month, day.
struct HeaderDate {
    uint8_t year = 0, month = 1, day = 1;
};
using TodayFunction = std::function<HeaderDate()>;
HeaderDate local_today();

// One field descriptor as found in an open file.
struct FieldDescriptor {
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
};

} // namespace ulen3
