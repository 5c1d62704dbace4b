#include "table/ObservationTable.h"

#include "table/FieldCodec.h"
#include "table/ProductionIndex.h"
#include "table/TableError.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ulen3 {

// Counts the operations in progress; the outermost one tells the listeners what changed.
struct ObservationTable::Notice {
    explicit Notice(ObservationTable& t) : table(t) { ++table.m_depth; }
    ~Notice() {
        if (--table.m_depth == 0)
            table.settle();
    }
    ObservationTable& table;
};

ObservationTable::UpdateBatch::UpdateBatch(ObservationTable& table) : m_table(table) { ++m_table.m_depth; }

ObservationTable::UpdateBatch::~UpdateBatch() {
    if (--m_table.m_depth == 0)
        m_table.settle();
}

// The operations in progress are over. An index left without tags goes now, with its file and
// byte 28: a tag added before then (a title click drops its grid's tag and adds the new one in
// one batch) went into the same file, where a new file would first have to reach the disk.
void ObservationTable::settle() {
    if (dropEmptyIndex() && !m_file.readOnly())
        m_file.writeHeader(m_today());
    deliver();
}

bool ObservationTable::dropEmptyIndex() {
    if (!m_index || m_index->tagCount() != 0)
        return false;
    closeIndex(true);
    if (!m_file.readOnly())
        m_file.setIndexFlag(0);
    return true;
}

void ObservationTable::changed(unsigned what, uint32_t record) {
    if ((what & kRecord) && m_changedRecord != 0 && m_changedRecord != record)
        what = kView; // two records changed: the listeners read the view anew
    if (what & kRecord)
        m_changedRecord = record;
    m_changes |= what;
}

void ObservationTable::deliver() {
    const unsigned what = m_changes;
    const uint32_t record = m_changedRecord;
    m_changes = 0;
    m_changedRecord = 0;
    if (what == 0)
        return;
    // A copy: a listener may come or go while the others are told.
    const std::vector<TableListener*> listeners = m_listeners;
    for (TableListener* l : listeners) {
        try {
            if (what & kView) {
                l->ViewReset((what & kRenumbered) != 0);
                continue;
            }
            if (what & kRecord)
                l->RecordChanged(record);
            if (what & kCursor)
                l->CursorMoved();
        } catch (...) {
            // A listener's failure is its own; the table's operation has succeeded.
        }
    }
}

void ObservationTable::AddListener(TableListener* listener) {
    if (std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void ObservationTable::RemoveListener(TableListener* listener) {
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

ObservationTable::ObservationTable() = default;

ObservationTable::~ObservationTable() {
    m_listeners.clear();
    try {
        Close();
    } catch (...) {
        // The destructor has nobody to report to; the file keeps what was posted.
    }
}

// ---------------------------------------------------------------- create, open, close

void ObservationTable::CreateEmpty(const std::string& path) { DbfFile::createEmpty(path, m_today()); }

void ObservationTable::resetOpenState() {
    m_index.reset();
    m_indexTag = -1;
    m_file.release();
    m_state = State::Closed;
    m_buffer.clear();
    m_view.clear();
    m_passes.clear();
    m_pos = 0;
    m_eof = true;
}

void ObservationTable::Open(const std::string& path) { open(path, false); }

void ObservationTable::OpenReadOnly(const std::string& path) { open(path, true); }

void ObservationTable::requireWritable() const {
    if (m_file.readOnly())
        throw TableError("Таблица «" + Path() + "» открыта только для чтения");
}

void ObservationTable::open(const std::string& path, bool readOnly) {
    const Notice notice(*this);
    Close();
    changed(path == m_closedPath ? kView : kView | kRenumbered);
    m_closedPath.clear();
    m_file.open(path, readOnly);
    m_state = State::Browsing;
    if (readOnly) {
        // No index is opened: the view is in file order, and the header stays as it is.
        selectTag();
        matchAll();
        rebuildView(0, 0, {});
        m_pos = 0;
        m_eof = m_view.empty();
        return;
    }

    // What a killed pack, renumber or index build of an earlier run left beside the table goes.
    remove_stale_temps(path);
    remove_stale_temps(IndexPath(), false);

    // A header that claims another count than the file size holds is corrected
    // now that the open has succeeded.
    const bool countWrong = m_file.headerCountDisagrees();

    // The index flag may point to an index file that was deleted with the
    // document; the flag is cleared with the next header write.
    if (m_file.indexFlag() != 0) {
        if (file_exists(IndexPath()))
            openIndex();
        else
            m_file.setIndexFlag(0);
    }

    if (countWrong && !m_file.writeHeader(m_today())) {
        const FileFailure why = m_file.lastFailure();
        resetOpenState();
        throw TableError("Не удалось открыть таблицу «" + path + "»: " + file_failure_text(why, path));
    }
    selectTag();
    matchAll();
    rebuildView(0, 0, {});
    m_pos = 0;
    m_eof = m_view.empty();
}

// The tags of an index file left beside the table are taken over and filled
// from the records, so they are right whatever happened to the file since.
// An index file that cannot be read is treated as absent.
void ObservationTable::openIndex() {
    const auto tags = ProductionIndex::readTags(IndexPath());
    try {
        if (!tags || tags->empty())
            throw TableError("index file not readable");
        // The index is built anew under a temporary name and renamed over the old one only when
        // complete: a crash or a full disk leaves the old file, never a cut one.
        const std::string temp = temp_name_beside(IndexPath(), false);
        try {
            auto index = ProductionIndex::create(temp, m_file.tableName(), m_today());
            for (ProductionIndex::TagInfo info : *tags) {
                const Field field = field_by_name(info.field);
                info.type = is_numeric(field) ? 'N' : 'C';
                info.fieldWidth = m_file.width(field);
                index->addTag(info, m_file.fieldValues(field, m_file.records()));
            }
            if (!index->flush() || !index->sync() || !replace_with(temp, IndexPath(), false))
                throw TableError("index file not writable");
            m_index = std::move(index);
        } catch (const std::exception&) {
            remove_file(temp);
            throw;
        }
    } catch (const std::exception&) {
        m_index.reset();
        m_file.setIndexFlag(0);
    }
}

void ObservationTable::closeIndex(bool deleteFile) {
    if (!m_index)
        return;
    if (!deleteFile)
        m_index->flush();
    m_index->close();
    m_index.reset();
    m_indexTag = -1;
    if (deleteFile && !m_file.readOnly())
        remove_file(IndexPath());
}

void ObservationTable::Close() {
    const Notice notice(*this);
    if (m_state == State::Closed)
        return;
    changed(kView);
    m_buffer.clear();
    m_state = State::Browsing;
    if (!dropEmptyIndex())
        closeIndex(false);
    const std::string path = Path();
    m_closedPath = path;
    const bool cut = m_file.cutWhileRead();
    FileFailure why = FileFailure::Io;
    const bool written = m_file.close(m_today(), why);
    resetOpenState();
    if (!written)
        throw TableError("Не удалось записать заголовок таблицы: " + file_failure_text(why, path));
    if (cut)
        throw TableError(file_failure_text(FileFailure::Changed, path) +
                         " во время чтения: записи за его новым концом прочитаны пустыми, и выведенное по ним "
                         "неполно. Сама таблица не изменена.");
}

// ---------------------------------------------------------------- navigation

void ObservationTable::requireBrowsing(const char* operation) const {
    if (m_state == State::Closed)
        throw TableError("Таблица не открыта");
    if (m_state != State::Browsing)
        throw TableError(std::string("Запись ещё не сохранена: ") + operation +
                         " невозможно, пока её изменение не сохранено или не отменено");
}

void ObservationTable::First() {
    if (m_state == State::Appending || m_state == State::Editing)
        requireBrowsing("перейти к другой записи");
    const Notice notice(*this);
    changed(kCursor);
    m_pos = 0;
    m_eof = m_view.empty();
}

void ObservationTable::Next() {
    if (m_state == State::Appending || m_state == State::Editing)
        requireBrowsing("перейти к другой записи");
    const Notice notice(*this);
    changed(kCursor);
    if (m_pos + 1 < m_view.size())
        ++m_pos;
    else
        m_eof = true;
}

void ObservationTable::Last() {
    if (m_state == State::Appending || m_state == State::Editing)
        requireBrowsing("перейти к другой записи");
    const Notice notice(*this);
    changed(kCursor);
    m_pos = m_view.empty() ? 0 : m_view.size() - 1;
    m_eof = m_view.empty();
}

uint32_t ObservationTable::RecordId() const {
    if (m_state == State::Closed || m_pos >= m_view.size())
        return 0;
    return m_view[m_pos];
}

bool ObservationTable::GotoRecord(uint32_t recordId) {
    const auto it = std::find(m_view.begin(), m_view.end(), recordId);
    if (it == m_view.end())
        return false;
    if (m_state == State::Appending || m_state == State::Editing)
        requireBrowsing("перейти к другой записи");
    const Notice notice(*this);
    changed(kCursor);
    m_pos = static_cast<size_t>(it - m_view.begin());
    m_eof = false;
    return true;
}

bool ObservationTable::IsDeleted(uint32_t recordId) const {
    const char* r = m_file.record(recordId);
    return r != nullptr && DbfFile::isDeleted(r);
}

uint32_t ObservationTable::ViewRecordAt(int row) const {
    return row >= 0 && static_cast<size_t>(row) < m_view.size() ? m_view[static_cast<size_t>(row)] : 0;
}

int ObservationTable::ViewRow() const {
    return m_state == State::Closed || m_pos >= m_view.size() ? -1 : static_cast<int>(m_pos);
}

bool ObservationTable::GotoRow(int row) {
    if (row < 0 || static_cast<size_t>(row) >= m_view.size())
        return false;
    if (static_cast<size_t>(row) == m_pos && !m_eof)
        return true;
    return GotoRecord(m_view[static_cast<size_t>(row)]);
}

bool ObservationTable::IsNullAt(uint32_t recordId, Field field) const {
    const char* r = m_file.record(recordId);
    return r == nullptr || m_file.isNull(r, field);
}

double ObservationTable::NumberAt(uint32_t recordId, Field field) const {
    const char* r = m_file.record(recordId);
    return r == nullptr ? 0 : m_file.number(r, field);
}

std::string ObservationTable::TextAt(uint32_t recordId, Field field) const {
    const char* r = m_file.record(recordId);
    return r == nullptr ? std::string() : m_file.text(r, field);
}

// ---------------------------------------------------------------- fields

const char* ObservationTable::currentRecord() const {
    if (m_state == State::Appending || m_state == State::Editing)
        return m_buffer.data();
    return m_file.record(RecordId());
}

bool ObservationTable::IsNull(Field field) const {
    const char* r = currentRecord();
    return r == nullptr || m_file.isNull(r, field);
}

double ObservationTable::Number(Field field) const {
    const char* r = currentRecord();
    return r == nullptr ? 0 : m_file.number(r, field);
}

int ObservationTable::Integer(Field field) const {
    const double v = Number(field);
    if (!(v > -2147483648.0 && v < 2147483648.0))
        return 0;
    return static_cast<int>(std::lround(v));
}

std::string ObservationTable::Text(Field field) const {
    const char* r = currentRecord();
    return r == nullptr ? std::string() : m_file.text(r, field);
}

char* ObservationTable::editableRecord(Field field) {
    if (m_state != State::Appending && m_state != State::Editing)
        throw TableError(std::string("Запись не редактируется: поле ") + field_name(field) + " нельзя изменить");
    return m_buffer.data();
}

void ObservationTable::SetNumber(Field field, double value) { m_file.putNumber(editableRecord(field), field, value); }

void ObservationTable::SetInteger(Field field, int value) { m_file.putInteger(editableRecord(field), field, value); }

void ObservationTable::SetText(Field field, std::string_view utf8) {
    m_file.putText(editableRecord(field), field, utf8);
}

void ObservationTable::SetNull(Field field) { m_file.putNull(editableRecord(field), field); }

// ---------------------------------------------------------------- append, edit, post, delete

void ObservationTable::Append() {
    if (m_state == State::Closed)
        throw TableError("Таблица не открыта");
    requireWritable();
    if (m_state != State::Browsing)
        requireBrowsing("начать новую запись");
    m_buffer = m_file.blankRecord();
    m_state = State::Appending;
}

void ObservationTable::Edit() {
    if (m_state == State::Closed)
        throw TableError("Таблица не открыта");
    requireWritable();
    if (m_state == State::Editing)
        return;
    if (m_state != State::Browsing)
        requireBrowsing("изменить другую запись");
    const char* r = m_file.record(RecordId());
    if (r == nullptr)
        throw TableError("Нет текущей записи для изменения");
    m_buffer.assign(r, r + m_file.recordLength());
    m_state = State::Editing;
}

void ObservationTable::Cancel() {
    if (m_state == State::Appending || m_state == State::Editing) {
        m_buffer.clear();
        m_state = State::Browsing;
    }
}

void ObservationTable::Post() {
    const Notice notice(*this);
    if (m_state == State::Appending) {
        const uint32_t recordId = m_file.appendRecord(m_buffer, m_today());
        if (!updateTags(recordId, nullptr, m_file.record(recordId))) {
            m_file.unappend(m_today());
            throw TableError(kIndexDiskFullMessage);
        }
        m_buffer.clear();
        m_state = State::Browsing;
        if (passesFilter(m_file.record(recordId)))
            changed(kView);
        placeAfterChange(recordId);
        return;
    }
    if (m_state == State::Editing) {
        // The record being edited is the current one: no move is allowed while it is.
        const uint32_t recordId = RecordId();
        const char* stored = m_file.record(recordId);
        const std::vector<char> before(stored, stored + m_file.recordLength());
        m_file.rewriteRecord(recordId, m_buffer.data());
        if (!updateTags(recordId, before.data(), m_file.record(recordId)))
            throw TableError(kIndexDiskFullMessage);
        m_buffer.clear();
        m_state = State::Browsing;
        const size_t row = m_pos;
        placeAfterChange(recordId);
        if (m_pos == row && m_pos < m_view.size() && m_view[m_pos] == recordId)
            changed(kRecord, recordId);
        else
            changed(kView);
    }
}

void ObservationTable::Delete() {
    requireBrowsing("удалить запись");
    requireWritable();
    const Notice notice(*this);
    const uint32_t recordId = RecordId();
    if (recordId == 0)
        return;
    m_file.markDeleted(recordId);
    match(recordId);
    changed(kView);
    m_view.erase(m_view.begin() + static_cast<std::ptrdiff_t>(m_pos));
    if (m_pos >= m_view.size())
        m_pos = m_view.empty() ? 0 : m_view.size() - 1;
    m_eof = m_view.empty();
}

void ObservationTable::Renumber(const std::vector<uint32_t>& records) {
    requireBrowsing("перенумеровать записи");
    requireWritable();
    if (records.empty())
        return;
    const Notice notice(*this);
    const std::string_view all = m_file.records();
    RecordBytes bytes(all.begin(), all.end());
    const size_t length = static_cast<size_t>(m_file.recordLength());
    double n = 0;
    for (uint32_t id : records) {
        if (m_file.record(id) == nullptr)
            throw TableError("Нет записи " + std::to_string(id) + "; номера не изменены");
        m_file.putNumber(bytes.data() + (id - 1) * length, Field::N, ++n);
    }
    // A renumbered copy of the whole file replaces the table in one step, as the pack does: a
    // crash leaves either the old numbers or the new ones, never some of each.
    const std::string path = resolved_path(Path());
    if (link_count(path) > 1)
        throw TableError("Таблица «" + Path() +
                         "» имеет и другие имена (жёсткие ссылки): перенумерация заменила "
                         "бы только одно из них; номера не изменены");
    const std::string temp = temp_name_beside(path);
    DbfFile::Packed copy =
        m_file.writeCopy(temp, std::move(bytes), m_file.count(), m_today(), "Не удалось перенумеровать записи: ");
    if (!replace_with(temp, path)) {
        copy.file.close();
        remove_file(temp);
        throw TableError("Не удалось перенумеровать записи: " + file_failure_text(FileFailure::Io, Path()) +
                         "; номера не изменены");
    }
    m_file.adopt(std::move(copy));
    matchAll();
    changed(kView);
    if (m_index) {
        for (int i = 0; i < m_index->tagCount(); ++i)
            if (field_by_name(m_index->tag(i).field) == Field::N)
                m_index->rebuild(i, m_file.fieldValues(Field::N, m_file.records()));
        if (!m_index->flush())
            throw TableError(kIndexDiskFullMessage);
    }
    const std::vector<uint32_t> old = m_view;
    rebuildView(RecordId(), m_pos, old);
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
    if (Active())
        requireBrowsing("сменить фильтр");
    parseFilter(filter);
    m_filter = filter;
    if (Active()) {
        matchAll();
        Refresh();
    }
}

void ObservationTable::matchAll() {
    m_passes.resize(m_file.count());
    const std::string_view records = m_file.records();
    const size_t length = static_cast<size_t>(m_file.recordLength());
    for (uint32_t id = 1; id <= m_file.count(); ++id) {
        if (id + kFetchAhead <= m_file.count())
            __builtin_prefetch(records.data() + (id - 1 + kFetchAhead) * length);
        m_passes[id - 1] = passesFilter(records.data() + (id - 1) * length);
    }
}

void ObservationTable::match(uint32_t recordId) {
    if (m_passes.size() < recordId)
        m_passes.resize(recordId);
    m_passes[recordId - 1] = passesFilter(m_file.record(recordId));
}

bool ObservationTable::passesFilter(const char* record) const {
    if (DbfFile::isDeleted(record))
        return false;
    if (m_filterField < 0)
        return true;
    return m_file.number(record, static_cast<Field>(m_filterField)) == static_cast<double>(m_filterValue);
}

void ObservationTable::Refresh() {
    if (!Active())
        return;
    requireBrowsing("перечитать таблицу");
    const Notice notice(*this);
    changed(kView);
    std::vector<uint32_t> old;
    old.swap(m_view);
    m_view.reserve(old.size());
    rebuildView(old.empty() || m_pos >= old.size() ? 0 : old[m_pos], m_pos, old);
}

// Builds the view and keeps the current record current when it is still in the
// view, else the next one of the old view that is, else the previous one.
void ObservationTable::rebuildView(uint32_t keep, size_t oldPos, const std::vector<uint32_t>& oldView) {
    m_view.clear();
    if (m_passes.size() != m_file.count())
        matchAll();
    if (m_indexTag >= 0) {
        for (uint32_t id : m_index->order(m_indexTag))
            if (m_passes[id - 1])
                m_view.push_back(id);
    } else {
        for (uint32_t id = 1; id <= m_file.count(); ++id)
            if (m_passes[id - 1])
                m_view.push_back(id);
    }

    m_pos = 0;
    m_eof = m_view.empty();
    if (keep == 0 || m_view.empty())
        return;
    // Every live record that passes the filter is in the view, whatever its order: the record
    // to keep is found in the old view by that test, and then looked up once in the new one.
    const auto inView = [&](uint32_t id) { return id >= 1 && id <= m_passes.size() && m_passes[id - 1]; };
    uint32_t target = inView(keep) ? keep : 0;
    for (size_t i = oldPos + 1; target == 0 && i < oldView.size(); ++i)
        if (inView(oldView[i]))
            target = oldView[i];
    for (size_t i = std::min(oldPos, oldView.size()); target == 0 && i-- > 0;)
        if (inView(oldView[i]))
            target = oldView[i];
    if (target == 0)
        return;
    m_pos = static_cast<size_t>(std::find(m_view.begin(), m_view.end(), target) - m_view.begin());
}

// After a post the record is current, at its place in the view's order; one
// that the filter excludes leaves the view, and the record that follows it (or
// else the one before) becomes current.
void ObservationTable::placeAfterChange(uint32_t recordId) {
    // An edited record is the current one; a new record is in no view yet.
    const bool inView = m_pos < m_view.size() && m_view[m_pos] == recordId;
    if (inView)
        m_view.erase(m_view.begin() + static_cast<std::ptrdiff_t>(m_pos));
    match(recordId);
    if (m_passes[recordId - 1])
        insertIntoView(recordId);
    else if (m_pos >= m_view.size())
        m_pos = m_view.empty() ? 0 : m_view.size() - 1;
    m_eof = m_view.empty();
}

bool ObservationTable::viewBefore(uint32_t a, uint32_t b) const {
    if (m_indexTag < 0)
        return a < b;
    const Field f = field_by_name(m_index->tag(m_indexTag).field);
    return m_index->compare(m_indexTag, m_file.raw(m_file.record(a), f), a, m_file.raw(m_file.record(b), f), b) < 0;
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
        const std::string_view now = m_file.raw(newRecord, f);
        if (oldRecord != nullptr) {
            const std::string_view was = m_file.raw(oldRecord, f);
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
            m_index->remove(i, m_file.raw(newRecord, field_by_name(m_index->tag(i).field)), recordId);
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

void ObservationTable::AddTag(const std::string& tag, const std::string& fieldName, bool descending) {
    requireBrowsing("создать тег сортировки");
    const Notice notice(*this);
    const bool created = !m_index;
    const bool wasOrdered = m_indexTag >= 0;
    // A table opened read-only sorts through tags that live in memory and go with the close.
    const bool inMemory = m_file.readOnly();
    // A new index file is written under a temporary name and takes its place when complete.
    const std::string temp = created && !inMemory ? temp_name_beside(IndexPath(), false) : std::string();
    m_lastTagFailure.clear();
    try {
        const Field field = field_by_name(fieldName);
        if (created)
            m_index = inMemory ? ProductionIndex::createInMemory(m_file.tableName(), m_today())
                               : ProductionIndex::create(temp, m_file.tableName(), m_today());
        ProductionIndex::TagInfo info;
        info.name = tag;
        info.field = field_name(field);
        info.descending = descending;
        info.type = is_numeric(field) ? 'N' : 'C';
        info.fieldWidth = m_file.width(field);
        m_index->addTag(info, m_file.fieldValues(field, m_file.records()));
        if (!m_index->flush())
            throw TableError(kIndexDiskFullMessage);
        if (!temp.empty() && !m_index->sync())
            throw TableError(file_failure_text(FileFailure::Io, IndexPath()));
        if (!temp.empty() && !replace_with(temp, IndexPath(), false))
            throw TableError(file_failure_text(FileFailure::NotRegular, IndexPath()));
        if (!inMemory) {
            m_file.setIndexFlag(1);
            m_file.writeHeader(m_today());
        }
    } catch (const std::exception& e) {
        // A tag that cannot be created is removed without a word, with an index file created
        // for it; why is kept for a caller that says it.
        m_lastTagFailure = e.what();
        if (!temp.empty()) {
            if (m_index)
                m_index->close();
            m_index.reset();
            m_indexTag = -1;
            remove_file(temp);
        } else if (created || !m_index) {
            closeIndex(true);
        } else {
            dropTagAt(m_index->findTag(tag));
        }
    }
    refreshOrder(wasOrdered);
}

// Removes a tag; the last one takes the index file and header byte 28 with it.
void ObservationTable::dropTagAt(int t) {
    if (t < 0)
        return;
    m_index->dropTag(t);
    if (m_index->tagCount() > 0)
        m_index->flush(); // else the index goes when the operations in progress are over
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
    requireBrowsing("удалить тег сортировки");
    const Notice notice(*this);
    const bool wasOrdered = m_indexTag >= 0;
    dropTagAt(t);
    refreshOrder(wasOrdered);
}

void ObservationTable::RebuildTags() {
    if (!Active() || !m_index)
        return;
    requireBrowsing("перестроить теги сортировки");
    const Notice notice(*this);
    // Every change of a record reaches the tags at its post, so a tag built from the records
    // and not changed since is what a rebuild would give: a rebuild right after AddTag is free.
    bool rebuilt = false;
    for (int i = 0; i < m_index->tagCount(); ++i) {
        if (m_index->builtFromRecords(i))
            continue;
        m_index->rebuild(i, m_file.fieldValues(field_by_name(m_index->tag(i).field), m_file.records()));
        rebuilt = true;
    }
    if (rebuilt && !m_index->flush())
        throw TableError(kIndexDiskFullMessage);
    refreshOrder(m_indexTag >= 0);
}

void ObservationTable::SetIndexName(const std::string& tag) {
    if (Active())
        requireBrowsing("сменить порядок записей");
    m_indexName = tag;
    if (!Active())
        return;
    selectTag();
    Refresh();
}

// ---------------------------------------------------------------- pack

// What a failed pack leaves: records the user deleted are marked in the file (and shown no
// more), or nothing changed.
std::string ObservationTable::markedNote() const {
    for (uint32_t id = 1; id <= m_file.count(); ++id)
        if (const char* r = m_file.record(id); r && DbfFile::isDeleted(r))
            return "удалённые записи помечены в файле и не показываются, остальные записи не изменены";
    return "таблица не изменена";
}

void ObservationTable::Pack() {
    requireBrowsing("сжать таблицу");
    requireWritable();
    const Notice notice(*this);

    // The packed copy is written beside the file the table's name leads to (a symbolic link
    // keeps pointing at the packed table), under temporaries of the program's own naming.
    const std::string path = resolved_path(Path());
    if (link_count(path) > 1)
        throw TableError("Таблица «" + Path() +
                         "» имеет и другие имена (жёсткие ссылки): сжатие заменило бы "
                         "только одно из них. Файл не сжат; " +
                         markedNote());
    const std::string temp = temp_name_beside(path);
    const std::string tempIndex = temp_name_beside(IndexPath(), false);
    const std::string keepIndexName = m_indexName;
    const HeaderDate date = m_today();
    DbfFile::Packed packed;
    try {
        packed = m_file.writePacked(temp, date);
    } catch (const TableError& e) {
        throw TableError(std::string(e.what()) + "; " + markedNote());
    }
    changed(kView | kRenumbered);

    const auto fail = [&](FileFailure why) {
        packed.file.close();
        remove_file(temp);
        remove_file(tempIndex);
        throw TableError("Не удалось сжать таблицу: " + file_failure_text(why, Path()) + "; " + markedNote());
    };

    // Every tag again, in an index file that names the table itself.
    std::unique_ptr<ProductionIndex> packedIndex;
    if (m_index) {
        bool indexWritten = false;
        try {
            packedIndex = ProductionIndex::create(tempIndex, m_file.tableName(), date);
            for (int i = 0; i < m_index->tagCount(); ++i) {
                const ProductionIndex::TagInfo& info = m_index->tag(i);
                packedIndex->addTag(info, m_file.fieldValues(field_by_name(info.field),
                                                             {packed.records.data(), packed.records.size()}));
            }
            indexWritten = packedIndex->flush();
        } catch (const std::exception&) {
        }
        if (!indexWritten) {
            packedIndex.reset();
            fail(FileFailure::NoSpace);
        }
    }

    // The packed copy replaces the table in one step; its handle, already
    // locked, becomes the table's.
    if (!replace_with(temp, path)) {
        packedIndex.reset();
        fail(FileFailure::Io);
    }
    m_file.adopt(std::move(packed));
    matchAll();
    m_indexTag = -1;
    if (packedIndex) {
        m_index = std::move(packedIndex);
        if (!replace_with(tempIndex, IndexPath(), false)) {
            // The table is packed; without its index file it shows physical order.
            closeIndex(false);
            remove_file(tempIndex);
            m_file.setIndexFlag(0);
        }
    }
    const bool headerWritten = m_file.writeHeader(date);
    m_indexName = keepIndexName;
    selectTag();
    rebuildView(0, 0, {});
    m_pos = 0;
    m_eof = m_view.empty();
    // The table is packed; a header the disk refused is written again with the next change.
    if (!headerWritten)
        throw TableError(kDiskFullMessage);
}

} // namespace ulen3
