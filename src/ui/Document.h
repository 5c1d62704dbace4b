#pragma once

// The document of the main window: the observation table, whether it is open and changed since
// it was last written, and the folder the file dialogs start in. It creates, opens, writes back
// and closes the table, and tells the window each time its state changes.

#include "table/ObservationTable.h"

#include <QString>

#include <functional>
#include <string>

namespace ulen3 {

class Document {
public:
    ObservationTable& table() { return m_table; }
    const ObservationTable& table() const { return m_table; }
    bool isOpen() const { return doc_open; }
    bool isChanged() const { return doc_changed; }
    const QString& folder() const { return default_dir; }
    void setFolder(const QString& folder) { default_dir = folder; }

    // The user began to change a record; or all changes reached the file.
    void markChanged();
    void markSaved();

    // Creates an empty table at `path` (an older file is replaced) and opens it as the document.
    void create(const std::string& path);
    // Opens the table as the document; when it cannot be opened, throws and nothing is open.
    void open(const std::string& path);
    // Closes the table and opens it again, so that its file is complete on disk; the filter, the
    // sort and the current record carry over, and the listeners hear of one change. When it
    // cannot be opened again, the document is closed and the failure thrown.
    void reopen();
    // Closes the document and removes the table's index. The document is closed even when the
    // table reports a failure at its close; that failure is thrown afterwards.
    void close();

    // Called after every change of the state (opened, closed, changed, saved).
    std::function<void()> onStateChanged;

private:
    void setState(bool open, bool changed);

    ObservationTable m_table;
    bool doc_open = false;
    bool doc_changed = false;
    QString default_dir;
};

} // namespace ulen3
