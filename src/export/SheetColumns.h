#pragma once

// The columns of an exported page, the same in every file type: the header text and the field
// each data row's cell comes from, and whether the cell is a number or a text.

#include "table/ObservationFields.h"

namespace ulen3 {

struct SheetColumn {
    const char* title;
    Field field;
    bool number;
};

constexpr int kSheetColumnCount = 8;
extern const SheetColumn kSheetColumns[kSheetColumnCount];

} // namespace ulen3
