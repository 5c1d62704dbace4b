#include "table/DbfFile.h"

#include "base/Bytes.h"
#include "base/FileMapping.h"
#include "table/Cp1251.h"
#include "table/FieldCodec.h"
#include "table/TableError.h"
#include "table/TablePaths.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <sys/mman.h>

namespace ulen3 {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
std::size_t huge_rounded(std::size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
} // namespace

void* allocate_record_room(std::size_t bytes) {
    if (bytes < 2 * kHugePage) {
        void* p = std::malloc(bytes ? bytes : 1);
        if (!p)
            throw std::bad_alloc();
        return p;
    }
    void* p = std::aligned_alloc(kHugePage, huge_rounded(bytes));
    if (!p)
        throw std::bad_alloc();
    madvise(p, huge_rounded(bytes), MADV_HUGEPAGE); // a hint: without huge pages all works the same
    return p;
}

void free_record_room(void* room, std::size_t) { std::free(room); }
namespace {

struct FieldDef {
    const char* name;
    char type;
    int width;
    int decimals;
};

// The observation record as the program creates it.
constexpr FieldDef kFields[kFieldCount] = {
    {"N", 'N', 18, 9},      {"DATE", 'C', 10, 0},   {"TIME", 'C', 8, 0},      {"DEV_TYPE", 'N', 4, 0},
    {"SERIAL", 'N', 18, 9}, {"NB_TYPE", 'N', 4, 0}, {"P", 'N', 18, 9},        {"R", 'N', 18, 9},
    {"ZAV", 'C', 8, 0},     {"TYPE", 'C', 15, 0},   {"COMMENT", 'C', 100, 0}, {"H", 'N', 18, 9},
    {"T", 'C', 50, 0},
};

constexpr char kDeleted = '*';
constexpr char kEndMarker = 0x1A;

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

void putDate(unsigned char* h, HeaderDate date) {
    h[1] = date.year;
    h[2] = date.month;
    h[3] = date.day;
}

// The header, descriptors and terminator of a new table.
std::vector<unsigned char> newHeader(HeaderDate date) {
    std::vector<unsigned char> h(DbfFile::kHeaderLength, 0);
    h[0] = 0x03;
    putDate(h.data(), date);
    put_le16(&h[8], DbfFile::kHeaderLength);
    put_le16(&h[10], DbfFile::kRecordLength);
    h[29] = DbfFile::kLanguageDriver;
    for (int i = 0; i < kFieldCount; ++i) {
        unsigned char* d = &h[32 + 32 * i];
        std::memcpy(d, kFields[i].name, std::strlen(kFields[i].name));
        d[11] = static_cast<unsigned char>(kFields[i].type);
        d[16] = static_cast<unsigned char>(kFields[i].width);
        d[17] = static_cast<unsigned char>(kFields[i].decimals);
    }
    h[DbfFile::kHeaderLength - 1] = 0x0D;
    return h;
}

} // namespace

const char* field_name(Field field) { return kFields[static_cast<int>(field)].name; }

bool find_field(std::string_view name, Field& field) {
    for (int i = 0; i < kFieldCount; ++i)
        if (equalsIgnoreCase(name, kFields[i].name)) {
            field = static_cast<Field>(i);
            return true;
        }
    return false;
}

Field field_by_name(std::string_view name) {
    Field f;
    if (!find_field(name, f))
        throw TableError("Поле «" + std::string(name) + "» не найдено в таблице");
    return f;
}

bool is_numeric(Field field) { return kFields[static_cast<int>(field)].type == 'N'; }

int field_width(Field field) { return kFields[static_cast<int>(field)].width; }

HeaderDate local_today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {static_cast<uint8_t>(tm.tm_year & 0xFF), static_cast<uint8_t>(tm.tm_mon + 1),
            static_cast<uint8_t>(tm.tm_mday)};
}

// ---------------------------------------------------------------- create, open, close

void DbfFile::createEmpty(const std::string& path, HeaderDate date) {
    // The lock of a file already there is taken first, so that a table open in another program
    // is never replaced; the new table is written whole under a temporary name and renamed into
    // place, so that a crash leaves the older file or the new one, never half a header.
    const bool existed = file_exists(path);
    File older;
    FileFailure failure;
    if (existed && !older.open(path, false, failure))
        throw TableError("Не удалось создать таблицу: " + file_failure_text(failure, path));
    std::vector<unsigned char> bytes = newHeader(date);
    bytes.push_back(kEndMarker);
    if (!write_whole_file(path, bytes.data(), bytes.size(), failure))
        throw TableError("Не удалось создать таблицу: " + file_failure_text(failure, path) +
                         (existed ? "; прежний файл не изменён" : ""));
}

void DbfFile::refuse(const std::string& why) const {
    throw TableError("Не удалось открыть таблицу «" + m_path + "»: " + why);
}

void DbfFile::open(const std::string& path, bool readOnly) {
    release();
    m_path = path;
    FileFailure failure;
    File::Options options;
    options.readOnly = readOnly;
    if (!m_file.open(path, options, failure)) {
        const std::string why = file_failure_text(failure, path);
        m_path.clear();
        throw TableError("Не удалось открыть таблицу «" + path + "»: " + why);
    }
    try {
        bindFields();
    } catch (...) {
        release();
        throw;
    }
}

DbfFile::DbfFile() = default;
DbfFile::~DbfFile() = default;

void DbfFile::release() {
    m_mapping.reset();
    m_file.close();
    m_path.clear();
    m_header.clear();
    m_descriptors.clear();
    m_records.clear();
    m_records.shrink_to_fit();
    m_count = 0;
    m_changed = false;
    forgetNumbers();
}

bool DbfFile::close(HeaderDate date, FileFailure& why) {
    if (!isOpen())
        return true;
    if (readOnly()) {
        release();
        return true;
    }
    const bool written = writeHeader(date);
    why = lastFailure();
    release();
    return written;
}

void DbfFile::bindFields() {
    const int64_t size = m_file.size();
    unsigned char head[32];
    if (size < 32 || !m_file.readAt(0, head, 32))
        refuse("файл не является таблицей dBase");
    if ((head[0] & 0x07) != 3)
        refuse("файл не является таблицей dBase III/IV");
    m_headerLength = get_le16(&head[8]);
    m_recordLength = get_le16(&head[10]);
    if (m_headerLength == 0 || m_recordLength == 0)
        refuse("в заголовке нулевая длина заголовка или записи");
    if (m_headerLength < 33 || m_headerLength > size)
        refuse("заголовок таблицы повреждён");
    m_header.assign(static_cast<size_t>(m_headerLength), 0);
    if (!m_file.readAt(0, m_header.data(), m_header.size()))
        refuse("заголовок таблицы не читается");

    // Descriptors run up to the terminator or the end of the header.
    m_descriptors.clear();
    std::vector<int> offsets;
    int offset = 1;
    for (int pos = 32; pos + 32 <= m_headerLength && m_header[pos] != 0x0D; pos += 32) {
        const unsigned char* d = &m_header[pos];
        FieldDescriptor fd;
        fd.name.assign(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
        fd.type = static_cast<char>(d[11]);
        fd.width = d[16];
        fd.decimals = d[17];
        if (fd.type == 'C') {
            fd.width = get_le16(d + 16);
            fd.decimals = 0;
        }
        offsets.push_back(offset);
        offset += fd.width;
        m_descriptors.push_back(std::move(fd));
    }
    // The record length is the deletion flag and the fields, exactly: any other value would
    // place the records elsewhere than where they are, and a write would land on another one.
    if (offset != m_recordLength)
        refuse("длина записи в заголовке " + std::to_string(m_recordLength) + " не равна длине полей " +
               std::to_string(offset - 1) + " и флага удаления 1; файл не изменён");

    // Bind the thirteen fields by name and kind; other fields are ignored.
    for (int i = 0; i < kFieldCount; ++i) {
        const FieldDef& def = kFields[i];
        int found = -1;
        for (size_t k = 0; k < m_descriptors.size(); ++k)
            if (equalsIgnoreCase(m_descriptors[k].name, def.name)) {
                found = static_cast<int>(k);
                break;
            }
        if (found < 0)
            refuse(std::string("нет поля ") + def.name);
        const FieldDescriptor& fd = m_descriptors[static_cast<size_t>(found)];
        bool kindOk;
        if (def.type == 'C')
            kindOk = fd.type == 'C' && fd.width > 0;
        else if (def.decimals > 0)
            kindOk = (fd.type == 'N' || fd.type == 'F') && fd.decimals >= 1 && fd.width > 0;
        else
            kindOk = (fd.type == 'N' || fd.type == 'F') && fd.decimals == 0 && fd.width >= 1 && fd.width <= 9;
        if (!kindOk)
            refuse(std::string("поле ") + def.name + " другого типа или размера");
        Binding& b = m_bind[i];
        b.offset = offsets[static_cast<size_t>(found)];
        b.width = fd.width;
        b.decimals = fd.decimals;
        b.textLimit = std::min(fd.width, def.width);
    }

    // The number of records comes from the file size.
    const int64_t body = size - m_headerLength;
    m_count = static_cast<uint32_t>(body / m_recordLength);
    const size_t bytes = static_cast<size_t>(m_count) * static_cast<size_t>(m_recordLength);
    // The records are read where the system keeps the file's bytes, until the first change
    // (which a reader never makes) copies them into the program's own memory.
    if ((m_mapping = FileMapping::map(m_file, static_cast<size_t>(m_headerLength) + bytes)))
        return;
    reserveRecordRoom();
    m_records.resize(bytes);
    if (!m_records.empty() && !m_file.readAt(m_headerLength, m_records.data(), m_records.size()))
        refuse("записи таблицы не читаются");
}

void DbfFile::reserveRecordRoom() {
    // Room for a few downloads more, so that posting does not copy a large table; a small one is
    // cheap to copy and gets less.
    const size_t room = std::min<size_t>(8192, std::max<size_t>(256, m_count));
    m_records.reserve((static_cast<size_t>(m_count) + room) * static_cast<size_t>(m_recordLength));
}

void DbfFile::ownRecords() {
    if (!m_mapping)
        return;
    const std::string_view mapped = records();
    reserveRecordRoom();
    m_records.assign(mapped.begin(), mapped.end());
    m_mapping.reset();
}

bool DbfFile::headerCountDisagrees() const { return get_le32(&m_header[4]) != m_count; }

std::string DbfFile::tableName() const {
    const std::string stem = m_path.substr(0, extension_start(m_path));
    const size_t slash = stem.find_last_of('/');
    return slash == std::string::npos ? stem : stem.substr(slash + 1);
}

std::string DbfFile::indexPath() const { return index_path_of(m_path); }

bool DbfFile::intact() {
    m_changed = m_file.size() < m_headerLength + static_cast<int64_t>(m_count) * m_recordLength || cutWhileRead();
    return !m_changed;
}

bool DbfFile::writeHeader(HeaderDate date, bool withEndMarker) {
    if (!intact())
        return false;
    putDate(m_header.data(), date);
    put_le32(&m_header[4], m_count);
    const int64_t end = m_headerLength + static_cast<int64_t>(m_count) * m_recordLength;
    return m_file.writeHead(m_header.data(), 32) && (!withEndMarker || m_file.writeAt(end, &kEndMarker, 1));
}

// ---------------------------------------------------------------- reading fields

const char* DbfFile::recordBase() const { return m_mapping ? m_mapping->data() + m_headerLength : m_records.data(); }

std::string_view DbfFile::records() const {
    return {recordBase(), static_cast<size_t>(m_count) * static_cast<size_t>(m_recordLength)};
}

bool DbfFile::cutWhileRead() const { return m_mapping && m_mapping->cut(); }

const char* DbfFile::record(uint32_t id) const {
    if (id == 0 || id > m_count)
        return nullptr;
    return recordBase() + static_cast<size_t>(id - 1) * m_recordLength;
}

std::string_view DbfFile::raw(const char* record, Field field) const {
    const Binding& b = m_bind[static_cast<int>(field)];
    return {record + b.offset, static_cast<size_t>(b.width)};
}

bool DbfFile::isNull(const char* record, Field field) const {
    return raw(record, field).find_first_not_of(' ') == std::string_view::npos;
}

double DbfFile::number(const char* record, Field field) const {
    return decode_number(raw(record, field)).value_or(0.0);
}

double DbfFile::numberOf(uint32_t id, Field field) const {
    std::vector<double>& column = m_numbers[static_cast<int>(field)];
    if (column.size() != m_count) {
        column.resize(m_count);
        for (uint32_t i = 1; i <= m_count; ++i)
            column[i - 1] = number(record(i), field);
    }
    return id >= 1 && id <= m_count ? column[id - 1] : 0.0;
}

void DbfFile::forgetNumbers() const {
    for (std::vector<double>& column : m_numbers) {
        column.clear();
        column.shrink_to_fit();
    }
}

std::string DbfFile::text(const char* record, Field field) const {
    const std::string_view r = raw(record, field);
    if (is_numeric(field)) {
        char scratch[256];
        return std::string(trim_number(r.substr(0, std::min<size_t>(r.size(), 255)), scratch));
    }
    return cp1251_to_utf8(decode_text(r));
}

std::vector<std::string_view> DbfFile::fieldValues(Field field, std::string_view records) const {
    std::vector<std::string_view> values(records.size() / static_cast<size_t>(m_recordLength));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = raw(records.data() + i * static_cast<size_t>(m_recordLength), field);
    return values;
}

// ---------------------------------------------------------------- writing fields

std::vector<char> DbfFile::blankRecord() const { return std::vector<char>(static_cast<size_t>(m_recordLength), ' '); }

void DbfFile::checkPut(char*, Field field, bool numeric) const {
    if (numeric && !is_numeric(field))
        throw TableError(std::string("Поле ") + field_name(field) + " текстовое, а не числовое");
    if (!numeric && is_numeric(field))
        throw TableError(std::string("Поле ") + field_name(field) + " числовое, а не текстовое");
}

void DbfFile::putNumber(char* record, Field field, double value) const {
    checkPut(record, field, true);
    const Binding& b = m_bind[static_cast<int>(field)];
    char* out = record + b.offset;
    bool ok;
    if (b.decimals == 0) {
        const double r = std::round(value);
        ok = std::isfinite(r) && std::fabs(r) < 1e15 && encode_integer(static_cast<long>(r), b.width, out);
    } else {
        ok = encode_fixed(value, b.width, b.decimals, out);
    }
    if (!ok) {
        char text[64];
        auto res = std::to_chars(text, text + sizeof text, value);
        throw TableError("Значение " + std::string(text, res.ptr) + " не помещается в поле " + field_name(field) +
                         " (" + std::to_string(b.width) + " знаков, из них " + std::to_string(b.decimals) +
                         " после точки); запись не изменена");
    }
}

void DbfFile::putInteger(char* record, Field field, int value) const {
    const Binding& b = m_bind[static_cast<int>(field)];
    if (b.decimals > 0) {
        putNumber(record, field, value);
        return;
    }
    checkPut(record, field, true);
    if (value < -32768 || value > 32767 || !encode_integer(value, b.width, record + b.offset))
        throw TableError("Значение " + std::to_string(value) + " не помещается в поле " + field_name(field) + " (" +
                         std::to_string(b.width) + " знака); запись не изменена");
}

void DbfFile::putText(char* record, Field field, std::string_view utf8) const {
    checkPut(record, field, false);
    const Binding& b = m_bind[static_cast<int>(field)];
    std::string bytes = utf8_to_cp1251(utf8);
    if (bytes.size() > static_cast<size_t>(b.textLimit))
        bytes.resize(static_cast<size_t>(b.textLimit));
    encode_text(bytes, b.width, record + b.offset);
}

void DbfFile::putNull(char* record, Field field) const {
    const Binding& b = m_bind[static_cast<int>(field)];
    encode_blank(b.width, record + b.offset);
}

// ---------------------------------------------------------------- writing records

uint32_t DbfFile::appendRecord(const std::vector<char>& bytes, HeaderDate date) {
    if (!intact())
        throw TableError(file_failure_text(FileFailure::Changed, m_path) + "; запись не добавлена");
    ownRecords();
    const int64_t offset = m_headerLength + static_cast<int64_t>(m_count) * m_recordLength;
    std::vector<char> out(bytes);
    out.push_back(kEndMarker);
    const bool recordWritten = m_file.writeAt(offset, out.data(), out.size());
    ++m_count;
    // The end marker went out with the record.
    if (!recordWritten || !writeHeader(date, false)) {
        // The record is not counted: cut what reached the file and put the end marker back
        // where it was.
        --m_count;
        m_file.truncate(offset);
        writeHeader(date);
        throw TableError(kDiskFullMessage);
    }
    m_records.insert(m_records.end(), bytes.begin(), bytes.end());
    for (int f = 0; f < kFieldCount; ++f)
        if (m_numbers[f].size() + 1 == m_count)
            m_numbers[f].push_back(number(record(m_count), static_cast<Field>(f)));
    return m_count;
}

void DbfFile::unappend(HeaderDate date) {
    if (m_count == 0)
        return;
    ownRecords();
    m_records.resize(m_records.size() - static_cast<size_t>(m_recordLength));
    --m_count;
    for (std::vector<double>& column : m_numbers)
        if (column.size() == m_count + 1)
            column.pop_back();
    m_file.truncate(m_headerLength + static_cast<int64_t>(m_count) * m_recordLength);
    writeHeader(date);
}

void DbfFile::rewriteRecord(uint32_t id, const char* bytes) {
    if (!intact())
        throw TableError(file_failure_text(FileFailure::Changed, m_path) + "; запись не изменена");
    ownRecords();
    const int64_t offset = m_headerLength + static_cast<int64_t>(id - 1) * m_recordLength;
    char* cached = m_records.data() + static_cast<size_t>(id - 1) * m_recordLength;
    if (!m_file.writeAt(offset, bytes, static_cast<size_t>(m_recordLength))) {
        m_file.writeAt(offset, cached, static_cast<size_t>(m_recordLength));
        throw TableError(kDiskFullMessage);
    }
    std::memcpy(cached, bytes, static_cast<size_t>(m_recordLength));
    for (int f = 0; f < kFieldCount; ++f)
        if (m_numbers[f].size() == m_count)
            m_numbers[f][id - 1] = number(cached, static_cast<Field>(f));
}

void DbfFile::markDeleted(uint32_t id) {
    if (!intact())
        throw TableError(file_failure_text(FileFailure::Changed, m_path) + "; запись не удалена");
    ownRecords();
    const int64_t offset = m_headerLength + static_cast<int64_t>(id - 1) * m_recordLength;
    if (!m_file.writeAt(offset, &kDeleted, 1))
        throw TableError(kDiskFullMessage);
    m_records[static_cast<size_t>(id - 1) * m_recordLength] = kDeleted;
}

// ---------------------------------------------------------------- pack

DbfFile::Packed DbfFile::writePacked(const std::string& temp, HeaderDate date) const {
    // The live records, in physical order.
    RecordBytes live;
    live.reserve(records().size());
    uint32_t count = 0;
    for (uint32_t id = 1; id <= m_count; ++id) {
        const char* r = record(id);
        if (!isDeleted(r)) {
            live.insert(live.end(), r, r + m_recordLength);
            ++count;
        }
    }
    return writeCopy(temp, std::move(live), count, date, "Не удалось сжать таблицу: ");
}

DbfFile::Packed DbfFile::writeCopy(const std::string& temp, RecordBytes records, uint32_t count, HeaderDate date,
                                   const std::string& failed) const {
    // Records read as zeros past a cut are not the table's: no copy of them replaces it.
    if (cutWhileRead())
        throw TableError(failed + file_failure_text(FileFailure::Changed, m_path) + "; таблица не изменена");
    Packed p;
    p.records = std::move(records);
    p.count = count;
    p.header = m_header;
    putDate(p.header.data(), date);
    put_le32(&p.header[4], p.count);

    FileFailure failure;
    File::Options options;
    options.create = true;
    options.exclusive = true; // a fresh file of our own: nothing under that name is reused
    options.noFollow = true;  // a link left under the temporary name is not followed
    if (!p.file.open(temp, options, failure))
        throw TableError(failed + file_failure_text(failure, m_path));
    const int64_t end = m_headerLength + static_cast<int64_t>(p.records.size());
    const bool written = p.file.writeAt(0, p.header.data(), p.header.size()) &&
                         (p.records.empty() || p.file.writeAt(m_headerLength, p.records.data(), p.records.size())) &&
                         p.file.writeAt(end, &kEndMarker, 1);
    const FileFailure why = written ? FileFailure::Io : p.file.lastFailure();
    if (!written || !p.file.sync()) {
        p.file.close();
        remove_file(temp);
        throw TableError(failed + file_failure_text(why, m_path));
    }
    return p;
}

void DbfFile::adopt(Packed&& packed) {
    m_file = std::move(packed.file);
    m_header = std::move(packed.header);
    m_mapping.reset();
    m_records = std::move(packed.records);
    m_count = packed.count;
    forgetNumbers();
}

} // namespace ulen3
