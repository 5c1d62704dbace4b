#include "ui/ColumnLayouts.h"

#include "ui/Title.h"
#include "ui/grid/DBGridPro.h"

#include "dialogs/UserDialogs.h"
#include "settings/LayoutText.h"
#include "settings/Settings.h"

#include <map>

namespace ulen3 {

namespace {

const char* alignment_name(TgpAlignment a) {
    switch (a) {
    case TgpAlignment::Left:
        return "talLeftJustify";
    case TgpAlignment::Right:
        return "talRightJustify";
    case TgpAlignment::Center:
        break;
    }
    return "talCenter";
}

std::optional<std::string> text_of(const std::optional<QString>& s) {
    return s ? std::optional<std::string>(s->toStdString()) : std::nullopt;
}

std::optional<QString> text_of(const std::optional<std::string>& s) {
    return s ? std::optional<QString>(QString::fromStdString(*s)) : std::nullopt;
}

// The stored properties of a column.
StoredColumn stored(const TgpColumn& c) {
    StoredColumn s;
    s.fieldName = c.FieldName.toStdString();
    if (!c.OptionsVisual.isEmpty())
        s.optionsVisual = c.OptionsVisual.toStdString();
    if (c.TitleState != tsSortedNone)
        s.titleState = c.TitleState == tsSortedUp ? "tsSortedUp" : "tsSortedDown";
    if (!c.FooterState.isEmpty())
        s.footerState = c.FooterState.toStdString();
    s.width = c.Width;
    s.layoutLevel = c.LayoutLevel;
    s.layoutIndex = c.LayoutIndex;
    if (c.Color != clNone)
        s.color = static_cast<int32_t>(c.Color.value());
    s.alignment = alignment_name(c.Alignment);
    s.fontName = text_of(c.Font.Name);
    s.fontColor = c.Font.Color;
    s.fontHeight = c.Font.Height;
    s.fontStyle = text_of(c.Font.Style);
    s.fontCharset = c.Font.Charset;
    if (c.TitleState != tsSortedNone)
        s.sortOrder = std::max(0, c.SortOrder);
    return s;
}

// The stored properties a layout names, onto a column; what it leaves out stays as it is.
void apply(const StoredColumn& s, TgpColumn& c) {
    if (s.optionsVisual)
        c.OptionsVisual = QString::fromStdString(*s.optionsVisual);
    if (s.titleState)
        c.TitleState = *s.titleState == "tsSortedUp"     ? tsSortedUp
                       : *s.titleState == "tsSortedDown" ? tsSortedDown
                                                         : tsSortedNone;
    if (s.footerState)
        c.FooterState = *s.footerState == "fsNone" ? QString() : QString::fromStdString(*s.footerState);
    if (s.width)
        c.Width = std::max(1, *s.width);
    if (s.layoutLevel)
        c.LayoutLevel = *s.layoutLevel;
    if (s.layoutIndex)
        c.LayoutIndex = *s.layoutIndex;
    if (s.color)
        c.Color = static_cast<std::uint32_t>(*s.color);
    if (s.alignment) {
        if (*s.alignment == "talLeftJustify")
            c.Alignment = TgpAlignment::Left;
        else if (*s.alignment == "talRightJustify")
            c.Alignment = TgpAlignment::Right;
        else if (*s.alignment == "talCenter")
            c.Alignment = TgpAlignment::Center;
    }
    if (s.fontName)
        c.Font.Name = text_of(s.fontName);
    if (s.fontColor)
        c.Font.Color = s.fontColor;
    if (s.fontHeight)
        c.Font.Height = s.fontHeight;
    if (s.fontStyle)
        c.Font.Style = text_of(s.fontStyle);
    if (s.fontCharset)
        c.Font.Charset = s.fontCharset;
    if (s.sortOrder)
        c.SortOrder = *s.sortOrder;
}

std::string layout_of(TDBGridPro& grid) {
    std::vector<StoredColumn> columns;
    for (int i = 0; i < grid.Columns().Count(); ++i)
        columns.push_back(stored(grid.Columns().Items(i)));
    return write_layout(columns);
}

} // namespace

void ColumnLayouts::remember(const QString& name, const QString& value) {
    if (m_settings.write(name, value) || m_refusalTold)
        return;
    m_refusalTold = true;
    m_dialogs.warning(m_window, QString::fromUtf8(kTitle),
                      QStringLiteral("Настройки не удаётся записать в «%1». Папка по умолчанию, вид столбцов "
                                     "и место окна не будут запомнены до следующего запуска; работа с "
                                     "таблицами продолжается.")
                          .arg(m_settings.location()));
}

void ColumnLayouts::load(const QString& value, TDBGridPro& grid, const std::vector<TgpColumn>& design,
                         const std::function<void()>& fit) {
    const std::optional<QString> text = m_settings.read(value);
    if (!text) {
        // The first document on this account: the design columns, fitted, are the layout.
        fit();
        remember(value, QString::fromStdString(layout_of(grid)));
        return;
    }
    std::vector<StoredColumn> columns;
    try {
        columns = read_layout(text->toStdString());
    } catch (const LayoutError& e) {
        // The document opens with the design layout; the value is written anew at the close.
        // The footers keep the figures they show.
        std::vector<TgpColumn> columns = design;
        for (std::size_t i = 0; i < columns.size() && i < std::size_t(grid.Columns().Count()); ++i)
            columns[i].FooterText = grid.Columns().Items(int(i)).FooterText;
        grid.SetColumns(std::move(columns));
        fit();
        m_dialogs.warning(m_window, QString::fromUtf8(kTitle),
                          QStringLiteral("Вид столбцов «%1» в настройках не читается (%2). Столбцы показаны "
                                         "в исходном виде; он будет записан при закрытии таблицы.")
                              .arg(value, QString::fromStdString(e.what())));
        return;
    }
    // The n-th stored column of a field goes to the n-th grid column of that field: the
    // operative grid shows H twice, and each of its columns keeps its own width and colour.
    std::map<QString, int> seen;
    for (const StoredColumn& s : columns) {
        const QString field = QString::fromStdString(s.fieldName).toUpper();
        const int i = grid.Columns().ByFieldName(field, seen[field]++);
        if (i >= 0 && !s.fieldName.empty())
            apply(s, grid.Columns().Items(i));
    }
    // The table opens in the order of its file: no column may claim a sort.
    for (int i = 0; i < grid.Columns().Count(); ++i) {
        grid.Columns().Items(i).TitleState = tsSortedNone;
        grid.Columns().Items(i).SortOrder = -1;
    }
    grid.ColumnsChanged();
}

void ColumnLayouts::save(const QString& value, TDBGridPro& grid) {
    remember(value, QString::fromStdString(layout_of(grid)));
}

} // namespace ulen3
