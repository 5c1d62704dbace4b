#pragma once

// A compound file ([MS-CFB] version 3, 512-byte sectors) whose root storage holds exactly one
// stream. Streams under 4,096 bytes live in the mini stream, as the format requires; large files
// get DIFAT sectors. The file is written under a temporary name beside the target and renamed
// over it, so an existing file is replaced only by a complete one; the target is held
// exclusively while that happens.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ulen3 {

// The status codes the structured-storage calls give for the same conditions.
namespace stg {
constexpr std::int32_t kAccessDenied = static_cast<std::int32_t>(0x80030005u);
constexpr std::int32_t kPathNotFound = static_cast<std::int32_t>(0x80030003u);
constexpr std::int32_t kTooManyOpenFiles = static_cast<std::int32_t>(0x80030004u);
constexpr std::int32_t kInsufficientMemory = static_cast<std::int32_t>(0x80030008u);
constexpr std::int32_t kShareViolation = static_cast<std::int32_t>(0x80030020u);
constexpr std::int32_t kMediumFull = static_cast<std::int32_t>(0x80030070u);
constexpr std::int32_t kInvalidName = static_cast<std::int32_t>(0x800300FCu);
constexpr std::int32_t kFail = static_cast<std::int32_t>(0x80004005u);
} // namespace stg

// A failure of the file, with the text the user sees.
class CompoundFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The error texts the program has always shown for the two creation steps. With the file's
// path, the file error goes on to say in words what the code means and what was kept:
// "StgCreateDocFile error -2147287035: нет прав на запись в «…»; книга не записана".
std::string create_file_error(std::int32_t status, const std::string& path = {});
std::string create_stream_error(std::int32_t status); // "CreateStream error %d"

// Writes the compound file; the same stream always gives the same bytes. Throws
// CompoundFileError.
void write_compound_file(const std::string& path, const std::u16string& streamName,
                         const std::vector<std::uint8_t>& stream);

} // namespace ulen3
