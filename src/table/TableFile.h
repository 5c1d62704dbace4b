#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ulen3 {

// Why a file operation failed, mapped once from the platform's error code.
enum class FileFailure { NotFound, Busy, NoPermission, NoSpace, Io, NotRegular, Changed };

// A test's hand under every write of the table's and the index's files: after `bytesLeft`
// more bytes a write stops short and fails with `error`, once (the writes after it succeed, as
// after a passing fault); a failing fsync or rename when asked.
struct WriteFaults {
    int64_t bytesLeft = -1; // -1: no limit
    int error = 28;         // ENOSPC
    bool failSync = false;
    bool failRename = false;
    int64_t written = 0;    // bytes that reached files while the faults were in force
};
// nullptr takes the faults away.
void set_write_faults(WriteFaults* faults);
// The same seam for the program's other writers (the workbook file): how many of n bytes may go
// now (0, with errno set, when the fault strikes), what went, and whether fsync or rename fail.
size_t write_faults_allow(size_t n);
void write_faults_count(size_t n);
bool write_faults_fail_sync();
bool write_faults_fail_rename();

// The Russian description of a failure, naming the file.
std::string file_failure_text(FileFailure failure, const std::string& path);

// One table or index file held open for reading and writing. The open takes a
// write lock on the whole file: other processes may still read it, but a second
// writer (another copy of the program included) cannot open it. All platform
// file calls of the table live in this class and its few helpers.
class TableFile {
public:
    TableFile() = default;
    TableFile(TableFile&& other) noexcept;
    TableFile& operator=(TableFile&& other) noexcept;
    TableFile(const TableFile&) = delete;
    TableFile& operator=(const TableFile&) = delete;
    ~TableFile();

    struct Options {
        bool create = false;   // create the file when missing (an existing one is not cut)
        bool readOnly = false; // read only, without the lock: nothing is ever written
        bool noFollow = false; // a symbolic link or anything but a regular file is refused
        bool exclusive = false; // with create: a file that exists already is refused
    };
    // Opens an existing file (create = false) or creates it when missing
    // (create = true; an existing file is opened as it is, not truncated).
    // On failure returns false and sets `failure`; nothing in the file changes.
    bool open(const std::string& path, bool create, FileFailure& failure);
    bool open(const std::string& path, const Options& options, FileFailure& failure);
    bool readOnly() const { return m_readOnly; }
    void close();
    bool isOpen() const { return m_fd >= 0; }

    // The current size, or -1 when it cannot be read.
    int64_t size() const;
    // Reads exactly `n` bytes; false on a short read or an error.
    bool readAt(int64_t offset, void* data, size_t n) const;
    // Writes exactly `n` bytes; false (with `lastFailure`) when not all reached the file.
    bool writeAt(int64_t offset, const void* data, size_t n);
    // Writes blocks of `blockSize` bytes one after another from `offset`, from where they lie
    // in memory, without copying them together first.
    bool writeBlocksAt(int64_t offset, const std::vector<const void*>& blocks, size_t blockSize);
    // Writes the first bytes of the file (a header that never moves).
    bool writeHead(const void* data, size_t n) { return writeAt(0, data, n); }
    bool truncate(int64_t length);
    bool sync();
    FileFailure lastFailure() const { return m_lastFailure; }

private:
    int m_fd = -1;
    bool m_readOnly = false;
    FileFailure m_lastFailure = FileFailure::Io;
};

// A file-size limit (ulimit -f) makes a write fail with EFBIG, reported as a full disk, instead of
// ending the program; the programs call this once at start.
void ignore_file_size_signal();

// The file a path names, symbolic links followed; the path itself when nothing is there yet.
// Rewrites go to this file, so that a link keeps pointing at the rewritten table.
std::string resolved_path(const std::string& path);

// A name for a temporary file beside `target`, in the same folder, that no file has yet and that
// says whose it is: ".NAME.ulen3-PID-N". Open it with create, exclusive and noFollow.
// `followLink` false: beside the name itself (an index file is never reached through a link).
std::string temp_name_beside(const std::string& target, bool followLink = true);
// Opens a fresh temporary beside `target` for writing (exclusive, never through a link, locked
// while open); false with `failure` when none can be made.
bool open_temp_beside(const std::string& target, TableFile& file, std::string& tempPath, FileFailure& failure);

// Puts the complete file `temp` in the place of `target` in one step and makes that durable:
// the rename, then the folder synced. False when the rename fails (then `temp` is still there).
// `followLink` false: a link under `target` is refused, not followed.
bool replace_with(const std::string& temp, const std::string& target, bool followLink = true);

// Removes the temporaries of `target` that a killed run left: those of our own naming that no
// running program holds.
void remove_stale_temps(const std::string& target, bool followLink = true);

// Writes a whole file under a temporary name beside it, flushes it and renames it over `path`,
// so that `path` is either what it was or complete. Returns false (and `failure`) otherwise,
// with nothing left under the temporary name.
bool write_whole_file(const std::string& path, const void* data, size_t size, FileFailure& failure);

// The folder a path names its file in: "." for a bare name, "/" for a file at the root.
std::string folder_of(const std::string& path);

// Where a file name's extension begins (its dot), or the name's length when it has none.
size_t extension_start(const std::string& path);
// The production index beside a table: its name with the extension ".mdx".
std::string index_path_of(const std::string& table);

// What a path that is there is, when it is not a regular file ("папка", "именованный канал", …);
// empty for a regular file or nothing at all.
std::string non_regular_kind(const std::string& path);

// Why a command's output may not be written to `out`, in Russian, or empty when it may. An
// output never replaces the table the command reads (`input`, may be empty) or that table's
// index, whatever name reaches them; nor any other dBase table or index, anything that is not a
// regular file, or a file another program holds for writing. `what` begins the text ("Отчёт не
// записан").
std::string output_refusal(const std::string& out, const std::string& input, const std::string& what);

bool file_exists(const std::string& path);
// How many names the file has (hard links); 0 when it cannot be read.
unsigned link_count(const std::string& path);
bool remove_file(const std::string& path);
// Replaces `to` by `from` in one step.
bool rename_file(const std::string& from, const std::string& to);

} // namespace ulen3
