#include "BenchRecords.h"

#include "table/ObservationTable.h"

#include <cstdio>

namespace ulen3 {

void append_bench_records(ObservationTable& table, int count) {
    static const char* const kComments[] = {
        "Плита перекрытия, ось А", "ёлка у входа", "Фундамент", "  отступ", "Ёмкость №2", "", "стена"};
    static const char* const kTypes[] = {"диам. 300", "куб 150", "AxB 200x300"};
    unsigned seed = 12345;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        char date[16], time[16];
        std::snprintf(date, sizeof date, "%02d.%02d.20%02d", 1 + i % 28, 1 + i % 12, 10 + i % 15);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", i % 24, i % 60, (i * 7) % 60);
        table.Append();
        table.SetNumber(Field::N, i + 1);
        table.SetText(Field::DATE, date);
        table.SetText(Field::TIME, time);
        table.SetInteger(Field::DEV_TYPE, 7);
        table.SetNumber(Field::SERIAL, 4321);
        table.SetInteger(Field::NB_TYPE, 0);
        table.SetNumber(Field::P, static_cast<double>(seed % 100000) / 100.0 - 100.0);
        table.SetNumber(Field::R, static_cast<double>((seed >> 8) % 10000) / 1000.0);
        table.SetText(Field::TYPE, kTypes[i % 3]);
        table.SetText(Field::COMMENT, kComments[(seed >> 4) % 7]);
        table.SetNumber(Field::H, i % 1000);
        table.Post();
    }
}

} // namespace ulen3
