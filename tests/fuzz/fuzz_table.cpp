// A table file of arbitrary bytes: opened, every record and field read, one record appended and
// one edited when it opens; nothing may crash or read outside the file.

#include "FuzzSupport.h"
#include "table/ObservationTable.h"

using namespace ulen3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::MemoryFile file(data, size);
    ObservationTable table;
    table.SetToday([] { return HeaderDate{126, 12, 9}; });
    try {
        table.Open(file.path());
    } catch (const std::exception&) {
        return 0;
    }
    try {
        const RecordView records = table.Records();
        size_t total = 0;
        for (int row = 0; row < records.Count(); ++row)
            for (int f = 0; f < kFieldCount; ++f)
                total += records.Text(row, static_cast<Field>(f)).size() +
                         (records.IsNull(row, static_cast<Field>(f)) ? 1 : 0) +
                         static_cast<size_t>(records.Number(row, static_cast<Field>(f)) != 0);
        table.SetFilter("NB_TYPE=1");
        table.SetFilter("");
        table.Append();
        table.SetText(Field::COMMENT, "ёлка");
        table.SetNumber(Field::P, 1.5);
        table.Post();
        table.First();
        table.Edit();
        table.SetNumber(Field::N, static_cast<double>(total % 1000));
        table.Post();
        table.Close();
    } catch (const std::exception&) {
    }
    return 0;
}
