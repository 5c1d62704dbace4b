#pragma once

// The text in which a grid's column layout is stored in the settings: the object notation of
// form files, as
//
//   object TUniDataStorage
//     Data = <
//       item
//         FieldName = 'SERIAL'
//         Width = 100
//       end>
//   end
//
// with CR LF after every line. Only the stored properties of a column appear, and each only when
// it differs from its default. No Qt here: the writer and the parser are tested on their own.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

// One column as a layout stores it; an empty optional is a property at its default.
struct StoredColumn {
    std::string fieldName;                    // '' by default
    std::optional<std::string> optionsVisual; // the set as written, "[ovA, ovB]"
    std::optional<std::string> titleState;    // tsSortedUp, tsSortedDown
    std::optional<std::string> footerState;   // fsAverage, fsCount, fsMax, fsMin, fsSum
    std::optional<int> width;                 // 45 by default
    std::optional<int> layoutLevel;
    std::optional<int> layoutIndex;
    std::optional<int32_t> color;         // a colour value; no colour by default
    std::optional<std::string> alignment; // talLeftJustify, talRightJustify, talCenter
    std::optional<std::string> fontName;
    std::optional<int32_t> fontColor;
    std::optional<int> fontHeight;
    std::optional<std::string> fontStyle; // the set as written, "[fsBold]"
    std::optional<int> fontCharset;
    std::optional<int> sortOrder; // only with a mark

    bool operator==(const StoredColumn&) const = default;
};

inline constexpr int kDefaultStoredWidth = 45;

// A layout text that cannot be read; the message says where and why.
class LayoutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string write_layout(const std::vector<StoredColumn>& columns);
// Line ends of any kind are accepted. Throws LayoutError.
std::vector<StoredColumn> read_layout(std::string_view text);

// Colour values and their names in the notation (clYellow = 0x00FFFF, red in the lowest byte).
std::string colour_text(int32_t colour);
std::optional<int32_t> colour_from_text(std::string_view text);

} // namespace ulen3
