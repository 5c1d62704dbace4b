// The commands on the grid of the page shown and on its records: sorting by a title click,
// removing the sort, colours, fitting, deleting and renumbering rows.

#include "ui/main.h"

#include "dialogs/UserDialogs.h"

#include <QColor>
#include <QLayout>
#include <QTableView>

namespace ulen3 {

namespace {

// The colour the colour dialog opens with: the one the column shows, white for none.
QColor shown_colour(ColourValue value, const QPalette& palette) {
    const QColor colour = column_colour(value, palette);
    return colour.isValid() ? colour : QColor(Qt::white);
}

} // namespace

void TForm1::DBGridPro1TitleStateChange(TDBGridPro*, int column) {
    titleStateChange(page(PageKind::Observation), column);
}

void TForm1::DBGridPro2TitleStateChange(TDBGridPro*, int column) {
    titleStateChange(page(PageKind::Operative), column);
}

// The column already carries its new mark: up sorts largest first, down smallest first, none
// gives the order of the file.
void TForm1::titleStateChange(const Page& p, int column) {
    if (!m_table.Active())
        return;
    const char* tag = p.def.sortTag;
    const ObservationTable::UpdateBatch batch(m_table);
    drop_sort_tag(m_table, tag);
    const TgpColumn& c = p.grid->Columns().Items(column);
    if (c.TitleState == tsSortedNone) {
        reset_sort(p.grid, tag);
        return;
    }
    m_table.AddTag(tag, c.FieldName.toStdString(), c.TitleState == tsSortedUp);
    m_table.SetIndexName(tag);
    m_table.RebuildTags();
    m_table.Refresh();
}

void TForm1::N33Click() {
    reset_sort(page(PageKind::Operative).grid, page(PageKind::Operative).def.sortTag);
    reset_sort(page(PageKind::Observation).grid, page(PageKind::Observation).def.sortTag);
}

void TForm1::N17Click() {
    if (!m_table.Active())
        return;
    TDBGridPro* grid = visiblePage().grid;
    const int column = grid->FocusedColumn();
    if (column >= grid->Columns().Count())
        return;
    const std::optional<QColor> chosen =
        m_dialogs.color(this, shown_colour(grid->Columns().Items(column).Color, grid->palette()));
    if (chosen)
        grid->SetColumnColor(column, ColourValue::rgb(chosen->red(), chosen->green(), chosen->blue()));
}

void TForm1::N18Click() {
    if (!m_table.Active())
        return;
    TDBGridPro* grid = visiblePage().grid;
    grid->SetColumnColor(grid->FocusedColumn(), clNone);
}

void TForm1::N19Click() {
    if (m_table.Active())
        clear_colors(visiblePage().grid);
}

void TForm1::clear_colors(TDBGridPro* grid) {
    for (int i = 0; i < grid->Columns().Count(); ++i)
        grid->SetColumnColor(i, clNone);
}

void TForm1::N23Click() {
    if (m_table.Active())
        fit_columns(visiblePage().grid);
}

// Equal widths, then fitted to the grid again. A grid on a hidden page has not been laid out:
// it is fitted at the width the page will have, that of the page shown.
void TForm1::fit_columns(TDBGridPro* grid) {
    const int count = grid->Columns().Count();
    if (count == 0)
        return;
    QWidget* shown = PageControl1->currentWidget();
    if (!grid->isVisible() && shown && shown != grid->parentWidget() && shown->isVisible()) {
        grid->parentWidget()->setGeometry(shown->geometry());
        grid->parentWidget()->layout()->activate();
    }
    grid->SetAutoColumnFit(false);
    const int w = grid->width() / count;
    for (int i = 0; i < count; ++i)
        grid->SetColumnWidth(i, w);
    grid->SetAutoColumnFit(true);
    grid->view()->viewport()->update();
}

void TForm1::N21Click() {
    if (!m_table.Active())
        return;
    TDBGridPro* grid = visiblePage().grid;
    // Deleting packs the file at once: the records are gone for good, so the user says so first.
    const int marked = grid->SelectionCount();
    if (marked > 0 && !m_dialogs.ask(this, QString::fromUtf8(kTitle),
                                     QStringLiteral("Удалить выбранные записи: %1?").arg(marked), false))
        return;
    delete_rows(grid);
    recompute_footers();
}

void TForm1::delete_rows(TDBGridPro* grid) {
    // An edit still open is posted first, to the record it began on, before rows go.
    grid->PostPendingEdit();
    const ObservationTable::UpdateBatch batch(m_table);
    for (const Page& p : m_pages)
        reset_sort(grid, p.def.sortTag);
    grid->DeleteSelectedRows();
    m_table.Pack();
    m_document.reopen();
    m_document.markSaved();
}

// The records are numbered in the order the page shows them, taken before the first number is
// written, so that a sort the new numbers change visits every record once.
void TForm1::N37Click() {
    if (!m_document.isOpen())
        return;
    if (m_table.Active()) {
        const ObservationTable::UpdateBatch batch(m_table);
        const RecordView records = m_table.Records();
        std::vector<uint32_t> order;
        order.reserve(static_cast<size_t>(records.Count()));
        for (int row = 0; row < records.Count(); ++row)
            order.push_back(records.RecordId(row));
        m_table.Renumber(order);
        m_table.First();
    }
    m_document.reopen();
}

} // namespace ulen3
