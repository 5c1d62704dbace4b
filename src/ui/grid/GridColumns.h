#pragma once

// The columns of a data grid as a page defines them and a stored layout changes them: field,
// title, width, alignment, colour, font, sort mark and footer text.

#include "settings/ColourValue.h"
#include "table/ObservationFields.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

#include <optional>
#include <vector>

namespace ulen3 {

enum TTitleState { tsSortedNone, tsSortedUp, tsSortedDown };
enum class TgpAlignment { Left, Right, Center };

// A column colour meaning "the grid's normal background".
constexpr ColourValue clNone{ColourValue::kNone};

// A column's own font, as a stored layout gives it; nothing set means the grid's font.
struct TgpFont {
    std::optional<QString> Name;
    std::optional<qint32> Color;  // a colour value, red in the lowest byte
    std::optional<int> Height;    // negative: the character height in pixels
    std::optional<QString> Style; // "[fsBold, fsItalic]"
    std::optional<int> Charset;
    bool ParentFont() const { return !Name && !Color && !Height && !Style && !Charset; }
    bool operator==(const TgpFont&) const = default;
};

struct TgpColumn {
    QString FieldName;
    QString Caption;
    TgpAlignment CaptionAlignment = TgpAlignment::Center;
    int Width = 64;
    TgpAlignment Alignment = TgpAlignment::Left;
    bool ReadOnly = false;
    QString DisplayFormat; // "0.0", "0.00" or empty for the field's own text
    ColourValue Color = clNone;
    TgpFont Font;
    TTitleState TitleState = tsSortedNone;
    QString FooterText;
    // Kept only because a stored layout carries them.
    int LayoutLevel = 0;
    int LayoutIndex = 0;
    QString FooterState;   // fsNone when empty
    QString OptionsVisual; // the set as a layout writes it; empty for []
    int SortOrder = -1;
};

// The colour a stored value stands for, with system colours taken from the palette; an invalid
// colour for "no colour".
QColor column_colour(ColourValue value, const QPalette& palette);

class TgpColumns {
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    TgpColumn& Items(int i) { return m_items[static_cast<std::size_t>(i)]; }
    const TgpColumn& Items(int i) const { return m_items[static_cast<std::size_t>(i)]; }
    // The first column bound to the field (any case), or -1; with nth, the nth such column
    // (0 the first), since a grid may bind one field twice.
    int ByFieldName(const QString& field, int nth = 0) const;
    std::vector<TgpColumn>& list() { return m_items; }

private:
    std::vector<TgpColumn> m_items;
};

// The field a column name binds.
Field field_of(const QString& name);
Qt::Alignment qt_alignment(TgpAlignment a);
// The grid's font with what a column's own font changes.
QFont cell_font(const TgpFont& own, QFont font);

} // namespace ulen3
