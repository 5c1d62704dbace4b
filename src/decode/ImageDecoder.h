#pragma once

// The memory image decoder: turns the instrument's memory image into observation records of the
// open table. Two sections of 22-byte records; one table record per instrument record, in memory
// order.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace ulen3 {

class ObservationTable;

// A download as the decoder sees it: the image bytes this download delivered and the
// identification values.
struct DownloadedImage {
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    std::uint8_t dev_code = 0;
    std::uint16_t dev_serial = 0;
};

// An image or a date the decoder cannot use; the text is the user's message.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr std::size_t kImageRecordSize = 22;

// "hh:mm:ss" from the bytes seconds, minutes, hours; out-of-range parts are "00".
std::string time_text(const std::uint8_t* smh);
// "dd.mm.yyyy" from the bytes day, month, year − 2000; a day or month out of range is "01".
std::string date_text(const std::uint8_t* dmy);
// Shortest decimal text of the value, up to 15 significant digits, with the given separator.
std::string float_text(double value, char decimalSeparator);
// Seconds since 30.12.1899 00:00:00 of a "dd.mm.yyyy" and a "hh:mm:ss" text; throws DecodeError
// "'<date> <time>' is not a valid date and time" for anything else.
std::int64_t stamp_seconds(const std::string& date, const std::string& time);

// Records added from each of the two sections.
struct DecodeResult {
    unsigned added[2] = {0, 0};
};

// Throws the DecodeError that flash2ulen3 would raise for an image whose sections do not lie
// inside the bytes the download delivered; a caller checks before it creates anything.
void check_image(const DownloadedImage& image);

// Adds the image's records to the open table. Create mode (append false) adds them all; append
// mode skips, section by section, the records not newer than the latest record this instrument
// already gave the table. The filter is "NB_TYPE=1" on return. Throws DecodeError before
// anything is written when the image cannot be decoded. The caller tells the user (in append
// mode, `added_text` of each section with the caption kAppendCaption).
DecodeResult flash2ulen3(ObservationTable& table, const DownloadedImage& image, bool append, char decimalSeparator);

inline constexpr const char* kAppendCaption = "Дополнение";
// "Добавлено записей: N".
std::string added_text(unsigned count);

} // namespace ulen3
