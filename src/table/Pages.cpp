#include "table/Pages.h"

#include "table/ObservationTable.h"

namespace ulen3 {

PageKind shown_page(ObservationTable& table) {
    const ObservationTable::UpdateBatch batch(table);
    table.SetFilter(page_definition(PageKind::Operative).filter);
    if (table.VisibleCount() != 0)
        return PageKind::Operative;
    table.SetFilter(page_definition(PageKind::Observation).filter);
    return PageKind::Observation;
}

PageKind named_page(ObservationTable& table, const std::string& name) {
    if (name.empty())
        return shown_page(table);
    const PageKind kind = name == "operative" ? PageKind::Operative : PageKind::Observation;
    table.SetFilter(page_definition(kind).filter);
    return kind;
}

void drop_sort_tag(ObservationTable& table, const char* tag) {
    try {
        const ObservationTable::UpdateBatch batch(table);
        table.SetIndexName("");
        table.DropTag(tag);
        table.Refresh();
    } catch (const std::exception&) {
    }
}

void show_page_in_file_order(ObservationTable& table, PageKind page) {
    const ObservationTable::UpdateBatch batch(table);
    for (const PageDefinition& p : kPages)
        drop_sort_tag(table, p.sortTag);
    table.SetFilter(page_definition(page).filter);
}

} // namespace ulen3
