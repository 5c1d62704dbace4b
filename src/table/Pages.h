#pragma once

// The two pages of the main window, as data: which records each shows, its sort tag and the
// settings value of its column layout. Every command takes what it needs from the page shown.

#include <string>

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

// The titles of the measured columns, shared by the grids, the workbook and the charts. They
// carry Latin and Cyrillic look-alikes exactly: Latin T, C and q; Cyrillic С (U+0421) and
// Т (U+0422); the degree sign U+00B0.
inline constexpr const char* kTitleP = "T\u043d, \u00b0C";
inline constexpr const char* kTitleR = "T\u0432, \u00b0\u0421";
inline constexpr const char* kTitleH = "T\u0432-\u0422\u043d, \u00b0\u0421";
inline constexpr const char* kTitleQ = "q, \u0412\u0442/\u043a\u0432.\u043c";

inline const PageDefinition& page_definition(PageKind kind) { return kPages[kind == PageKind::Observation ? 0 : 1]; }

// The page the main window shows for this table: "Оперативный" when it holds an operative
// record, "Наблюдения" otherwise. Leaves that page's filter in force.
PageKind shown_page(ObservationTable& table);

// The page a command line names ("observation", "operative"), or the one the window would show
// for an empty name; its filter left in force.
PageKind named_page(ObservationTable& table, const std::string& name);
// The page's name on the command line and in JSON.
inline const char* page_name(PageKind kind) { return kind == PageKind::Observation ? "observation" : "operative"; }

// The order of the file again: no tag selected, the tag dropped, the view refreshed. A table that
// refuses (a tag already gone, an index it cannot write) keeps the order it has.
void drop_sort_tag(ObservationTable& table, const char* tag);

// The page's records in the order of the file: no sort tag selected, both tags dropped
// (failures ignored), the page's filter in force.
void show_page_in_file_order(ObservationTable& table, PageKind page);

} // namespace ulen3
