// A sound table with header byte 28 set and an arbitrary index file beside it: the tags are read
// and built again, sorted views walked, and nothing crashes.

#include "table/ObservationTable.h"

#include <cstdio>
#include <string>
#include <unistd.h>

using namespace ulen3;

namespace {

// One folder in memory (tmpfs) for the run; the table is written once.
const std::string& folder() {
    static const std::string dir = [] {
        char name[] = "/dev/shm/ulen3-fuzz-index-XXXXXX";
        const char* made = ::mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string table = folder() + "/t.db";
    const std::string index = folder() + "/t.mdx";
    static bool made = false;
    if (!made) {
        ObservationTable t;
        t.CreateEmpty(table);
        t.Open(table);
        for (int i = 0; i < 40; ++i) {
            t.Append();
            t.SetNumber(Field::N, i);
            t.SetNumber(Field::P, (i * 37) % 11 - 5.5);
            t.SetText(Field::COMMENT, i % 3 ? "Плита" : "ёлка");
            t.Post();
        }
        t.AddTag("tab1", "P", false);
        t.Close();
        made = true;
    }
    if (FILE* f = std::fopen(index.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    // Byte 28 is set again every time: a refused index clears it at the close.
    if (FILE* f = std::fopen(table.c_str(), "r+b")) {
        std::fseek(f, 28, SEEK_SET);
        std::fputc(1, f);
        std::fclose(f);
    }
    try {
        ObservationTable t;
        t.Open(table);
        for (const std::string& tag : t.TagNames()) {
            t.SetIndexName(tag);
            for (t.First(); !t.Eof(); t.Next())
                (void)t.Number(Field::P);
        }
        t.RebuildTags();
        t.Close();
    } catch (const std::exception&) {
    }
    return 0;
}
