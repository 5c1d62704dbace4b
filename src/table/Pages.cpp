#include "Pages.h"

#include "ObservationTable.h"

namespace ulen3 {

PageKind shown_page(ObservationTable& table) {
    const ObservationTable::UpdateBatch batch(table);
    table.SetFilter(page_definition(PageKind::Operative).filter);
    if (table.VisibleCount() != 0)
        return PageKind::Operative;
    table.SetFilter(page_definition(PageKind::Observation).filter);
    return PageKind::Observation;
}

void show_page_in_file_order(ObservationTable& table, PageKind page) {
    const ObservationTable::UpdateBatch batch(table);
    table.SetIndexName("");
    for (const PageDefinition& p : kPages) {
        try {
            table.DropTag(p.sortTag);
        } catch (const std::exception&) {
        }
    }
    table.SetFilter(page_definition(page).filter);
}

} // namespace ulen3
