#pragma once

#include <string>

namespace ulen3 {
class ObservationTable;

// Appends and posts `count` records shaped like a download's into the open table.
void append_bench_records(ObservationTable& table, int count);
} // namespace ulen3
