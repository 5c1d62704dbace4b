#pragma once

#include <QString>

#include <cstdint>

class QWidget;

namespace ulen3 {

class ObservationTable;
class TgpColumns;

// What the grid's model, editor and footer read from the grid and ask of it: its columns, the
// texts of its cells, its table, the writing of an edited cell.
class GridCells {
public:
    virtual const TgpColumns& columns() const = 0;
    // The table shown, or nullptr.
    virtual ObservationTable* table() const = 0;
    virtual QString cellText(int row, int column) const = 0;
    virtual QString editText(int row, int column) const = 0;
    // Writes the typed text to the record's field of the column; false when refused.
    virtual bool writeCell(std::uint32_t record, int column, const QString& text) = 0;
    // The widget whose palette and font the cells take.
    virtual const QWidget& look() const = 0;

protected:
    ~GridCells() = default;
};

} // namespace ulen3
