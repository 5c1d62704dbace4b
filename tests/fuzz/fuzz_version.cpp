// The version-information reader on arbitrary program files.

#include "app/FileVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)ulen3::file_version_of(bytes).size();
    return 0;
}
