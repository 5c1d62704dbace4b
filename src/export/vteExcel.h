#pragma once

// TvteExcelWriter: stores a workbook model as an Excel 97–2003 file, a compound file whose root
// holds one stream "Workbook" with a BIFF8 workbook stream.

#include "export/vteExcelTypes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ulen3 {

// The RGB value (red in the lowest byte) of a system colour; window text (8) is black on a
// standard desktop.
using SystemColorSource = std::function<TvteColor(std::uint32_t systemColor)>;
TvteColor standard_system_color(std::uint32_t systemColor);

class TvteExcelWriter : public TvteCustomWriter {
public:
    TvteExcelWriter();

    // Creates or replaces the file; throws CompoundFileError with the user's message.
    void Save(const TvteXLSWorkbook& workbook, const std::string& fileName) override;

    // The BIFF8 workbook stream alone, as Save stores it.
    std::vector<std::uint8_t> WorkbookStream(const TvteXLSWorkbook& workbook);

    void SetSystemColors(SystemColorSource source) { m_systemColors = std::move(source); }

private:
    SystemColorSource m_systemColors;
};

} // namespace ulen3
