// The memory image decoder on an arbitrary image and delivered length, into a new table and as
// an append onto one with records of the same instrument.

#include "FuzzSupport.h"
#include "decode/ImageDecoder.h"
#include "table/ObservationTable.h"

using namespace ulen3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    // The first byte says how much of the rest the download delivered and whether to append.
    const bool append = data[0] & 1;
    const size_t image = size - 1;
    const size_t delivered = data[0] & 2 ? image : image * (data[0] >> 2) / 63;
    fuzz::MemoryFile file;
    ObservationTable table;
    table.SetToday([] { return HeaderDate{126, 12, 9}; });
    try {
        table.CreateEmpty(file.path());
        table.Open(file.path());
        if (append) {
            table.Append();
            table.SetText(Field::DATE, "05.03.2006");
            table.SetText(Field::TIME, "10:15:30");
            table.SetInteger(Field::DEV_TYPE, 0x21);
            table.SetNumber(Field::SERIAL, 1234);
            table.SetText(Field::TYPE, "диам. 50 мм");
            table.Post();
        }
        flash2ulen3(table, {data + 1, std::min(delivered, image), 0x21, 1234}, append, ',');
        table.Close();
    } catch (const std::exception&) {
    }
    return 0;
}
