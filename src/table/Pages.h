#pragma once

// The two pages of the main window, as data: which records each shows, its sort tag and the
// settings value of its column layout. Every command takes what it needs from the page shown.

namespace ulen3 {

class ObservationTable;

enum class PageKind { Observation, Operative };

struct PageDefinition {
    PageKind kind;
    const char* caption;     // the tab's caption
    const char* filter;      // the records the page shows
    const char* sortTag;     // the index tag a title click sorts by
    const char* layoutValue; // the settings value that keeps the column layout
};

inline constexpr PageDefinition kPages[2] = {
    {PageKind::Observation, "Наблюдения", "NB_TYPE=0", "tab1", "Table_1"},
    {PageKind::Operative, "Оперативный", "NB_TYPE=1", "tab2", "Table_2"},
};

inline const PageDefinition& page_definition(PageKind kind) { return kPages[kind == PageKind::Observation ? 0 : 1]; }

// The page the main window shows for this table: "Оперативный" when it holds an operative
// record, "Наблюдения" otherwise. Leaves that page's filter in force.
PageKind shown_page(ObservationTable& table);

// The order of the file again: no tag selected, the tag dropped, the view refreshed. A table that
// refuses (a tag already gone, an index it cannot write) keeps the order it has.
void drop_sort_tag(ObservationTable& table, const char* tag);

// The page's records in the order of the file: no sort tag selected, both tags dropped
// (failures ignored), the page's filter in force.
void show_page_in_file_order(ObservationTable& table, PageKind page);

} // namespace ulen3
