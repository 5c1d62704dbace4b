#pragma once

// The observation table: closed, or open on one dBase IV table file. A record reaches the file
// when it is posted; the view is the live records that pass the filter, in physical order or in
// the order of the selected sort tag. The file's bytes live in DbfFile; this class keeps the
// cursor, the view, the filter, the sort tags and the listeners.

#include "table/DbfFile.h"
#include "table/ObservationFields.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

class ProductionIndex;

// Who follows the table (the grids). Told synchronously, once an operation is over, what it
// changed; an operation inside an update batch tells nothing until the batch ends.
class TableListener {
public:
    virtual ~TableListener() = default;
    // The current record is another one; the view is as it was.
    virtual void CursorMoved() = 0;
    // The view was built anew: open, close, filter, order, tags, append, delete, pack. The rows
    // may show other records. `renumbered`: record ids name other records than before (a pack,
    // another file); a close and a reopen of the same file keep them.
    virtual void ViewReset(bool renumbered) = 0;
    // A posted edit rewrote this record in place; it kept its row.
    virtual void RecordChanged(uint32_t recordId) = 0;
};

// The visible records in view order, read without moving the cursor and without telling the
// listeners anything. Valid until the view next changes.
class RecordView {
public:
    int Count() const { return static_cast<int>(m_ids.size()); }
    uint32_t RecordId(int row) const { return m_ids[static_cast<size_t>(row)]; }
    bool IsNull(int row, Field field) const { return m_file.isNull(bytes(row), field); }
    double Number(int row, Field field) const { return m_file.numberOf(RecordId(row), field); }
    std::string Text(int row, Field field) const { return m_file.text(bytes(row), field); }
    // The field's bytes as stored: Windows-1251 text, or a number's text with its padding.
    std::string_view Raw(int row, Field field) const { return m_file.raw(bytes(row), field); }
    // For a walk over many rows: the record's bytes, and where a field lies in every record.
    const char* Bytes(int row) const { return bytes(row); }
    int Offset(Field field) const { return m_file.offset(field); }
    int Width(Field field) const { return m_file.width(field); }
    int RecordLength() const { return m_file.recordLength(); }

private:
    friend class ObservationTable;
    RecordView(const DbfFile& file, const std::vector<uint32_t>& ids) : m_file(file), m_ids(ids) {}
    const char* bytes(int row) const { return m_file.record(RecordId(row)); }
    const DbfFile& m_file;
    const std::vector<uint32_t>& m_ids;
};

class ObservationTable {
public:
    static constexpr int kHeaderLength = DbfFile::kHeaderLength;
    static constexpr int kRecordLength = DbfFile::kRecordLength;
    static constexpr uint8_t kLanguageDriver = DbfFile::kLanguageDriver;

    enum class State { Closed, Browsing, Appending, Editing };

    ObservationTable();
    ~ObservationTable();
    ObservationTable(const ObservationTable&) = delete;
    ObservationTable& operator=(const ObservationTable&) = delete;

    // Writes the empty 450-byte table, replacing a file of that name. The table
    // object itself is not opened. A failed create deletes what it wrote.
    void CreateEmpty(const std::string& path);
    void Open(const std::string& path);
    // For reading only: no lock, the index file not read, the header not corrected, nothing ever
    // written; every change of a record is refused. Tags added are kept in memory only.
    void OpenReadOnly(const std::string& path);
    // Drops a record being appended or edited, writes the header and closes. When the header
    // cannot be written the table is closed all the same and the error is raised.
    void Close();
    bool Active() const { return m_state != State::Closed; }
    State state() const { return m_state; }

    void First();
    void Next();
    void Last();
    bool Eof() const { return m_eof; }

    // Field access on the current record (or the record being appended or edited).
    // With no current record every field reads as no value.
    bool IsNull(Field field) const;
    double Number(Field field) const;    // no value counts as 0
    int Integer(Field field) const;      // no value counts as 0
    std::string Text(Field field) const; // UTF-8, no value is the empty text
    void SetNumber(Field field, double value);
    void SetInteger(Field field, int value);
    void SetText(Field field, std::string_view utf8);
    void SetNull(Field field);

    bool IsNull(std::string_view name) const { return IsNull(field_by_name(name)); }
    double Number(std::string_view name) const { return Number(field_by_name(name)); }
    int Integer(std::string_view name) const { return Integer(field_by_name(name)); }
    std::string Text(std::string_view name) const { return Text(field_by_name(name)); }
    void SetNumber(std::string_view name, double v) { SetNumber(field_by_name(name), v); }
    void SetInteger(std::string_view name, int v) { SetInteger(field_by_name(name), v); }
    void SetText(std::string_view name, std::string_view v) { SetText(field_by_name(name), v); }
    void SetNull(std::string_view name) { SetNull(field_by_name(name)); }
    // Bytes a text written to the field keeps.
    int TextLimit(Field field) const { return m_file.textLimit(field); }

    void Append();
    void Edit();
    void Post();
    void Cancel(); // drops the record being appended or edited
    // The operations below never drop a record being appended or edited: they refuse with an
    // error while one is, and the caller posts or cancels it first.
    void Delete();
    void Pack();
    // Gives the field N of these records the numbers 1, 2, … in the order given, as an edit and
    // a post of each would, in one write of the file; the tags are brought up to date once.
    void Renumber(const std::vector<uint32_t>& records);

    void SetFilter(const std::string& filter);
    const std::string& Filter() const { return m_filter; }
    void Refresh();
    int VisibleCount() const { return static_cast<int>(m_view.size()); }
    uint32_t RecordId() const; // 0 when there is no current record

    // Moves to the record with this physical number when it is in the view.
    bool GotoRecord(uint32_t recordId);

    // The view row by row, for the grids: which record row i shows, the current row (-1 when
    // there is none), moving to a row, and reads of any record without moving the cursor.
    uint32_t ViewRecordAt(int row) const;
    int ViewRow() const;
    bool GotoRow(int row);
    bool IsNullAt(uint32_t recordId, Field field) const;
    double NumberAt(uint32_t recordId, Field field) const;
    std::string TextAt(uint32_t recordId, Field field) const;
    // The visible records, for statistics, export and reports.
    RecordView Records() const { return RecordView(m_file, m_view); }

    // The listeners are told after every change of the cursor, the view or a record.
    void AddListener(TableListener* listener);
    void RemoveListener(TableListener* listener);
    // While a batch is open the listeners hear nothing; its end tells them once what changed.
    class UpdateBatch {
    public:
        explicit UpdateBatch(ObservationTable& table);
        ~UpdateBatch();
        UpdateBatch(const UpdateBatch&) = delete;
        UpdateBatch& operator=(const UpdateBatch&) = delete;

    private:
        ObservationTable& m_table;
    };

    // Sort tags of the production index (.mdx beside the table).
    void AddTag(const std::string& tag, const std::string& fieldName, bool descending);
    // Why the last AddTag created no tag (it says nothing itself), or empty.
    const std::string& LastTagFailure() const { return m_lastTagFailure; }
    void DropTag(const std::string& tag);
    void RebuildTags();
    std::vector<std::string> TagNames() const;
    // The order of the view: a sort tag's name, or empty for physical order.
    void SetIndexName(const std::string& tag);
    const std::string& IndexName() const { return m_indexName; }
    std::string IndexPath() const { return m_file.indexPath(); }

    // What `ulen3-cli info` shows.
    const std::string& Path() const { return m_file.path(); }
    uint32_t FileRecordCount() const { return m_file.count(); }
    const std::vector<FieldDescriptor>& Descriptors() const { return m_file.descriptors(); }
    const std::vector<unsigned char>& HeaderBytes() const { return m_file.header(); }
    int RecordLength() const { return m_file.recordLength(); }
    bool IsDeleted(uint32_t recordId) const;

    // Tests and benchmarks fix the date that header writes put into the file.
    void SetToday(TodayFunction today) { m_today = std::move(today); }

private:
    enum Change : unsigned { kCursor = 1, kView = 2, kRecord = 4, kRenumbered = 8 };
    struct Notice; // tells the listeners when the outermost operation ends

    const char* currentRecord() const;
    char* editableRecord(Field field);
    void requireBrowsing(const char* operation) const;
    bool passesFilter(const char* record) const;
    void matchAll();
    void match(uint32_t recordId);
    void parseFilter(const std::string& filter);
    void rebuildView(uint32_t keep, size_t oldPos, const std::vector<uint32_t>& oldView);
    void placeAfterChange(uint32_t recordId);
    void selectTag();
    void refreshOrder(bool wasOrdered);
    void dropTagAt(int tag);
    void openIndex();
    bool updateTags(uint32_t recordId, const char* oldRecord, const char* newRecord);
    void closeIndex(bool deleteFile);
    bool viewBefore(uint32_t a, uint32_t b) const;
    void insertIntoView(uint32_t recordId);
    void resetOpenState();
    void open(const std::string& path, bool readOnly);
    std::string markedNote() const;
    void requireWritable() const;
    void changed(unsigned what, uint32_t record = 0);
    void deliver();
    // The end of the operations in progress: an index left without tags goes, the listeners hear.
    void settle();
    // An index without tags is closed and its file deleted, byte 28 cleared (not yet written).
    bool dropEmptyIndex();

    DbfFile m_file;
    State m_state = State::Closed;
    std::vector<char> m_buffer; // the record being appended or edited

    std::vector<uint32_t> m_view;  // physical record numbers, in view order
    std::vector<uint8_t> m_passes; // for each record: live and passing the filter
    size_t m_pos = 0;
    bool m_eof = true;

    std::string m_filter;
    int m_filterField = -1;
    long m_filterValue = 0;
    std::string m_indexName;
    std::unique_ptr<ProductionIndex> m_index;
    int m_indexTag = -1; // the selected tag in m_index

    TodayFunction m_today = local_today;
    std::vector<TableListener*> m_listeners;
    int m_depth = 0;        // operations and batches in progress
    unsigned m_changes = 0; // what they changed so far
    uint32_t m_changedRecord = 0;
    std::string m_closedPath; // the file open before the last close
    std::string m_lastTagFailure;
};

} // namespace ulen3
