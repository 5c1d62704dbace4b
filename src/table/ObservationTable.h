#pragma once

#include "TableFile.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

class ProductionIndex;

// The thirteen fields of an observation record, in file order.
enum class Field : int { N, DATE, TIME, DEV_TYPE, SERIAL, NB_TYPE, P, R, ZAV, TYPE, COMMENT, H, T };
inline constexpr int kFieldCount = 13;

// The field's name as stored in the file ("N", "DATE", ...).
const char* field_name(Field field);
// The field named `name` (any case); throws TableError for an unknown name.
Field field_by_name(std::string_view name);
// True for the seven numeric fields.
bool is_numeric(Field field);

// Date of a header write: year − 1900 (modulo 256), month, day.
struct HeaderDate {
    uint8_t year = 0, month = 1, day = 1;
};
using TodayFunction = std::function<HeaderDate()>;
HeaderDate local_today();

// One field descriptor as found in an open file.
struct FieldDescriptor {
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
};

// The observation table: closed, or open on one dBase IV table file. A record
// reaches the file when it is posted; the view is the live records that pass the
// filter, in physical order or in the order of the selected sort tag.
class ObservationTable {
public:
    static constexpr int kHeaderLength = 449;
    static constexpr int kRecordLength = 290;
    static constexpr uint8_t kLanguageDriver = 0xC9;

    enum class State { Closed, Browsing, Appending, Editing };

    ObservationTable();
    ~ObservationTable();
    ObservationTable(const ObservationTable&) = delete;
    ObservationTable& operator=(const ObservationTable&) = delete;

    // Writes the empty 450-byte table, replacing a file of that name. The table
    // object itself is not opened. A failed create deletes what it wrote.
    void CreateEmpty(const std::string& path);
    void Open(const std::string& path);
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
    double Number(Field field) const; // no value counts as 0
    int Integer(Field field) const;   // no value counts as 0
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

    void Append();
    void Edit();
    void Post();
    void Cancel(); // drops the record being appended or edited
    void Delete();
    void Pack();

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

    // Called after every move of the cursor and every change of the view (first, next, last,
    // goto, refresh, open, close, post, delete), as a data source tells its grids.
    void SetCursorListener(std::function<void()> listener) { m_cursorListener = std::move(listener); }

    // Sort tags of the production index (.mdx beside the table).
    void AddTag(const std::string& tag, const std::string& fieldName, bool descending);
    void DropTag(const std::string& tag);
    void RebuildTags();
    std::vector<std::string> TagNames() const;
    // The order of the view: a sort tag's name, or empty for physical order.
    void SetIndexName(const std::string& tag);
    const std::string& IndexName() const { return m_indexName; }
    std::string IndexPath() const;

    // What `ulen3-cli info` shows.
    const std::string& Path() const { return m_path; }
    uint32_t FileRecordCount() const { return m_count; }
    const std::vector<FieldDescriptor>& Descriptors() const { return m_descriptors; }
    const std::vector<unsigned char>& HeaderBytes() const { return m_header; }
    int RecordLength() const { return m_recordLength; }
    bool IsDeleted(uint32_t recordId) const;

    // Tests and benchmarks fix the date that header writes put into the file.
    void SetToday(TodayFunction today) { m_today = std::move(today); }

private:
    struct Binding {
        int offset = 0;
        int width = 0;     // width in the file
        int decimals = 0;
        int textLimit = 0; // text fields: bytes that may be written
    };

    const char* currentRecord() const;
    char* editableRecord(Field field);
    std::string_view rawField(const char* record, Field field) const;
    std::string fieldText(const char* record, Field field) const;
    bool passesFilter(const char* record) const;
    const char* recordBytes(uint32_t recordId) const;
    void bindFields(const std::string& path);
    void parseFilter(const std::string& filter);
    void rebuildView(uint32_t keep, size_t oldPos, const std::vector<uint32_t>& oldView);
    void placeAfterChange(uint32_t recordId);
    void selectTag();
    void refreshOrder(bool wasOrdered);
    void dropTagAt(int tag);
    std::vector<std::string_view> fieldValues(Field field, const std::vector<char>& records) const;
    void openIndex();
    bool updateTags(uint32_t recordId, const char* oldRecord, const char* newRecord);
    void closeIndex(bool deleteFile);
    std::string tableName() const;
    bool viewBefore(uint32_t a, uint32_t b) const;
    void insertIntoView(uint32_t recordId);
    bool writeHeader(bool withEndMarker = true);
    std::string checkFails(const std::string& path, const std::string& why) const;
    void resetOpenState();

    TableFile m_file;
    std::string m_path;
    State m_state = State::Closed;
    std::vector<unsigned char> m_header; // header, descriptors and terminator as in the file
    std::vector<FieldDescriptor> m_descriptors;
    Binding m_bind[kFieldCount];
    int m_headerLength = 0;
    int m_recordLength = 0;
    uint32_t m_count = 0;
    std::vector<char> m_records; // every record of the file, deleted ones included
    std::vector<char> m_buffer;  // the record being appended or edited

    std::vector<uint32_t> m_view; // physical record numbers, in view order
    size_t m_pos = 0;
    bool m_eof = true;

    std::string m_filter;
    int m_filterField = -1;
    long m_filterValue = 0;
    std::string m_indexName;
    std::unique_ptr<ProductionIndex> m_index;
    int m_indexTag = -1; // the selected tag in m_index

    TodayFunction m_today = local_today;
    std::function<void()> m_cursorListener;
    friend struct CursorNotice;
};

} // namespace ulen3
