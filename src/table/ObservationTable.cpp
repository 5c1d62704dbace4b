#include "ObservationTable.h"

#include "Cp1251.h"
#include "FieldCodec.h"
#include "ProductionIndex.h"
#include "TableError.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace ulen3 {
namespace {

struct FieldDef {
    const char* name;
    char type;
    int width;
    int decimals;
};

// The observation record as the program creates it.
constexpr FieldDef kFields[kFieldCount] = {
    {"N", 'N', 18, 9},       {"DATE", 'C', 10, 0},   {"TIME", 'C', 8, 0},
    {"DEV_TYPE", 'N', 4, 0}, {"SERIAL", 'N', 18, 9}, {"NB_TYPE", 'N', 4, 0},
    {"P", 'N', 18, 9},       {"R", 'N', 18, 9},      {"ZAV", 'C', 8, 0},
    {"TYPE", 'C', 15, 0},    {"COMMENT", 'C', 100, 0}, {"H", 'N', 18, 9},
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

void putU32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t getU32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t getU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The header, descriptors and terminator of a new table.
std::vector<unsigned char> newHeader(HeaderDate date) {
    std::vector<unsigned char> h(ObservationTable::kHeaderLength, 0);
    h[0] = 0x03;
    h[1] = date.year;
    h[2] = date.month;
    h[3] = date.day;
    h[8] = ObservationTable::kHeaderLength & 0xFF;
    h[9] = ObservationTable::kHeaderLength >> 8;
    h[10] = ObservationTable::kRecordLength & 0xFF;
    h[11] = ObservationTable::kRecordLength >> 8;
    h[29] = ObservationTable::kLanguageDriver;
    for (int i = 0; i < kFieldCount; ++i) {
        unsigned char* d = &h[32 + 32 * i];
        std::memcpy(d, kFields[i].name, std::strlen(kFields[i].name));
        d[11] = static_cast<unsigned char>(kFields[i].type);
        d[16] = static_cast<unsigned char>(kFields[i].width);
        d[17] = static_cast<unsigned char>(kFields[i].decimals);
    }
    h[ObservationTable::kHeaderLength - 1] = 0x0D;
    return h;
}

// Where the file name's extension starts (its '.'), or the path's length when
// the name has none.
size_t extensionStart(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path.size();
    return dot;
}

} // namespace

const char* field_name(Field field) { return kFields[static_cast<int>(field)].name; }

Field field_by_name(std::string_view name) {
    for (int i = 0; i < kFieldCount; ++i)
        if (equalsIgnoreCase(name, kFields[i].name))
            return static_cast<Field>(i);
    throw TableError("Поле «" + std::string(name) + "» не найдено в таблице");
}

bool is_numeric(Field field) { return kFields[static_cast<int>(field)].type == 'N'; }

HeaderDate local_today() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return {static_cast<uint8_t>(tm.tm_year & 0xFF), static_cast<uint8_t>(tm.tm_mon + 1),
            static_cast<uint8_t>(tm.tm_mday)};
}

ObservationTable::ObservationTable() = default;

ObservationTable::~ObservationTable() {
    try {
        Close();
    } catch (...) {
        // The destructor has nobody to report to; the file keeps what was posted.
    }
}

// ---------------------------------------------------------------- create, open, close

void ObservationTable::CreateEmpty(const std::string& path) {
    // Take the file's lock before cutting it, so a table open in another program
    // is never destroyed.
    const bool existed = file_exists(path);
    TableFile file;
    FileFailure failure;
    if (!file.open(path, true, failure))
        throw TableError("Не удалось создать таблицу: " + file_failure_text(failure, path));
    std::vector<unsigned char> bytes = newHeader(m_today());
    bytes.push_back(kEndMarker);
    if (!file.truncate(0) || !file.writeAt(0, bytes.data(), bytes.size())) {
        const FileFailure why = file.lastFailure();
        file.close();
        remove_file(path);
        throw TableError("Не удалось создать таблицу: " + file_failure_text(why, path) +
                         (existed ? "; прежний файл удалён" : ""));
    }
}

std::string ObservationTable::checkFails(const std::string& path, const std::string& why) const {
    return "Не удалось открыть таблицу «" + path + "»: " + why;
}

void ObservationTable::resetOpenState() {
    m_index.reset();
    m_indexTag = -1;
    m_file.close();
    m_state = State::Closed;
    m_path.clear();
    m_header.clear();
    m_descriptors.clear();
    m_records.clear();
    m_records.shrink_to_fit();
    m_buffer.clear();
    m_view.clear();
    m_pos = 0;
    m_eof = true;
    m_count = 0;
}

// Tells the grids, once the operation is over, that the cursor or the view may have moved.
struct CursorNotice {
    const ObservationTable& table;
    ~CursorNotice() {
        if (table.m_cursorListener) {
            try {
                table.m_cursorListener();
            } catch (...) {
            }
        }
    }
};

void ObservationTable::Open(const std::string& path) {
    const CursorNotice notice{*this};
    Close();
    FileFailure failure;
    if (!m_file.open(path, false, failure))
        throw TableError(checkFails(path, file_failure_text(failure, path)));
    try {
        m_path = path;
        bindFields(path);
    } catch (...) {
        resetOpenState();
        throw;
    }
    m_state = State::Browsing;

    // A header that claims another count than the file size holds is corrected
    // now that the open has succeeded.
    const bool countWrong = getU32(&m_header[4]) != m_count;

    // The index flag may point to an index file that was deleted with the
    // document; the flag is cleared with the next header write.
    if (m_header[28] != 0) {
        if (file_exists(IndexPath()))
            openIndex();
        else
            m_header[28] = 0;
    }

    if (countWrong && !writeHeader()) {
        const FileFailure why = m_file.lastFailure();
        resetOpenState();
        throw TableError(checkFails(path, file_failure_text(why, path)));
    }
    selectTag();
    rebuildView(0, 0, {});
    First();
}

// The tags of an index file left beside the table are taken over and filled
// from the records, so they are right whatever happened to the file since.
// An index file that cannot be read is treated as absent.
void ObservationTable::openIndex() {
    const auto tags = ProductionIndex::readTags(IndexPath());
    try {
        if (!tags || tags->empty())
            throw TableError("index file not readable");
        auto index = ProductionIndex::create(IndexPath(), tableName(), m_today());
        for (ProductionIndex::TagInfo info : *tags) {
            const Field field = field_by_name(info.field);
            info.type = is_numeric(field) ? 'N' : 'C';
            info.fieldWidth = m_bind[static_cast<int>(field)].width;
            index->addTag(info, fieldValues(field, m_records));
        }
        if (!index->flush())
            throw TableError("index file not writable");
        m_index = std::move(index);
    } catch (const std::exception&) {
        m_index.reset();
        m_header[28] = 0;
    }
}

std::string ObservationTable::tableName() const {
    const std::string stem = m_path.substr(0, extensionStart(m_path));
    const size_t slash = stem.find_last_of('/');
    return slash == std::string::npos ? stem : stem.substr(slash + 1);
}

std::vector<std::string_view> ObservationTable::fieldValues(Field field,
                                                           const std::vector<char>& records) const {
    std::vector<std::string_view> values(records.size() / static_cast<size_t>(m_recordLength));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = rawField(records.data() + i * static_cast<size_t>(m_recordLength), field);
    return values;
}

void ObservationTable::closeIndex(bool deleteFile) {
    if (!m_index)
        return;
    if (!deleteFile)
        m_index->flush();
    m_index->close();
    m_index.reset();
    m_indexTag = -1;
    if (deleteFile)
        remove_file(IndexPath());
}

void ObservationTable::bindFields(const std::string& path) {
    const int64_t size = m_file.size();
    unsigned char head[32];
    if (size < 32 || !m_file.readAt(0, head, 32))
        throw TableError(checkFails(path, "файл не является таблицей dBase"));
    if ((head[0] & 0x07) != 3)
        throw TableError(checkFails(path, "файл не является таблицей dBase III/IV"));
    m_headerLength = getU16(&head[8]);
    m_recordLength = getU16(&head[10]);
    if (m_headerLength == 0 || m_recordLength == 0)
        throw TableError(checkFails(path, "в заголовке нулевая длина заголовка или записи"));
    if (m_headerLength < 33 || m_headerLength > size)
        throw TableError(checkFails(path, "заголовок таблицы повреждён"));
    m_header.assign(static_cast<size_t>(m_headerLength), 0);
    if (!m_file.readAt(0, m_header.data(), m_header.size()))
        throw TableError(checkFails(path, "заголовок таблицы не читается"));

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
            fd.width = d[16] | (d[17] << 8);
            fd.decimals = 0;
        }
        offsets.push_back(offset);
        offset += fd.width;
        m_descriptors.push_back(std::move(fd));
    }
    if (offset > m_recordLength)
        throw TableError(checkFails(path, "поля не помещаются в длину записи"));

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
            throw TableError(checkFails(path, std::string("нет поля ") + def.name));
        const FieldDescriptor& fd = m_descriptors[static_cast<size_t>(found)];
        bool kindOk;
        if (def.type == 'C')
            kindOk = fd.type == 'C' && fd.width > 0;
        else if (def.decimals > 0)
            kindOk = (fd.type == 'N' || fd.type == 'F') && fd.decimals >= 1 && fd.width > 0;
        else
            kindOk = (fd.type == 'N' || fd.type == 'F') && fd.decimals == 0 && fd.width >= 1 &&
                     fd.width <= 9;
        if (!kindOk)
            throw TableError(checkFails(path, std::string("поле ") + def.name +
                                                  " другого типа или размера"));
        Binding& b = m_bind[i];
        b.offset = offsets[static_cast<size_t>(found)];
        b.width = fd.width;
        b.decimals = fd.decimals;
        b.textLimit = std::min(fd.width, def.width);
    }

    // The number of records comes from the file size.
    const int64_t body = size - m_headerLength;
    m_count = static_cast<uint32_t>(body / m_recordLength);
    // Room for a few downloads more, so that posting does not copy the table.
    m_records.reserve((static_cast<size_t>(m_count) + 8192) * static_cast<size_t>(m_recordLength));
    m_records.resize(static_cast<size_t>(m_count) * static_cast<size_t>(m_recordLength));
    if (!m_records.empty() && !m_file.readAt(m_headerLength, m_records.data(), m_records.size()))
        throw TableError(checkFails(path, "записи таблицы не читаются"));
}

void ObservationTable::Close() {
    const CursorNotice notice{*this};
    if (m_state == State::Closed)
        return;
    m_buffer.clear();
    m_state = State::Browsing;
    closeIndex(false);
    const bool written = writeHeader();
    const FileFailure why = m_file.lastFailure();
    const std::string path = m_path;
    resetOpenState();
    if (!written)
        throw TableError("Не удалось записать заголовок таблицы: " + file_failure_text(why, path));
}

std::string ObservationTable::IndexPath() const {
    return m_path.substr(0, extensionStart(m_path)) + ".mdx";
}

// Puts the date, count and index flag into the file and the end marker after the
// last record.
bool ObservationTable::writeHeader(bool withEndMarker) {
    const HeaderDate d = m_today();
    m_header[1] = d.year;
    m_header[2] = d.month;
    m_header[3] = d.day;
    putU32(&m_header[4], m_count);
    const int64_t end = m_headerLength + static_cast<int64_t>(m_count) * m_recordLength;
    return m_file.writeHead(m_header.data(), 32) &&
           (!withEndMarker || m_file.writeAt(end, &kEndMarker, 1));
}

// ---------------------------------------------------------------- navigation

void ObservationTable::First() {
    const CursorNotice notice{*this};
    m_pos = 0;
    m_eof = m_view.empty();
}

void ObservationTable::Next() {
    const CursorNotice notice{*this};
    if (m_pos + 1 < m_view.size())
        ++m_pos;
    else
        m_eof = true;
}

void ObservationTable::Last() {
    const CursorNotice notice{*this};
    m_pos = m_view.empty() ? 0 : m_view.size() - 1;
    m_eof = m_view.empty();
}

uint32_t ObservationTable::RecordId() const {
    if (m_state == State::Closed || m_pos >= m_view.size())
        return 0;
    return m_view[m_pos];
}

bool ObservationTable::GotoRecord(uint32_t recordId) {
    const CursorNotice notice{*this};
    const auto it = std::find(m_view.begin(), m_view.end(), recordId);
    if (it == m_view.end())
        return false;
    m_pos = static_cast<size_t>(it - m_view.begin());
    m_eof = false;
    return true;
}

bool ObservationTable::IsDeleted(uint32_t recordId) const {
    const char* r = recordBytes(recordId);
    return r != nullptr && r[0] == kDeleted;
}

uint32_t ObservationTable::ViewRecordAt(int row) const {
    return row >= 0 && static_cast<size_t>(row) < m_view.size() ? m_view[static_cast<size_t>(row)] : 0;
}

int ObservationTable::ViewRow() const {
    return m_state == State::Closed || m_pos >= m_view.size() ? -1 : static_cast<int>(m_pos);
}

bool ObservationTable::GotoRow(int row) {
    return GotoRecord(ViewRecordAt(row));
}

bool ObservationTable::IsNullAt(uint32_t recordId, Field field) const {
    const char* r = recordBytes(recordId);
    return r == nullptr || rawField(r, field).find_first_not_of(' ') == std::string_view::npos;
}

double ObservationTable::NumberAt(uint32_t recordId, Field field) const {
    const char* r = recordBytes(recordId);
    return r == nullptr ? 0 : decode_number(rawField(r, field)).value_or(0.0);
}

std::string ObservationTable::TextAt(uint32_t recordId, Field field) const {
    const char* r = recordBytes(recordId);
    return r == nullptr ? std::string() : fieldText(r, field);
}

const char* ObservationTable::recordBytes(uint32_t recordId) const {
    if (recordId == 0 || recordId > m_count)
        return nullptr;
    return m_records.data() + static_cast<size_t>(recordId - 1) * m_recordLength;
}

// ---------------------------------------------------------------- fields

const char* ObservationTable::currentRecord() const {
    if (m_state == State::Appending || m_state == State::Editing)
        return m_buffer.data();
    return recordBytes(RecordId());
}

std::string_view ObservationTable::rawField(const char* record, Field field) const {
    const Binding& b = m_bind[static_cast<int>(field)];
    return {record + b.offset, static_cast<size_t>(b.width)};
}

bool ObservationTable::IsNull(Field field) const {
    const char* r = currentRecord();
    if (r == nullptr)
        return true;
    const std::string_view raw = rawField(r, field);
    return raw.find_first_not_of(' ') == std::string_view::npos;
}

double ObservationTable::Number(Field field) const {
    const char* r = currentRecord();
    if (r == nullptr)
        return 0;
    return decode_number(rawField(r, field)).value_or(0.0);
}

int ObservationTable::Integer(Field field) const {
    const double v = Number(field);
    if (!(v > -2147483648.0 && v < 2147483648.0))
        return 0;
    return static_cast<int>(std::lround(v));
}

std::string ObservationTable::Text(Field field) const {
    const char* r = currentRecord();
    return r == nullptr ? std::string() : fieldText(r, field);
}

std::string ObservationTable::fieldText(const char* r, Field field) const {
    const std::string_view raw = rawField(r, field);
    if (is_numeric(field)) {
        char scratch[256];
        return std::string(trim_number(raw.substr(0, std::min<size_t>(raw.size(), 255)), scratch));
    }
    return cp1251_to_utf8(decode_text(raw));
}

char* ObservationTable::editableRecord(Field field) {
    if (m_state != State::Appending && m_state != State::Editing)
        throw TableError(std::string("Запись не редактируется: поле ") + field_name(field) +
                         " нельзя изменить");
    return m_buffer.data() + m_bind[static_cast<int>(field)].offset;
}

void ObservationTable::SetNumber(Field field, double value) {
    const Binding& b = m_bind[static_cast<int>(field)];
    char* out = editableRecord(field);
    if (!is_numeric(field))
        throw TableError(std::string("Поле ") + field_name(field) + " текстовое, а не числовое");
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
        throw TableError("Значение " + std::string(text, res.ptr) + " не помещается в поле " +
                         field_name(field) + " (" + std::to_string(b.width) + " знаков, из них " +
                         std::to_string(b.decimals) + " после точки); запись не изменена");
    }
}

void ObservationTable::SetInteger(Field field, int value) {
    const Binding& b = m_bind[static_cast<int>(field)];
    if (b.decimals > 0) {
        SetNumber(field, value);
        return;
    }
    char* out = editableRecord(field);
    if (!is_numeric(field))
        throw TableError(std::string("Поле ") + field_name(field) + " текстовое, а не числовое");
    if (value < -32768 || value > 32767 || !encode_integer(value, b.width, out))
        throw TableError("Значение " + std::to_string(value) + " не помещается в поле " +
                         field_name(field) + " (" + std::to_string(b.width) +
                         " знака); запись не изменена");
}

void ObservationTable::SetText(Field field, std::string_view utf8) {
    const Binding& b = m_bind[static_cast<int>(field)];
    char* out = editableRecord(field);
    if (is_numeric(field))
        throw TableError(std::string("Поле ") + field_name(field) + " числовое, а не текстовое");
    std::string bytes = utf8_to_cp1251(utf8);
    if (bytes.size() > static_cast<size_t>(b.textLimit))
        bytes.resize(static_cast<size_t>(b.textLimit));
    encode_text(bytes, b.width, out);
}

void ObservationTable::SetNull(Field field) {
    char* out = editableRecord(field);
    encode_blank(m_bind[static_cast<int>(field)].width, out);
}

// ---------------------------------------------------------------- append, edit, post, delete

void ObservationTable::Append() {
    if (m_state == State::Closed)
        throw TableError("Таблица не открыта");
    m_buffer.assign(static_cast<size_t>(m_recordLength), ' ');
    m_state = State::Appending;
}

void ObservationTable::Edit() {
    if (m_state == State::Closed)
        throw TableError("Таблица не открыта");
    if (m_state != State::Browsing)
        return;
    const char* r = recordBytes(RecordId());
    if (r == nullptr)
        throw TableError("Нет текущей записи для изменения");
    m_buffer.assign(r, r + m_recordLength);
    m_state = State::Editing;
}

void ObservationTable::Cancel() {
    const CursorNotice notice{*this};
    if (m_state == State::Appending || m_state == State::Editing) {
        m_buffer.clear();
        m_state = State::Browsing;
    }
}

void ObservationTable::Post() {
    const CursorNotice notice{*this};
    if (m_state == State::Appending) {
        const uint32_t recordId = m_count + 1;
        const int64_t offset = m_headerLength + static_cast<int64_t>(m_count) * m_recordLength;
        m_buffer.push_back(kEndMarker);
        const bool recordWritten = m_file.writeAt(offset, m_buffer.data(), m_buffer.size());
        m_buffer.pop_back();
        ++m_count;
        // The end marker went out with the record.
        if (!recordWritten || !writeHeader(false)) {
            // The record is not counted: cut what reached the file and put the
            // end marker back where it was.
            --m_count;
            m_file.truncate(offset);
            writeHeader();
            throw TableError(kDiskFullMessage);
        }
        m_records.insert(m_records.end(), m_buffer.begin(), m_buffer.end());
        if (!updateTags(recordId, nullptr, recordBytes(recordId))) {
            m_records.resize(m_records.size() - static_cast<size_t>(m_recordLength));
            --m_count;
            m_file.truncate(offset);
            writeHeader();
            throw TableError(kIndexDiskFullMessage);
        }
        m_buffer.clear();
        m_state = State::Browsing;
        placeAfterChange(recordId);
        return;
    }
    if (m_state == State::Editing) {
        const uint32_t recordId = RecordId();
        const int64_t offset = m_headerLength + static_cast<int64_t>(recordId - 1) * m_recordLength;
        char* cached = m_records.data() + static_cast<size_t>(recordId - 1) * m_recordLength;
        if (!m_file.writeAt(offset, m_buffer.data(), m_buffer.size())) {
            m_file.writeAt(offset, cached, static_cast<size_t>(m_recordLength));
            throw TableError(kDiskFullMessage);
        }
        const std::vector<char> before(cached, cached + m_recordLength);
        std::memcpy(cached, m_buffer.data(), m_buffer.size());
        if (!updateTags(recordId, before.data(), cached))
            throw TableError(kIndexDiskFullMessage);
        m_buffer.clear();
        m_state = State::Browsing;
        placeAfterChange(recordId);
    }
}

void ObservationTable::Delete() {
    const CursorNotice notice{*this};
    if (m_state == State::Closed)
        throw TableError("Таблица не открыта");
    Cancel();
    const uint32_t recordId = RecordId();
    if (recordId == 0)
        return;
    const int64_t offset = m_headerLength + static_cast<int64_t>(recordId - 1) * m_recordLength;
    if (!m_file.writeAt(offset, &kDeleted, 1))
        throw TableError(kDiskFullMessage);
    m_records[static_cast<size_t>(recordId - 1) * m_recordLength] = kDeleted;
    m_view.erase(m_view.begin() + static_cast<std::ptrdiff_t>(m_pos));
    if (m_pos >= m_view.size())
        m_pos = m_view.empty() ? 0 : m_view.size() - 1;
    m_eof = m_view.empty();
}

// ---------------------------------------------------------------- filter and view

void ObservationTable::parseFilter(const std::string& filter) {
    const auto trim = [](std::string_view s) {
        while (!s.empty() && s.front() == ' ')
            s.remove_prefix(1);
        while (!s.empty() && s.back() == ' ')
            s.remove_suffix(1);
        return s;
    };
    const std::string_view text = trim(filter);
    if (text.empty()) {
        m_filterField = -1;
        return;
    }
    const size_t eq = text.find('=');
    const std::string bad = "Неверный фильтр «" + filter + "»: ожидается ПОЛЕ=целое число";
    if (eq == std::string_view::npos)
        throw TableError(bad);
    const std::string_view name = trim(text.substr(0, eq));
    const std::string_view number = trim(text.substr(eq + 1));
    long value = 0;
    auto res = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || res.ec != std::errc() || res.ptr != number.data() + number.size())
        throw TableError(bad);
    const Field field = field_by_name(name);
    if (!is_numeric(field))
        throw TableError(bad);
    m_filterField = static_cast<int>(field);
    m_filterValue = value;
}

void ObservationTable::SetFilter(const std::string& filter) {
    parseFilter(filter);
    m_filter = filter;
    if (Active())
        Refresh();
}

bool ObservationTable::passesFilter(const char* record) const {
    if (record[0] == kDeleted)
        return false;
    if (m_filterField < 0)
        return true;
    const double v =
        decode_number(rawField(record, static_cast<Field>(m_filterField))).value_or(0.0);
    return v == static_cast<double>(m_filterValue);
}

void ObservationTable::Refresh() {
    const CursorNotice notice{*this};
    if (!Active())
        return;
    Cancel();
    const std::vector<uint32_t> old = m_view;
    rebuildView(RecordId(), m_pos, old);
}

// Builds the view and keeps the current record current when it is still in the
// view, else the next one of the old view that is, else the previous one.
void ObservationTable::rebuildView(uint32_t keep, size_t oldPos,
                                   const std::vector<uint32_t>& oldView) {
    m_view.clear();
    if (m_indexTag >= 0) {
        for (uint32_t id : m_index->order(m_indexTag))
            if (passesFilter(recordBytes(id)))
                m_view.push_back(id);
    } else {
        for (uint32_t id = 1; id <= m_count; ++id)
            if (passesFilter(recordBytes(id)))
                m_view.push_back(id);
    }

    m_pos = 0;
    m_eof = m_view.empty();
    if (keep == 0 || m_view.empty())
        return;
    std::vector<int32_t> where(static_cast<size_t>(m_count) + 1, -1);
    for (size_t i = 0; i < m_view.size(); ++i)
        where[m_view[i]] = static_cast<int32_t>(i);
    const auto placeAt = [&](uint32_t id) {
        if (id <= m_count && where[id] >= 0) {
            m_pos = static_cast<size_t>(where[id]);
            return true;
        }
        return false;
    };
    if (placeAt(keep))
        return;
    for (size_t i = oldPos + 1; i < oldView.size(); ++i)
        if (placeAt(oldView[i]))
            return;
    for (size_t i = std::min(oldPos, oldView.size()); i-- > 0;)
        if (placeAt(oldView[i]))
            return;
}

// After a post the record is current, at its place in the view's order; one
// that the filter excludes leaves the view, and the record that follows it (or
// else the one before) becomes current.
void ObservationTable::placeAfterChange(uint32_t recordId) {
    // An edited record is the current one; a new record is in no view yet.
    const bool inView = m_pos < m_view.size() && m_view[m_pos] == recordId;
    if (inView)
        m_view.erase(m_view.begin() + static_cast<std::ptrdiff_t>(m_pos));
    if (passesFilter(recordBytes(recordId)))
        insertIntoView(recordId);
    else if (m_pos >= m_view.size())
        m_pos = m_view.empty() ? 0 : m_view.size() - 1;
    m_eof = m_view.empty();
}

bool ObservationTable::viewBefore(uint32_t a, uint32_t b) const {
    if (m_indexTag < 0)
        return a < b;
    const Field f = field_by_name(m_index->tag(m_indexTag).field);
    return m_index->compare(m_indexTag, rawField(recordBytes(a), f), a, rawField(recordBytes(b), f),
                            b) < 0;
}

void ObservationTable::insertIntoView(uint32_t recordId) {
    auto at = m_view.end();
    if (!m_view.empty() && !viewBefore(m_view.back(), recordId))
        at = std::lower_bound(m_view.begin(), m_view.end(), recordId,
                              [this](uint32_t a, uint32_t b) { return viewBefore(a, b); });
    const auto inserted = m_view.insert(at, recordId);
    m_pos = static_cast<size_t>(inserted - m_view.begin());
}

// Puts a posted record's keys into every tag and writes the changed blocks.
bool ObservationTable::updateTags(uint32_t recordId, const char* oldRecord, const char* newRecord) {
    if (!m_index)
        return true;
    for (int i = 0; i < m_index->tagCount(); ++i) {
        const Field f = field_by_name(m_index->tag(i).field);
        const std::string_view now = rawField(newRecord, f);
        if (oldRecord != nullptr) {
            const std::string_view was = rawField(oldRecord, f);
            if (was == now)
                continue;
            m_index->remove(i, was, recordId);
        }
        m_index->insert(i, now, recordId);
    }
    if (m_index->flush())
        return true;
    // The disk refused the index. A new record is taken back out (the caller
    // uncounts it); an edited one is in the file, so its keys stay in memory.
    if (oldRecord == nullptr) {
        for (int i = 0; i < m_index->tagCount(); ++i)
            m_index->remove(i, rawField(newRecord, field_by_name(m_index->tag(i).field)), recordId);
        m_index->flush();
    }
    return false;
}

void ObservationTable::selectTag() {
    m_indexTag = m_index && !m_indexName.empty() ? m_index->findTag(m_indexName) : -1;
    if (m_indexTag < 0)
        m_indexName.clear();
}

std::vector<std::string> ObservationTable::TagNames() const {
    std::vector<std::string> names;
    for (int i = 0; m_index && i < m_index->tagCount(); ++i)
        names.push_back(m_index->tag(i).name);
    return names;
}

void ObservationTable::AddTag(const std::string& tag, const std::string& fieldName,
                              bool descending) {
    if (!Active())
        throw TableError("Таблица не открыта");
    Cancel();
    const bool created = !m_index;
    const bool wasOrdered = m_indexTag >= 0;
    try {
        const Field field = field_by_name(fieldName);
        if (created)
            m_index = ProductionIndex::create(IndexPath(), tableName(), m_today());
        ProductionIndex::TagInfo info;
        info.name = tag;
        info.field = field_name(field);
        info.descending = descending;
        info.type = is_numeric(field) ? 'N' : 'C';
        info.fieldWidth = m_bind[static_cast<int>(field)].width;
        m_index->addTag(info, fieldValues(field, m_records));
        if (!m_index->flush())
            throw TableError(kIndexDiskFullMessage);
        m_header[28] = 1;
        writeHeader();
    } catch (const std::exception&) {
        // A tag that cannot be created is removed without a word, with an index
        // file created for it.
        if (created || !m_index)
            closeIndex(true);
        else
            dropTagAt(m_index->findTag(tag));
    }
    refreshOrder(wasOrdered);
}

// Removes a tag; the last one takes the index file and header byte 28 with it.
void ObservationTable::dropTagAt(int t) {
    if (t < 0)
        return;
    m_index->dropTag(t);
    if (m_index->tagCount() == 0) {
        closeIndex(true);
        m_header[28] = 0;
        writeHeader();
    } else {
        m_index->flush();
    }
}

// After a change of the tags: re-read the view when its order depends on them.
void ObservationTable::refreshOrder(bool wasOrdered) {
    selectTag();
    if (wasOrdered || m_indexTag >= 0)
        Refresh();
}

void ObservationTable::DropTag(const std::string& tag) {
    if (!Active() || !m_index)
        return;
    const int t = m_index->findTag(tag);
    if (t < 0)
        return;
    Cancel();
    const bool wasOrdered = m_indexTag >= 0;
    dropTagAt(t);
    refreshOrder(wasOrdered);
}

void ObservationTable::RebuildTags() {
    if (!Active() || !m_index)
        return;
    Cancel();
    for (int i = 0; i < m_index->tagCount(); ++i)
        m_index->rebuild(i, fieldValues(field_by_name(m_index->tag(i).field), m_records));
    if (!m_index->flush())
        throw TableError(kIndexDiskFullMessage);
    refreshOrder(m_indexTag >= 0);
}

void ObservationTable::SetIndexName(const std::string& tag) {
    m_indexName = tag;
    if (!Active())
        return;
    selectTag();
    Refresh();
}

// ---------------------------------------------------------------- pack

void ObservationTable::Pack() {
    if (!Active())
        throw TableError("Таблица не открыта");
    Cancel();

    // The temporary table: the name with "_1", "_2", ... before the extension.
    const size_t dot = extensionStart(m_path);
    const std::string stem = m_path.substr(0, dot);
    const std::string ext = m_path.substr(dot);
    std::string temp;
    for (int n = 1;; ++n) {
        temp = stem + "_" + std::to_string(n) + ext;
        if (!file_exists(temp) && !file_exists(stem + "_" + std::to_string(n) + ".mdx"))
            break;
    }
    const std::string tempIndex = temp.substr(0, temp.size() - ext.size()) + ".mdx";
    const std::string keepIndexName = m_indexName;
    m_indexName.clear();
    m_indexTag = -1;

    // Copy the live records, in physical order, behind a copy of the header.
    std::vector<char> live;
    live.reserve(m_records.size());
    uint32_t liveCount = 0;
    for (uint32_t id = 1; id <= m_count; ++id) {
        const char* r = recordBytes(id);
        if (r[0] != kDeleted) {
            live.insert(live.end(), r, r + m_recordLength);
            ++liveCount;
        }
    }
    std::vector<unsigned char> header = m_header;
    const HeaderDate d = m_today();
    header[1] = d.year;
    header[2] = d.month;
    header[3] = d.day;
    putU32(&header[4], liveCount);

    TableFile packed;
    FileFailure failure;
    if (!packed.open(temp, true, failure))
        throw TableError("Не удалось сжать таблицу: " + file_failure_text(failure, temp) +
                         "; таблица не изменена");
    std::unique_ptr<ProductionIndex> packedIndex;
    const auto fail = [&](FileFailure why) {
        packed.close();
        remove_file(temp);
        if (packedIndex) {
            packedIndex.reset();
            remove_file(tempIndex);
        }
        m_indexName = keepIndexName;
        selectTag();
        throw TableError("Не удалось сжать таблицу: " + file_failure_text(why, temp) +
                         "; таблица не изменена");
    };
    const int64_t end = m_headerLength + static_cast<int64_t>(live.size());
    if (!packed.writeAt(0, header.data(), header.size()) ||
        (!live.empty() && !packed.writeAt(m_headerLength, live.data(), live.size())) ||
        !packed.writeAt(end, &kEndMarker, 1))
        fail(packed.lastFailure());
    if (!packed.sync())
        fail(FileFailure::Io);

    // Every tag again, in an index file that names the table itself.
    if (m_index) {
        bool indexWritten = false;
        try {
            packedIndex = ProductionIndex::create(tempIndex, tableName(), d);
            for (int i = 0; i < m_index->tagCount(); ++i) {
                const ProductionIndex::TagInfo& info = m_index->tag(i);
                packedIndex->addTag(info, fieldValues(field_by_name(info.field), live));
            }
            indexWritten = packedIndex->flush();
        } catch (const std::exception&) {
            remove_file(tempIndex);
        }
        if (!indexWritten)
            fail(FileFailure::NoSpace);
    }

    // The packed copy replaces the table in one step; its handle, already
    // locked, becomes the table's.
    if (!rename_file(temp, m_path))
        fail(FileFailure::Io);
    m_file = std::move(packed);
    m_header = std::move(header);
    m_records = std::move(live);
    m_count = liveCount;
    if (packedIndex) {
        m_index = std::move(packedIndex);
        if (!rename_file(tempIndex, IndexPath())) {
            // The table is packed; without its index file it shows physical order.
            closeIndex(false);
            remove_file(tempIndex);
            m_header[28] = 0;
        }
    }
    writeHeader();
    m_indexName = keepIndexName;
    selectTag();
    rebuildView(0, 0, {});
    First();
}

} // namespace ulen3
