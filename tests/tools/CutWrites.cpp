// A shim for crash tests, preloaded into a real process: it lets the process write only the
// first CUT_WRITES_AFTER bytes to regular files (a write that crosses the mark writes its part
// up to it) and then kills it with SIGKILL, as a power cut or a kill would. With
// CUT_WRITES_COUNT=PATH it kills nothing and writes at exit how many bytes went to files.

#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

long long g_limit = -1;
long long g_written;
const char* g_countPath;

__attribute__((constructor)) void start() {
    const char* limit = getenv("CUT_WRITES_AFTER");
    g_limit = limit ? atoll(limit) : -1;
    g_countPath = getenv("CUT_WRITES_COUNT");
}

__attribute__((destructor)) void end() {
    if (!g_countPath)
        return;
    FILE* f = fopen(g_countPath, "w");
    if (f) {
        fprintf(f, "%lld\n", g_written);
        fclose(f);
    }
}

bool to_file(int fd) {
    struct stat st;
    return fd > 2 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// How many of n bytes may go; at the mark the process dies.
size_t allowed(int fd, size_t n) {
    if (g_limit < 0 || !to_file(fd))
        return n;
    if (g_written >= g_limit)
        raise(SIGKILL);
    const long long left = g_limit - g_written;
    return static_cast<long long>(n) < left ? n : static_cast<size_t>(left);
}

void counted(int fd, ssize_t n) {
    if (n > 0 && to_file(fd))
        g_written += n;
}

template <class F> F next(const char* name) { return reinterpret_cast<F>(dlsym(RTLD_NEXT, name)); }

} // namespace

extern "C" {

ssize_t write(int fd, const void* data, size_t n) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    const ssize_t w = real(fd, data, allowed(fd, n));
    counted(fd, w);
    return w;
}

ssize_t pwrite(int fd, const void* data, size_t n, off_t offset) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    const ssize_t w = real(fd, data, allowed(fd, n), offset);
    counted(fd, w);
    return w;
}

ssize_t pwrite64(int fd, const void* data, size_t n, off64_t offset) { return pwrite(fd, data, n, offset); }

// Vectored writes go out one block at a time, so that the cut can fall inside any of them.
static ssize_t vectored(int fd, const struct iovec* v, int count, off_t offset, bool positioned) {
    ssize_t total = 0;
    for (int i = 0; i < count; ++i) {
        const ssize_t w = positioned ? pwrite(fd, v[i].iov_base, v[i].iov_len, offset + total)
                                     : write(fd, v[i].iov_base, v[i].iov_len);
        if (w < 0)
            return total ? total : w;
        total += w;
        if (static_cast<size_t>(w) < v[i].iov_len)
            break;
    }
    return total;
}

ssize_t writev(int fd, const struct iovec* v, int count) { return vectored(fd, v, count, 0, false); }
ssize_t pwritev(int fd, const struct iovec* v, int count, off_t offset) { return vectored(fd, v, count, offset, true); }
ssize_t pwritev64(int fd, const struct iovec* v, int count, off64_t offset) {
    return vectored(fd, v, count, offset, true);
}

} // extern "C"
