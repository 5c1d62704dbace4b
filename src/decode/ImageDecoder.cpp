#include "decode/ImageDecoder.h"

#include "base/Bytes.h"
#include "table/TableError.h"

#include "table/ObservationTable.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace ulen3 {

namespace {

const char* const kAddedText = "Добавлено записей: ";

// Where the two sections lie in the image.
struct ImageLayout {
    std::size_t pos1 = 2;
    unsigned count1 = 0;
    std::size_t pos2 = 0;
    unsigned count2 = 0;
};

std::string refused(const std::string& what) {
    return "Образ памяти прибора повреждён: " + what + ". Записи не добавлены.";
}

// Both sections must lie inside the bytes this download delivered.
ImageLayout layout_of(const DownloadedImage& image) {
    const std::string received = std::to_string(image.size) + " принятых байт";
    if (image.size < 4)
        throw DecodeError(refused("принято только " + std::to_string(image.size) + " байт"));
    ImageLayout l;
    l.count1 = get_le16(image.bytes);
    const std::size_t count2At = 2 + kImageRecordSize * l.count1;
    if (count2At + 2 > image.size)
        throw DecodeError(refused("раздел 1 из " + std::to_string(l.count1) + " записей не помещается в " + received));
    l.count2 = get_le16(image.bytes + count2At);
    l.pos2 = count2At + 2;
    const std::size_t end = l.pos2 + kImageRecordSize * l.count2;
    if (end > image.size)
        throw DecodeError(refused("разделы из " + std::to_string(l.count1) + " и " + std::to_string(l.count2) +
                                  " записей (" + std::to_string(end) + " байт) не помещаются в " + received));
    return l;
}

bool two_digits(std::string_view s, std::size_t& pos, int& value, std::size_t maxDigits) {
    std::size_t n = 0;
    value = 0;
    while (pos < s.size() && n < maxDigits && s[pos] >= '0' && s[pos] <= '9') {
        value = value * 10 + (s[pos++] - '0');
        ++n;
    }
    return n > 0;
}

// Reads "a<sep>b<sep>c" with 1–2 digit parts (the last up to lastDigits digits).
bool three_parts(std::string_view s, char sep, std::size_t lastDigits, int (&v)[3]) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0 && (pos >= s.size() || s[pos++] != sep))
            return false;
        if (!two_digits(s, pos, v[i], i == 2 ? lastDigits : 2))
            return false;
    }
    return pos == s.size();
}

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return std::int64_t(era) * 146097 + doe - 719468;
}

int days_in_month(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
    return m == 2 && leap ? 29 : days[m - 1];
}

enum class Section { First, Second };

// The TYPE texts tell which section a table record came from.
bool type_of_section(const std::string& type, Section section) {
    const auto starts = [&](std::string_view prefix) { return type.rfind(prefix, 0) == 0; };
    return section == Section::First ? starts("диам. ") || starts("куб ") : starts("AxB ");
}

// The reference of each section: the latest moment among the live records this decoder could
// have written from that section of the same instrument. Records without a valid date and time
// are left out. 0 means there is none.
std::array<std::int64_t, 2> references(ObservationTable& table, const DownloadedImage& image) {
    std::array<std::int64_t, 2> ref{0, 0};
    table.SetFilter("NB_TYPE=0");
    table.Refresh();
    const RecordView records = table.Records();
    for (int row = 0; row < records.Count(); ++row) {
        if (records.Number(row, Field::DEV_TYPE) != image.dev_code ||
            records.Number(row, Field::SERIAL) != image.dev_serial)
            continue;
        const std::string type = records.Text(row, Field::TYPE);
        for (Section s : {Section::First, Section::Second}) {
            if (!type_of_section(type, s))
                continue;
            try {
                auto& r = ref[static_cast<int>(s)];
                r = std::max(r, stamp_seconds(records.Text(row, Field::DATE), records.Text(row, Field::TIME)));
            } catch (const DecodeError&) {
            }
        }
    }
    return ref;
}

// Records not newer than the reference at the head of a section are passed over.
unsigned skipped_records(const std::uint8_t* records, unsigned count, std::int64_t reference) {
    if (reference == 0)
        return 0;
    unsigned skipped = 0;
    for (; skipped < count; ++skipped) {
        const std::uint8_t* r = records + kImageRecordSize * skipped;
        if (stamp_seconds(date_text(r + 19), time_text(r + 16)) > reference)
            break;
    }
    return skipped;
}

std::string plate_text(const char* kind, const std::uint8_t* sides, char sep) {
    return std::string(kind) + float_text(get_le16(sides) / 10.0, sep) + "x" +
           float_text(get_le16(sides + 2) / 10.0, sep) + " мм";
}

// One table record from the 22 bytes of an instrument record.
void append_record(ObservationTable& table, const std::uint8_t* r, Section section, unsigned n,
                   const DownloadedImage& image, char sep) {
    const bool first = section == Section::First;
    const double scale = first ? 1000.0 : 100.0;
    table.Append();
    table.SetNumber(Field::N, n);
    table.SetText(Field::TIME, time_text(r + 16));
    table.SetText(Field::DATE, date_text(r + 19));
    table.SetInteger(Field::DEV_TYPE, image.dev_code);
    table.SetNumber(Field::SERIAL, image.dev_serial);
    table.SetInteger(Field::NB_TYPE, 0);
    table.SetNumber(Field::R, get_le32(r + 2) / scale);
    table.SetNumber(Field::P, get_le32(r + 6) / scale);
    table.SetNumber(Field::H, get_le16(r) / (first ? 10.0 : 100.0));
    const std::uint16_t diameter = get_le16(r + 10);
    if (!first)
        table.SetText(Field::TYPE, plate_text("AxB ", r + 12, sep));
    else if (diameter != 0)
        table.SetText(Field::TYPE, "диам. " + float_text(diameter / 10.0, sep) + " мм");
    else
        table.SetText(Field::TYPE, plate_text("куб ", r + 12, sep));
    table.Post();
}

} // namespace

std::string time_text(const std::uint8_t* smh) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", smh[2] > 23 ? 0u : smh[2], smh[1] > 59 ? 0u : smh[1],
                  smh[0] > 59 ? 0u : smh[0]);
    return buf;
}

std::string date_text(const std::uint8_t* dmy) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04u", dmy[0] == 0 || dmy[0] > 31 ? 1u : dmy[0],
                  dmy[1] == 0 || dmy[1] > 12 ? 1u : dmy[1], dmy[2] + 2000u);
    return buf;
}

std::string float_text(double value, char decimalSeparator) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    std::string text = buf;
    std::replace(text.begin(), text.end(), '.', decimalSeparator);
    return text;
}

std::int64_t stamp_seconds(const std::string& date, const std::string& time) {
    int d[3], t[3];
    const bool parsed = three_parts(date, '.', 4, d) && three_parts(time, ':', 2, t);
    if (!parsed || d[1] < 1 || d[1] > 12 || d[2] < 1 || d[0] < 1 || d[0] > days_in_month(d[2], d[1]) || t[0] > 23 ||
        t[1] > 59 || t[2] > 59)
        throw DecodeError("'" + date + " " + time + "' is not a valid date and time");
    // The epoch lies well before 2000, so no date the instrument stores gets the key 0.
    const std::int64_t days = days_from_civil(d[2], d[1], d[0]) - days_from_civil(1899, 12, 30);
    return days * 86400 + t[0] * 3600 + t[1] * 60 + t[2];
}

void check_image(const DownloadedImage& image) { layout_of(image); }

std::string added_text(unsigned count) { return kAddedText + std::to_string(count); }

DecodeResult flash2ulen3(ObservationTable& table, const DownloadedImage& image, bool append, char decimalSeparator) {
    // Everything that can refuse the image runs before the first record is written.
    const ImageLayout l = layout_of(image);
    const std::uint8_t* records1 = image.bytes + l.pos1;
    const std::uint8_t* records2 = image.bytes + l.pos2;
    unsigned skipped1 = 0, skipped2 = 0;
    if (append) {
        const auto ref = references(table, image);
        skipped1 = skipped_records(records1, l.count1, ref[0]);
        skipped2 = skipped_records(records2, l.count2, ref[1]);
    }

    table.SetFilter("NB_TYPE=1");
    table.Refresh();
    // Each section numbers its records by their place in it, from 1. A write that fails part way
    // (a full disk) says how many of the image's records reached the table: each of them is whole.
    const unsigned toAdd = (l.count1 - skipped1) + (l.count2 - skipped2);
    unsigned added = 0;
    const auto section = [&](const std::uint8_t* records, unsigned count, unsigned skipped, Section kind) {
        for (unsigned n = skipped; n < count; ++n) {
            try {
                append_record(table, records + kImageRecordSize * n, kind, n + 1, image, decimalSeparator);
            } catch (const TableError& e) {
                table.Cancel();
                throw TableError(std::string(e.what()) + " Записей добавлено в таблицу: " + std::to_string(added) +
                                 " из " + std::to_string(toAdd) + "; они сохранены, остальные не записаны.");
            }
            ++added;
        }
        return count - skipped;
    };
    DecodeResult result;
    result.added[0] = section(records1, l.count1, skipped1, Section::First);
    result.added[1] = section(records2, l.count2, skipped2, Section::Second);
    table.Refresh();
    return result;
}

} // namespace ulen3
