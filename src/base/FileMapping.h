#pragma once

// A file's bytes for reading, shared with the system's file cache: a large table is read with
// no copy and no memory cleared for it first. Were another program to cut the file shorter
// while it is mapped, reading past the new end would end the process; there the mapping reads
// zeros instead, and says that the file was cut.

#include <cstddef>
#include <memory>

namespace ulen3 {

class File;

class FileMapping {
public:
    // The first `length` bytes of the open file; none when the system maps nothing, and the
    // caller then reads the file as before.
    static std::unique_ptr<FileMapping> map(const File& file, std::size_t length);
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    // Whether a read found part of the file cut off since it was mapped; it read zeros there.
    bool cut() const;

private:
    FileMapping(char* data, std::size_t size, int slot) : m_data(data), m_size(size), m_slot(slot) {}
    char* m_data;
    std::size_t m_size;
    int m_slot;
};

} // namespace ulen3
