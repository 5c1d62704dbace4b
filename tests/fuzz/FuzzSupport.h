#pragma once

// Inputs of the fuzz targets as files that live in memory: a table is opened by its path, and a
// memory file's path is /proc/self/fd/N.

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace ulen3::fuzz {

class MemoryFile {
public:
    explicit MemoryFile(const uint8_t* data = nullptr, size_t size = 0)
        : m_fd(::memfd_create("ulen3-fuzz", MFD_CLOEXEC)) {
        for (size_t done = 0; m_fd >= 0 && done < size;) {
            const ssize_t n = ::write(m_fd, data + done, size - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
    }
    ~MemoryFile() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(m_fd); }

private:
    int m_fd;
};

} // namespace ulen3::fuzz
