#pragma once

#include <stdexcept>
#include <string>

namespace ulen3 {

// An error of the observation table. The text is the program's own message and
// reaches the user unchanged (through the caller or the general error handler).
class TableError : public std::runtime_error {
public:
    explicit TableError(const std::string& message) : std::runtime_error(message) {}
};

// The two write failures keep the wording users and support know.
inline constexpr const char* kDiskFullMessage = "Error while writing occurred. (Disk full?)";
inline constexpr const char* kIndexDiskFullMessage =
    "Error while writing occurred; indexes probably corrupted. (Disk full?)";

} // namespace ulen3
