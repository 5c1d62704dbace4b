#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ulen3 {

// Why a file operation failed, mapped once from the platform's error code.
enum class FileFailure { NotFound, Busy, NoPermission, NoSpace, Io, NotRegular, Changed };

// The failure a platform error code means.
FileFailure file_failure_of(int error);

// A test's hand under every write of the program's files: after `bytesLeft`
// more bytes a write stops short and fails with `error`, once (the writes after it succeed, as
// after a passing fault); a failing fsync or rename when asked.
struct WriteFaults {
    int64_t bytesLeft = -1; // -1: no limit
    int error = 28;         // ENOSPC
    bool failSync = false;
    bool failRename = false;
    int64_t written = 0; // bytes that reached files while the faults were in force
};
// nullptr takes the faults away.
void set_write_faults(WriteFaults* faults);

// The Russian description of a failure, naming the file.
std::string file_failure_text(FileFailure failure, const std::string& path);

// One file held open for reading and writing. The open takes a write lock on the whole file:
// other processes may still read it, but a second writer (another copy of the program included)
// cannot open it. The program's platform file calls live in this class and its few helpers.
class File {
public:
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    struct Options {
        bool create = false;    // create the file when missing (an existing one is not cut)
        bool readOnly = false;  // read only, without the lock: nothing is ever written
        bool noFollow = false;  // a symbolic link or anything but a regular file is refused
        bool exclusive = false; // with create: a file that exists already is refused
    };
    // Opens an existing file (create = false) or creates it when missing
    // (create = true; an existing file is opened as it is, not truncated).
    // On failure returns false and sets `failure`; nothing in the file changes.
    bool open(const std::string& path, bool create, FileFailure& failure);
    bool open(const std::string& path, const Options& options, FileFailure& failure);
    bool readOnly() const { return m_readOnly; }
    // False when the platform reports a late write error at the close.
    bool close();
    bool isOpen() const { return m_fd >= 0; }
    // The platform's descriptor, for a mapping of the file.
    int descriptor() const { return m_fd; }

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
    // The platform's error code of the last failure (0 when it gave none).
    int lastError() const { return m_lastError; }

private:
    bool fail(FileFailure failure, int error);
    // What one write call that returned `put` did: bytes written (and counted), interrupted
    // before any (write again), or failed (recorded).
    enum class Step { Wrote, Again, Failed };
    Step stepOf(long put);

    int m_fd = -1;
    bool m_readOnly = false;
    FileFailure m_lastFailure = FileFailure::Io;
    int m_lastError = 0;
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
bool open_temp_beside(const std::string& target, File& file, std::string& tempPath, FileFailure& failure);

// Puts the complete file `temp` in the place of `target` in one step and makes that durable:
// the rename, then the folder synced. False when the rename fails (then `temp` is still there).
// `followLink` false: a link under `target` is refused, not followed.
bool replace_with(const std::string& temp, const std::string& target, bool followLink = true);

// Removes the temporaries of `target` that a killed run left: those of our own naming that no
// running program holds.
void remove_stale_temps(const std::string& target, bool followLink = true);

// A piece of a whole file, where it lies in memory.
struct FilePiece {
    const void* data;
    size_t size;
};
// Why a whole-file write failed: the kind, the platform's error code, and whether it failed
// before a byte was written (the target could not be held, the temporary not made).
struct WholeFileFailure {
    FileFailure failure = FileFailure::Io;
    int error = 0;
    bool beforeWrite = false;
};
// Writes a whole file, its pieces one after another, under a temporary name beside it, flushes
// it and renames it over `path`, so that `path` is either what it was or complete. With
// `lockTarget` an existing target is held exclusively while that happens (a second writer of it
// is refused). Returns false (and why) otherwise, with nothing left under the temporary name.
bool write_whole_file(const std::string& path, const std::vector<FilePiece>& pieces, bool lockTarget,
                      WholeFileFailure& why);
bool write_whole_file(const std::string& path, const void* data, size_t size, FileFailure& failure);
// What a failed whole-file write says: what went wrong, naming the file, and that the older file
// is kept ("Прежний файл, если он был, не изменён.").
std::string whole_file_failure_text(const WholeFileFailure& why, const std::string& path);

// The folder a path names its file in: "." for a bare name, "/" for a file at the root.
std::string folder_of(const std::string& path);

// Where a file name's extension begins (its dot), or the name's length when it has none.
size_t extension_start(const std::string& path);
// The extension without its dot, in lower case ("xls" for "Отчёт.XLS"); empty when none.
std::string lower_extension(const std::string& path);

// What a path that is there is, when it is not a regular file ("папка", "именованный канал", …);
// empty for a regular file or nothing at all.
std::string non_regular_kind(const std::string& path);

bool file_exists(const std::string& path);
// How many names the file has (hard links); 0 when it cannot be read.
unsigned link_count(const std::string& path);
bool remove_file(const std::string& path);
// Replaces `to` by `from` in one step.
bool rename_file(const std::string& from, const std::string& to);

} // namespace ulen3
