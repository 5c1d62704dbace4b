#pragma once

// The dBase IV file of an observation table: header, field descriptors and record bytes, the
// binding of the thirteen fields to the file's descriptors, and the encoding of values into a
// record. It knows nothing of cursors, views, filters or sort tags.

#include "base/File.h"
#include "table/ObservationFields.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

// Leaves new elements uninitialised: a buffer about to be filled from the file is not first
// cleared, which for a large table is as costly as the read.
// Room for a table's records: a large block in huge pages where the system gives them, so that
// reading a table of 200,000 records takes a few dozen page faults instead of some 14,000.
void* allocate_record_room(std::size_t bytes);
void free_record_room(void* room, std::size_t bytes);

template <class T> struct UninitialisedAllocator : std::allocator<T> {
    template <class U> struct rebind { using other = UninitialisedAllocator<U>; };
    UninitialisedAllocator() = default;
    template <class U> UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocate_record_room(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) { free_record_room(p, n * sizeof(T)); }
    template <class U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
    template <class U, class... Args> void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// A walk over many records fetches the one this many ahead into the cache while it reads one:
// each record lies in memory lines of its own, and reading one after another would wait for each.
constexpr std::size_t kFetchAhead = 16;

// Whole records, one after another, as in the file.
using RecordBytes = std::vector<char, UninitialisedAllocator<char>>;

class FileMapping;

class DbfFile {
public:
    DbfFile();
    ~DbfFile();
    DbfFile(const DbfFile&) = delete;
    DbfFile& operator=(const DbfFile&) = delete;
    static constexpr int kHeaderLength = 449;
    static constexpr int kRecordLength = 290;
    static constexpr uint8_t kLanguageDriver = 0xC9;

    // Writes the empty 450-byte table, replacing a file of that name. A failed create deletes
    // what it wrote.
    static void createEmpty(const std::string& path, HeaderDate date);

    // Opens the file with its write lock, checks the header and binds the fields. Throws
    // TableError naming the reason; the file is then closed and left as it was.
    // readOnly: without the lock, and nothing is ever written (the command line's readers).
    void open(const std::string& path, bool readOnly = false);
    bool readOnly() const { return m_file.readOnly(); }
    // Writes the header and the end marker, then closes. False when the write failed; the file
    // is closed either way.
    bool close(HeaderDate date, FileFailure& why);
    // Closes without writing anything.
    void release();
    bool isOpen() const { return m_file.isOpen(); }

    const std::string& path() const { return m_path; }
    // The table file's name without folder and extension, and its index file beside it.
    std::string tableName() const;
    std::string indexPath() const;

    uint32_t count() const { return m_count; }
    bool headerCountDisagrees() const;
    uint8_t indexFlag() const { return m_header[28]; }
    void setIndexFlag(uint8_t flag) { m_header[28] = flag; }
    const std::vector<unsigned char>& header() const { return m_header; }
    const std::vector<FieldDescriptor>& descriptors() const { return m_descriptors; }
    int recordLength() const { return m_recordLength; }
    // Every record of the file, deleted ones included, in physical order.
    std::string_view records() const;
    // Whether the file was cut shorter by another program while its records were read where
    // the system keeps them: the records past its new end then read as zeros, and nothing more
    // is written to the table.
    bool cutWhileRead() const;
    FileFailure lastFailure() const { return m_changed ? FileFailure::Changed : m_file.lastFailure(); }

    // The bytes of record `id` (1-based), or nullptr outside the file.
    const char* record(uint32_t id) const;
    static bool isDeleted(const char* record) { return record[0] == '*'; }
    std::string_view raw(const char* record, Field field) const;
    bool isNull(const char* record, Field field) const;
    double number(const char* record, Field field) const; // no value and non-numbers count as 0
    // number() of record `id` (1-based), from a column of the field's values read once in file
    // order, so that a walk in another order does not touch every record's bytes.
    double numberOf(uint32_t id, Field field) const;
    std::string text(const char* record, Field field) const; // UTF-8
    // Bytes a text written to the field keeps (the smaller of the file's and the design width).
    int textLimit(Field field) const { return m_bind[static_cast<int>(field)].textLimit; }
    int width(Field field) const { return m_bind[static_cast<int>(field)].width; }
    int offset(Field field) const { return m_bind[static_cast<int>(field)].offset; }
    // The field's raw bytes in each of `records` (a block of whole records).
    std::vector<std::string_view> fieldValues(Field field, std::string_view records) const;

    // Values into a record buffer; a value that does not fit throws TableError and writes nothing.
    std::vector<char> blankRecord() const;
    void putNumber(char* record, Field field, double value) const;
    void putInteger(char* record, Field field, int value) const;
    void putText(char* record, Field field, std::string_view utf8) const;
    void putNull(char* record, Field field) const;

    // Puts the date, count and index flag into the file, and the end marker after the last record.
    bool writeHeader(HeaderDate date, bool withEndMarker = true);
    // Writes a new record after the last one and counts it; throws the disk-full message and
    // leaves the file as it was when that fails.
    uint32_t appendRecord(const std::vector<char>& bytes, HeaderDate date);
    // Takes the last record back out (its keys could not be written).
    void unappend(HeaderDate date);
    // Rewrites record `id` in place; throws the disk-full message.
    void rewriteRecord(uint32_t id, const char* bytes);
    void markDeleted(uint32_t id);

    // A packed copy of the table written under `temp`: every live record in physical order.
    struct Packed {
        File file;
        std::vector<unsigned char> header;
        RecordBytes records;
        uint32_t count = 0;
    };
    // Throws TableError naming the table; then nothing is left under the temporary name.
    Packed writePacked(const std::string& temp, HeaderDate date) const;
    // The same for a copy with all these records (`count` of them); `failed` begins the error.
    Packed writeCopy(const std::string& temp, RecordBytes records, uint32_t count, HeaderDate date,
                     const std::string& failed) const;
    // The packed copy, renamed over the table by the caller, becomes the table.
    void adopt(Packed&& packed);

private:
    struct Binding {
        int offset = 0;
        int width = 0; // width in the file
        int decimals = 0;
        int textLimit = 0; // text fields: bytes that may be written
    };
    void bindFields();
    [[noreturn]] void refuse(const std::string& why) const;
    void checkPut(char* record, Field field, bool numeric) const;

    void forgetNumbers() const;
    // False, and the failure Changed, when another program has cut the file below the records
    // this table holds: nothing is then written into it.
    bool intact();

    File m_file;
    std::string m_path;
    mutable std::vector<double> m_numbers[kFieldCount]; // read on first use; empty = not read
    std::vector<unsigned char> m_header;                // header, descriptors and terminator as in the file
    std::vector<FieldDescriptor> m_descriptors;
    Binding m_bind[kFieldCount];
    int m_headerLength = 0;
    int m_recordLength = 0;
    uint32_t m_count = 0;
    // The records: the file's own bytes mapped, or once changed the program's copy.
    RecordBytes m_records;
    std::unique_ptr<FileMapping> m_mapping;
    const char* recordBase() const;
    void reserveRecordRoom();
    void ownRecords(); // before the first change of a record
    bool m_changed = false;
};

} // namespace ulen3
