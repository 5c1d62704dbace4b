// The column layout text parser on arbitrary settings values: what it reads it writes, and that
// text reads and writes again to the very same bytes.

#include "settings/LayoutText.h"

#include <cstdlib>

using namespace ulen3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<StoredColumn> columns;
    try {
        columns = read_layout({reinterpret_cast<const char*>(data), size});
    } catch (const LayoutError&) {
        return 0;
    }
    const std::string text = write_layout(columns);
    if (write_layout(read_layout(text)) != text)
        std::abort(); // writer and parser disagree
    return 0;
}
