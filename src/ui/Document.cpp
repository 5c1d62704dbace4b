#include "ui/Document.h"

#include "base/File.h"
#include "table/TablePaths.h"

namespace ulen3 {

void Document::setState(bool open, bool changed) {
    const bool differs = open != doc_open || changed != doc_changed;
    doc_open = open;
    doc_changed = changed;
    if (differs && onStateChanged)
        onStateChanged();
}

void Document::markChanged() { setState(doc_open, true); }

void Document::markSaved() { setState(doc_open, false); }

void Document::create(const std::string& path) {
    setState(false, false);
    m_table.Close();
    m_table.CreateEmpty(path);
    m_table.Open(path);
    setState(true, false);
}

void Document::open(const std::string& path) {
    m_table.Open(path);
    setState(true, false);
}

void Document::reopen() {
    try {
        const ObservationTable::UpdateBatch batch(m_table);
        const std::string path = m_table.Path();
        const std::string index = m_table.IndexName();
        m_table.Close();
        m_table.Open(path);
        if (!index.empty())
            m_table.SetIndexName(index);
    } catch (...) {
        // The window must not claim a document whose table is closed.
        setState(false, false);
        throw;
    }
}

void Document::close() {
    setState(false, false);
    if (!m_table.Active())
        return;
    const std::string index = index_path_of(m_table.Path());
    struct RemoveIndex {
        const std::string& path;
        ~RemoveIndex() { remove_file(path); }
    } removeIndex{index};
    m_table.Close();
}

} // namespace ulen3
