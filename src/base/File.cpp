#include "base/File.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>

namespace ulen3 {
namespace {

WriteFaults* g_faults = nullptr;

// How many of n bytes the faults let through; errno is set when fewer.
size_t allowed(size_t n) {
    if (!g_faults || g_faults->bytesLeft < 0)
        return n;
    const size_t left = static_cast<size_t>(g_faults->bytesLeft);
    if (n <= left)
        return n;
    if (left == 0) {
        // The fault strikes now, once.
        errno = g_faults->error;
        g_faults->bytesLeft = -1;
        return 0;
    }
    return left; // a short write; the next piece fails
}

void count(size_t n) {
    if (!g_faults)
        return;
    g_faults->written += static_cast<int64_t>(n);
    if (g_faults->bytesLeft >= 0)
        g_faults->bytesLeft -= static_cast<int64_t>(std::min<size_t>(n, static_cast<size_t>(g_faults->bytesLeft)));
}

} // namespace

FileFailure file_failure_of(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return FileFailure::NotFound;
    case EAGAIN:
    case EACCES:
        return err == EACCES ? FileFailure::NoPermission : FileFailure::Busy;
    case EPERM:
    case EROFS:
        return FileFailure::NoPermission;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
        return FileFailure::NoSpace;
    default:
        return FileFailure::Io;
    }
}

std::string whole_file_failure_text(const WholeFileFailure& why, const std::string& path) {
    const std::string kept = " Прежний файл, если он был, не изменён.";
    switch (why.failure) {
    case FileFailure::NotFound:
        if (why.beforeWrite)
            return "Нет папки «" + folder_of(path) + "»: файл «" + path + "» не записан." + kept;
        break;
    case FileFailure::NoSpace:
        return file_failure_text(why.failure, path) + "." + kept;
    case FileFailure::NoPermission:
        return "Нет прав на запись файла «" + path + "»." + kept;
    case FileFailure::Busy:
    case FileFailure::NotRegular:
    case FileFailure::Changed:
        return file_failure_text(why.failure, path) + "." + kept;
    case FileFailure::Io:
        break;
    }
    return "Ошибка записи файла «" + path + "» (" + std::strerror(why.error) + ")." + kept;
}

std::string file_failure_text(FileFailure failure, const std::string& path) {
    const std::string name = "«" + path + "»";
    switch (failure) {
    case FileFailure::NotFound:
        return "Файл " + name + " не найден";
    case FileFailure::Busy:
        return "Файл " + name + " занят другой программой";
    case FileFailure::NoPermission:
        return "Нет прав на запись в файл " + name;
    case FileFailure::NoSpace:
        return "Недостаточно места на диске для файла " + name;
    case FileFailure::NotRegular: {
        const std::string kind = non_regular_kind(path);
        return kind.empty() ? "Файл " + name + " — ссылка или не обычный файл; он не открыт"
                            : name + " — " + kind + ", а не файл таблицы; он не открыт";
    }
    case FileFailure::Changed:
        return "Файл " + name + " укорочен или заменён другой программой";
    case FileFailure::Io:
        break;
    }
    return "Ошибка ввода-вывода в файле " + name;
}

File::File(File&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_readOnly(other.m_readOnly), m_lastFailure(other.m_lastFailure),
      m_lastError(other.m_lastError) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_readOnly = other.m_readOnly;
        m_lastFailure = other.m_lastFailure;
        m_lastError = other.m_lastError;
    }
    return *this;
}

File::~File() { close(); }

bool File::open(const std::string& path, bool create, FileFailure& failure) {
    Options options;
    options.create = create;
    return open(path, options, failure);
}

bool File::open(const std::string& path, const Options& options, FileFailure& failure) {
    close();
    const int flags = (options.readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | (options.create ? O_CREAT : 0) |
                      (options.noFollow ? O_NOFOLLOW : 0) | (options.create && options.exclusive ? O_EXCL : 0);
    // Opened without waiting, so that a named pipe cannot hang the open; anything but a regular
    // file (a folder, a pipe, a device) is refused before a byte is read.
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK, 0644);
    if (fd < 0) {
        failure =
            errno == ELOOP || errno == EISDIR || errno == ENXIO ? FileFailure::NotRegular : file_failure_of(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        failure = FileFailure::NotRegular;
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // An open-file-description lock conflicts with every other opener that asks
    // for one, in this process or another; plain readers are not affected.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    if (!options.readOnly && ::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        failure = FileFailure::Busy;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_readOnly = options.readOnly;
    return true;
}

bool File::close() {
    if (m_fd < 0)
        return true;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    return closed || fail(file_failure_of(errno), errno);
}

bool File::fail(FileFailure failure, int error) {
    m_lastFailure = failure;
    m_lastError = error;
    return false;
}

int64_t File::size() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0)
        return -1;
    return st.st_size;
}

bool File::readAt(int64_t offset, void* data, size_t n) const {
    auto* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t got = ::pread(m_fd, p, n, offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
        offset += got;
    }
    return true;
}

void set_write_faults(WriteFaults* faults) { g_faults = faults; }

File::Step File::stepOf(long put) {
    if (put > 0) {
        count(static_cast<size_t>(put));
        return Step::Wrote;
    }
    if (put < 0 && errno == EINTR)
        return Step::Again;
    if (put < 0)
        fail(file_failure_of(errno), errno);
    else
        fail(FileFailure::NoSpace, ENOSPC);
    return Step::Failed;
}

bool File::writeAt(int64_t offset, const void* data, size_t n) {
    if (m_readOnly)
        return fail(FileFailure::NoPermission, EBADF);
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const size_t may = allowed(n);
        if (may == 0)
            return fail(file_failure_of(errno), errno);
        const ssize_t put = ::pwrite(m_fd, p, may, offset);
        const Step step = stepOf(put);
        if (step == Step::Again)
            continue;
        if (step == Step::Failed)
            return false;
        p += put;
        n -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
}

bool File::writeBlocksAt(int64_t offset, const std::vector<const void*>& blocks, size_t blockSize) {
    if (m_readOnly)
        return fail(FileFailure::NoPermission, EBADF);
    // pwritev takes at most IOV_MAX pieces at a time; a short write goes on from where it stopped.
    std::vector<iovec> pieces;
    for (size_t first = 0; first < blocks.size();) {
        const size_t n = std::min<size_t>(blocks.size() - first, IOV_MAX);
        // Under faults a block at a time, so that they can cut anywhere.
        if (g_faults && g_faults->bytesLeft >= 0) {
            if (!writeAt(offset, blocks[first], blockSize))
                return false;
            offset += static_cast<int64_t>(blockSize);
            ++first;
            continue;
        }
        pieces.resize(n);
        for (size_t i = 0; i < n; ++i)
            pieces[i] = {const_cast<void*>(blocks[first + i]), blockSize};
        const ssize_t put = ::pwritev(m_fd, pieces.data(), static_cast<int>(n), offset);
        const Step step = stepOf(put);
        if (step == Step::Again)
            continue;
        if (step == Step::Failed)
            return false;
        const size_t whole = static_cast<size_t>(put) / blockSize;
        const size_t part = static_cast<size_t>(put) % blockSize;
        if (part != 0) {
            // Finish the block that was cut, then go on with the next ones.
            const auto* rest = static_cast<const char*>(blocks[first + whole]) + part;
            if (!writeAt(offset + put, rest, blockSize - part))
                return false;
        }
        const size_t done = whole + (part != 0 ? 1 : 0);
        offset += static_cast<int64_t>(done * blockSize);
        first += done;
    }
    return true;
}

bool File::truncate(int64_t length) {
    if (m_readOnly)
        return fail(FileFailure::NoPermission, EBADF);
    return ::ftruncate(m_fd, length) == 0 || fail(file_failure_of(errno), errno);
}

bool File::sync() {
    if (g_faults && g_faults->failSync)
        return fail(FileFailure::Io, EIO);
    return ::fsync(m_fd) == 0 || fail(file_failure_of(errno), errno);
}

void ignore_file_size_signal() { std::signal(SIGXFSZ, SIG_IGN); }

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string resolved_path(const std::string& path) {
    char real[PATH_MAX];
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) || ::realpath(path.c_str(), real) == nullptr)
        return path;
    return real;
}

namespace {

// The folder of a path and the name in it.
std::pair<std::string, std::string> split_path(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return {folder_of(path), slash == std::string::npos ? path : path.substr(slash + 1)};
}

constexpr const char* kTempMark = ".ulen3-";

} // namespace

std::string temp_name_beside(const std::string& target, bool followLink) {
    static unsigned counter = 0;
    const auto [folder, name] = split_path(followLink ? resolved_path(target) : target);
    return folder + "/." + name + kTempMark + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

bool open_temp_beside(const std::string& target, File& file, std::string& tempPath, FileFailure& failure) {
    File::Options options;
    options.create = true;
    options.exclusive = true;
    options.noFollow = true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = temp_name_beside(target);
        if (file.open(tempPath, options, failure))
            return true;
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool replace_with(const std::string& temp, const std::string& target, bool followLink) {
    struct stat st {};
    if (!followLink && ::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return false;
    const std::string real = followLink ? resolved_path(target) : target;
    if (!rename_file(temp, real))
        return false;
    // The new name must survive a power cut as the new contents do.
    const int folder = ::open(split_path(real).first.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

void remove_stale_temps(const std::string& target, bool followLink) {
    const auto [folder, name] = split_path(followLink ? resolved_path(target) : target);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const std::string prefix = "." + name + kTempMark;
    while (const dirent* e = ::readdir(dir)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0)
            continue;
        const std::string path = folder + "/" + e->d_name;
        // One that a running program writes is locked by it; one nobody holds is left over.
        const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fcntl(fd, F_OFD_SETLK, &lock) == 0)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

namespace {

// Holds an existing file exclusively while a new one takes its place.
class TargetLock {
public:
    // False (and why) when the file is there but cannot be held.
    bool hold(const std::string& path, WholeFileFailure& why) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0) {
            why = {file_failure_of(errno), errno, true};
            return errno == ENOENT;
        }
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(m_fd, F_OFD_SETLK, &lock) != 0) {
            why = {FileFailure::Busy, EAGAIN, true};
            return false;
        }
        return true;
    }
    ~TargetLock() {
        if (m_fd >= 0)
            ::close(m_fd);
    }

private:
    int m_fd = -1;
};

} // namespace

bool write_whole_file(const std::string& path, const std::vector<FilePiece>& pieces, bool lockTarget,
                      WholeFileFailure& why) {
    TargetLock target;
    if (lockTarget && !target.hold(path, why))
        return false;
    // What a killed run left beside the target goes first.
    remove_stale_temps(path);
    File file;
    std::string temp;
    if (!open_temp_beside(path, file, temp, why.failure)) {
        why.error = errno;
        why.beforeWrite = true;
        return false;
    }
    bool written = true;
    int64_t at = 0;
    for (const FilePiece& piece : pieces) {
        written = written && file.writeAt(at, piece.data, piece.size);
        at += static_cast<int64_t>(piece.size);
    }
    written = written && file.sync();
    written = file.close() && written;
    if (!written) {
        why = {file.lastFailure(), file.lastError(), false};
    } else if (!replace_with(temp, path)) {
        why = {FileFailure::Io, errno, false};
        written = false;
    }
    if (!written)
        remove_file(temp);
    return written;
}

bool write_whole_file(const std::string& path, const void* data, size_t size, FileFailure& failure) {
    WholeFileFailure why;
    const bool written = write_whole_file(path, {{data, size}}, false, why);
    failure = why.failure;
    return written;
}

bool file_exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

unsigned link_count(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_nlink) : 0;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool rename_file(const std::string& from, const std::string& to) {
    if (g_faults && g_faults->failRename) {
        errno = EIO;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

size_t extension_start(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path.size();
    return dot;
}

std::string lower_extension(const std::string& path) {
    const size_t dot = extension_start(path);
    std::string ext = dot < path.size() ? path.substr(dot + 1) : std::string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string non_regular_kind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return "папка";
    if (S_ISFIFO(st.st_mode))
        return "именованный канал";
    if (S_ISSOCK(st.st_mode))
        return "сокет";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return "устройство";
    return "не обычный файл";
}

} // namespace ulen3
