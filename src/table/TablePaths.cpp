#include "table/TablePaths.h"

#include "base/Bytes.h"
#include "base/File.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulen3 {

std::string index_path_of(const std::string& table) { return table.substr(0, extension_start(table)) + ".mdx"; }

namespace {

bool same_file(const struct stat& a, const std::string& path) {
    struct stat b {};
    return !path.empty() && ::stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The head of a dBase table: a known version byte, a header of 32-byte field descriptors after
// the 32-byte file header, and a record length.
bool looks_like_table(int fd) {
    unsigned char head[32];
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head))
        return false;
    static const unsigned char versions[] = {0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x43,
                                             0x63, 0x83, 0x8B, 0x8E, 0xCB, 0xF5, 0xFB};
    const unsigned headerLength = get_le16(head + 8);
    const unsigned recordLength = get_le16(head + 10);
    return std::find(std::begin(versions), std::end(versions), head[0]) != std::end(versions) && headerLength >= 65 &&
           (headerLength - 1) % 32 == 0 && recordLength > 0;
}

} // namespace

std::string output_refusal(const std::string& out, const std::string& input, const std::string& what) {
    struct stat st {};
    if (::stat(out.c_str(), &st) != 0)
        return {}; // nothing there yet: a new file
    const std::string name = "«" + out + "»";
    const std::string kept = "; файл не изменён";
    if (!S_ISREG(st.st_mode))
        return what + ": " + name + " — " + non_regular_kind(out);
    if (same_file(st, input))
        return what + ": " + name + " — это таблица, из которой взяты записи" + kept;
    if (!input.empty() && same_file(st, index_path_of(input)))
        return what + ": " + name + " — это индекс таблицы, из которой взяты записи" + kept;
    const std::string ext = lower_extension(out);
    if (ext == "mdx" || ext == "ndx")
        return what + ": " + name + " — индексный файл dBase" + kept;
    const int fd = ::open(out.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {}; // the writer says why it cannot write there
    std::string why;
    if (ext == "db" || ext == "dbf" || looks_like_table(fd)) {
        why = " — таблица dBase";
    } else {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK)
            why = " открыт другой программой для записи";
    }
    ::close(fd);
    return why.empty() ? std::string() : what + ": " + name + why + kept;
}

} // namespace ulen3
