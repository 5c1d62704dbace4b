// The anchor of the text sort's side-by-side figures: what a program that sorts a table's
// COMMENT field with ICU's own sort keys does. It reads the dBase file, converts each record's
// field from Windows-1251, takes ICU's Russian sort key of it, and sorts the keys.

#include <unicode/ucnv.h>
#include <unicode/ucol.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: icu-sort-anchor TABLE.db FIELD\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 32)
        return 1;
    const unsigned count = file[4] | file[5] << 8 | file[6] << 16 | unsigned(file[7]) << 24;
    const unsigned header = file[8] | file[9] << 8, length = file[10] | file[11] << 8;
    unsigned offset = 1, width = 0;
    for (unsigned at = 32; at + 32 <= header && file[at] != 0x0D; at += 32) {
        if (std::strncmp(reinterpret_cast<const char*>(&file[at]), argv[2], 11) == 0) {
            width = file[at + 16];
            break;
        }
        offset += file[at + 16];
    }
    if (!width)
        return 1;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* cp = ucnv_open("windows-1251", &status);
    UCollator* ru = ucol_open("ru", &status);
    if (U_FAILURE(status))
        return 1;
    std::vector<std::string> keys;
    keys.reserve(count);
    std::vector<UChar> text(width * 2 + 2);
    for (unsigned r = 0; r < count && header + (r + 1) * length <= file.size(); ++r) {
        const char* field = reinterpret_cast<const char*>(&file[header + r * length + offset]);
        status = U_ZERO_ERROR;
        const int32_t n = ucnv_toUChars(cp, text.data(), static_cast<int32_t>(text.size()), field,
                                        static_cast<int32_t>(width), &status);
        uint8_t key[1024];
        const int32_t k = ucol_getSortKey(ru, text.data(), n, key, sizeof key);
        keys.emplace_back(reinterpret_cast<const char*>(key), static_cast<size_t>(std::min<int32_t>(k, 1024)));
    }
    std::sort(keys.begin(), keys.end());
    std::printf("%zu keys sorted\n", keys.size());
    ucol_close(ru);
    ucnv_close(cp);
    return 0;
}
