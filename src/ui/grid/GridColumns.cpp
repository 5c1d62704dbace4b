#include "ui/grid/GridColumns.h"

#include <cstdlib>

namespace ulen3 {

Field field_of(const QString& name) { return field_by_name(name.toStdString()); }

Qt::Alignment qt_alignment(TgpAlignment a) {
    switch (a) {
    case TgpAlignment::Left:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case TgpAlignment::Right:
        return Qt::AlignRight | Qt::AlignVCenter;
    case TgpAlignment::Center:
        break;
    }
    return Qt::AlignCenter;
}

QFont cell_font(const TgpFont& own, QFont font) {
    if (own.Name)
        font.setFamily(*own.Name);
    if (own.Height && *own.Height != 0)
        font.setPixelSize(std::abs(*own.Height));
    if (own.Style) {
        font.setBold(own.Style->contains(QLatin1String("fsBold")));
        font.setItalic(own.Style->contains(QLatin1String("fsItalic")));
        font.setUnderline(own.Style->contains(QLatin1String("fsUnderline")));
        font.setStrikeOut(own.Style->contains(QLatin1String("fsStrikeOut")));
    }
    return font;
}

QColor column_colour(ColourValue value, const QPalette& palette) {
    if (!value.isSet())
        return {};
    if (value.isSystem()) {
        // System colours by their index: the nearest role of the palette.
        switch (value.systemIndex()) {
        case 5:
            return palette.color(QPalette::Base); // window
        case 8:
            return palette.color(QPalette::Text); // window text
        case 13:
            return palette.color(QPalette::Highlight);
        case 14:
            return palette.color(QPalette::HighlightedText);
        case 16:
            return palette.color(QPalette::Dark); // button shadow
        case 18:
            return palette.color(QPalette::ButtonText);
        case 20:
            return palette.color(QPalette::Light); // button highlight
        case 24:
            return palette.color(QPalette::ToolTipBase); // info background
        default:
            return palette.color(QPalette::Button); // button face and the rest
        }
    }
    return QColor(value.red(), value.green(), value.blue());
}

int TgpColumns::ByFieldName(const QString& field, int nth) const {
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i].FieldName.compare(field, Qt::CaseInsensitive) == 0 && nth-- == 0)
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace ulen3
