#include "export/CompoundFile.h"

#include "base/Bytes.h"
#include "base/File.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ulen3 {

namespace {

constexpr std::uint32_t kSectorSize = 512;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kEntriesPerSector = kSectorSize / 4; // FAT, mini FAT
constexpr std::uint32_t kHeaderDifat = 109;
constexpr std::uint32_t kDifatPerSector = 127;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;

std::uint32_t sectors_for(std::uint64_t bytes, std::uint32_t size) {
    return static_cast<std::uint32_t>((bytes + size - 1) / size);
}

// A 128-byte directory entry.
void directory_entry(std::uint8_t* e, const std::u16string& name, std::uint8_t type, std::uint32_t child,
                     std::uint32_t start, std::uint32_t size) {
    for (std::size_t i = 0; i < name.size(); ++i)
        put_le16(e + 2 * i, name[i]);
    put_le16(e + 64, static_cast<std::uint16_t>(2 * (name.size() + 1)));
    e[66] = type;
    e[67] = 1; // black
    put_le32(e + 68, kNoStream);
    put_le32(e + 72, kNoStream);
    put_le32(e + 76, child);
    put_le32(e + 116, start);
    put_le32(e + 120, size);
}

// The bytes that come before and after the stream's own bytes in the file.
struct Layout {
    std::vector<std::uint8_t> header;  // 512 bytes
    std::size_t padding = 0;           // zero bytes after the stream up to a sector boundary
    std::vector<std::uint8_t> trailer; // directory, mini FAT, FAT and DIFAT sectors
};

Layout layout(const std::u16string& streamName, std::uint32_t streamSize) {
    const bool mini = streamSize < kMiniStreamCutoff;
    // Sector 0 on: the stream (or the mini stream holding it), then the directory sector,
    // the mini FAT sectors, the FAT sectors and the DIFAT sectors.
    const std::uint32_t miniSectors = mini ? sectors_for(streamSize, kMiniSectorSize) : 0;
    const std::uint32_t dataBytes = mini ? miniSectors * kMiniSectorSize : streamSize;
    const std::uint32_t dataSectors = sectors_for(dataBytes, kSectorSize);
    const std::uint32_t dirSector = dataSectors;
    const std::uint32_t miniFatSectors = sectors_for(miniSectors, kEntriesPerSector);
    const std::uint32_t fixedSectors = dataSectors + 1 + miniFatSectors;
    std::uint32_t fatSectors = 1, difatSectors = 0;
    for (;;) {
        difatSectors = fatSectors > kHeaderDifat ? sectors_for(fatSectors - kHeaderDifat, kDifatPerSector) : 0;
        if (fixedSectors + fatSectors + difatSectors <= fatSectors * kEntriesPerSector)
            break;
        ++fatSectors;
    }
    const std::uint32_t firstMiniFat = dirSector + 1;
    const std::uint32_t firstFat = firstMiniFat + miniFatSectors;
    const std::uint32_t firstDifat = firstFat + fatSectors;

    Layout l;
    l.padding = dataSectors * kSectorSize - streamSize;
    l.header.assign(kSectorSize, 0);
    std::uint8_t* h = l.header.data();
    static const std::uint8_t signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(h, signature, 8);
    put_le16(h + 24, 0x003E); // minor version
    put_le16(h + 26, 0x0003); // major version 3: 512-byte sectors
    put_le16(h + 28, 0xFFFE); // little-endian
    put_le16(h + 30, 9);      // sector shift
    put_le16(h + 32, 6);      // mini sector shift
    put_le32(h + 44, fatSectors);
    put_le32(h + 48, dirSector);
    put_le32(h + 56, kMiniStreamCutoff);
    put_le32(h + 60, miniFatSectors ? firstMiniFat : kEndOfChain);
    put_le32(h + 64, miniFatSectors);
    put_le32(h + 68, difatSectors ? firstDifat : kEndOfChain);
    put_le32(h + 72, difatSectors);
    for (std::uint32_t i = 0; i < kHeaderDifat; ++i)
        put_le32(h + 76 + 4 * i, i < fatSectors ? firstFat + i : kFreeSect);

    const std::uint32_t trailerSectors = 1 + miniFatSectors + fatSectors + difatSectors;
    l.trailer.assign(std::size_t(trailerSectors) * kSectorSize, 0);
    std::uint8_t* dir = l.trailer.data();
    for (int i = 0; i < 4; ++i) {
        put_le32(dir + 128 * i + 68, kNoStream);
        put_le32(dir + 128 * i + 72, kNoStream);
        put_le32(dir + 128 * i + 76, kNoStream);
    }
    directory_entry(dir, u"Root Entry", 5, 1, mini ? 0 : kEndOfChain, mini ? dataBytes : 0);
    directory_entry(dir + 128, streamName, 2, kNoStream, 0, streamSize);

    std::uint8_t* miniFat = dir + kSectorSize;
    for (std::uint32_t i = 0; i < miniFatSectors * kEntriesPerSector; ++i)
        put_le32(miniFat + 4 * i, i + 1 < miniSectors ? i + 1 : i + 1 == miniSectors ? kEndOfChain : kFreeSect);

    std::uint8_t* fat = miniFat + std::size_t(miniFatSectors) * kSectorSize;
    const std::uint32_t fatEntries = fatSectors * kEntriesPerSector;
    for (std::uint32_t i = 0; i < fatEntries; ++i) {
        std::uint32_t v = kFreeSect;
        if (i < dataSectors)
            v = i + 1 < dataSectors ? i + 1 : kEndOfChain;
        else if (i == dirSector)
            v = kEndOfChain;
        else if (i >= firstMiniFat && i < firstFat)
            v = i + 1 < firstFat ? i + 1 : kEndOfChain;
        else if (i >= firstFat && i < firstDifat)
            v = kFatSect;
        else if (i >= firstDifat && i < firstDifat + difatSectors)
            v = kDifSect;
        put_le32(fat + 4 * i, v);
    }

    std::uint8_t* difat = fat + std::size_t(fatSectors) * kSectorSize;
    for (std::uint32_t d = 0; d < difatSectors; ++d) {
        std::uint8_t* sector = difat + std::size_t(d) * kSectorSize;
        for (std::uint32_t k = 0; k < kDifatPerSector; ++k) {
            const std::uint32_t fatIndex = kHeaderDifat + d * kDifatPerSector + k;
            put_le32(sector + 4 * k, fatIndex < fatSectors ? firstFat + fatIndex : kFreeSect);
        }
        put_le32(sector + 4 * kDifatPerSector, d + 1 < difatSectors ? firstDifat + d + 1 : kEndOfChain);
    }
    return l;
}

std::int32_t status_of(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return stg::kAccessDenied;
    case ENOENT:
    case ENOTDIR:
        return stg::kPathNotFound;
    case EAGAIN:
    case EBUSY:
    case ETXTBSY:
        return stg::kShareViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return stg::kMediumFull;
    case ENAMETOOLONG:
        return stg::kInvalidName;
    case EMFILE:
    case ENFILE:
        return stg::kTooManyOpenFiles;
    case ENOMEM:
        return stg::kInsufficientMemory;
    default:
        return stg::kFail;
    }
}

} // namespace

std::string create_file_error(std::int32_t status, const std::string& path) {
    std::string text = "StgCreateDocFile error " + std::to_string(status);
    if (path.empty())
        return text;
    const std::string folder = folder_of(path);
    const std::string name = "«" + path + "»";
    switch (status) {
    case stg::kAccessDenied:
        text += ": нет прав на запись в " + name + " или в папку «" + folder + "»";
        break;
    case stg::kPathNotFound:
        text += ": нет папки «" + folder + "»";
        break;
    case stg::kShareViolation:
        text += ": файл " + name + " открыт другой программой";
        break;
    case stg::kMediumFull:
        text += ": недостаточно места на диске для " + name;
        break;
    case stg::kInvalidName:
        text += ": имя файла " + name + " слишком длинное";
        break;
    case stg::kTooManyOpenFiles:
        text += ": открыто слишком много файлов";
        break;
    default:
        text += ": файл " + name + " не создан";
        break;
    }
    struct stat st {};
    return text +
           (::stat(path.c_str(), &st) == 0 ? "; книга не записана, прежний файл не изменён" : "; книга не записана");
}

std::string create_stream_error(std::int32_t status) { return "CreateStream error " + std::to_string(status); }

void write_compound_file(const std::string& path, const std::u16string& streamName,
                         const std::vector<std::uint8_t>& stream) {
    if (stream.size() > 0x7FFFFE00u)
        throw CompoundFileError(create_stream_error(stg::kMediumFull));
    const Layout l = layout(streamName, static_cast<std::uint32_t>(stream.size()));

    // The new file is complete under a temporary name of its own before it replaces the target,
    // which is held exclusively meanwhile.
    static const std::uint8_t zeros[kSectorSize] = {};
    WholeFileFailure why;
    if (!write_whole_file(path,
                          {{l.header.data(), l.header.size()},
                           {stream.data(), stream.size()},
                           {zeros, l.padding},
                           {l.trailer.data(), l.trailer.size()}},
                          true, why))
        throw CompoundFileError(why.beforeWrite ? create_file_error(status_of(why.error), path)
                                                : whole_file_failure_text(why, path));
}

} // namespace ulen3
