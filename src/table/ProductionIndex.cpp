#include "table/ProductionIndex.h"

#include "base/Bytes.h"
#include "table/Cp1251.h"
#include "table/DbfFile.h"
#include "table/FieldCodec.h"
#include "table/RussianCollation.h"
#include "table/TableError.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

namespace ulen3 {
namespace {

constexpr int kBlock = 1024;
// A node in memory has room for one entry more than a block holds, until it splits.
constexpr int kNodeBytes = kBlock + 128;
constexpr int kPagesPerBlock = 2;
constexpr int kHeaderBytes = 2048; // pages 0-3
constexpr int kTagEntries = 48;
constexpr int kTagEntryLength = 32;
constexpr int kTagTable = 544;
// Entries that fit between the tag table's start and the first block.
constexpr int kTagSlots = (kHeaderBytes - kTagTable) / kTagEntryLength;
constexpr int kNumericKeyLength = 12;
constexpr int kMaxCharKey = 100;

// Sorts by the key, keeping the order of equal keys: a byte at a time from the lowest, leaving
// out the bytes every key shares.
void radix_sort(std::vector<std::pair<uint64_t, uint32_t>>& items) {
    std::vector<std::pair<uint64_t, uint32_t>> spare(items.size());
    for (int shift = 0; shift < 64; shift += 8) {
        size_t counts[257] = {};
        for (const auto& item : items)
            ++counts[(item.first >> shift & 0xFF) + 1];
        if (counts[(items.empty() ? 0 : (items.front().first >> shift & 0xFF)) + 1] == items.size())
            continue;
        for (int b = 0; b < 256; ++b)
            counts[b + 1] += counts[b];
        for (const auto& item : items)
            spare[counts[item.first >> shift & 0xFF]++] = item;
        items.swap(spare);
    }
}

// The distinct texts of a field, each with its number: open addressing over a power of two of
// slots, with each text's hash kept beside it so that a text is compared only with its equals.
class TextSet {
public:
    explicit TextSet(size_t most) {
        size_t slots = 16;
        while (slots < 2 * most)
            slots *= 2;
        m_slots.assign(slots, 0);
        m_mask = slots - 1;
    }
    // The number of `text` among `distinct`, where a new one is added.
    uint32_t idOf(std::string_view text, std::vector<std::string_view>& distinct) {
        const uint64_t h = hash(text);
        for (size_t at = static_cast<size_t>(h) & m_mask;; at = (at + 1) & m_mask) {
            const uint32_t slot = m_slots[at];
            if (slot == 0) {
                distinct.push_back(text);
                m_hashes.push_back(h);
                m_slots[at] = static_cast<uint32_t>(distinct.size());
                return static_cast<uint32_t>(distinct.size() - 1);
            }
            if (m_hashes[slot - 1] == h && distinct[slot - 1] == text)
                return slot - 1;
        }
    }

private:
    // Eight bytes at a time, each mixed in by a multiplication; two lanes side by side, so that
    // the multiplications of a long text do not wait for one another.
    static uint64_t hash(std::string_view text) {
        constexpr uint64_t kMix = 0xFF51AFD7ED558CCDu;
        uint64_t a = 0x9E3779B97F4A7C15u ^ text.size(), b = 0xC2B2AE3D27D4EB4Fu;
        const char* p = text.data();
        const auto eight = [](const char* at) {
            uint64_t v;
            std::memcpy(&v, at, 8);
            return v;
        };
        size_t i = 0;
        for (; i + 16 <= text.size(); i += 16) {
            a = (a ^ eight(p + i)) * kMix;
            b = (b ^ eight(p + i + 8)) * kMix;
            a ^= a >> 32;
            b ^= b >> 32;
        }
        if (i + 8 <= text.size()) {
            a = (a ^ eight(p + i)) * kMix;
            a ^= a >> 32;
            i += 8;
        }
        for (; i < text.size(); ++i)
            b = (b ^ static_cast<unsigned char>(p[i])) * 0xC4CEB9FE1A85EC53u;
        uint64_t h = (a ^ std::rotl(b, 31)) * kMix;
        return h ^ (h >> 29);
    }

    std::vector<uint32_t> m_slots; // a text's number + 1, 0 for an empty slot
    std::vector<uint64_t> m_hashes;
    size_t m_mask = 0;
};

// The eight bytes of a key from `offset` as one number in their memcmp order; past its end zeros,
// which no weight of a key is.
uint64_t eight_bytes_at(std::string_view key, size_t offset) {
    uint64_t v = 0;
    for (size_t i = offset; i < offset + 8; ++i)
        v = v << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return v;
}

// Puts `items` in the memcmp order of their keys (which hold no zero byte) from `offset` on:
// eight bytes at a time by the radix sort, each run that shares them on by the next eight, and a
// short run by comparison. Equal keys keep the order given.
template <class KeyOf> void sort_by_key_bytes(uint32_t* items, size_t n, size_t offset, const KeyOf& keyOf) {
    if (n < 2)
        return;
    if (n <= 32) {
        std::stable_sort(items, items + n, [&](uint32_t a, uint32_t b) {
            const std::string_view ka = keyOf(a), kb = keyOf(b);
            return ka.substr(std::min(offset, ka.size())) < kb.substr(std::min(offset, kb.size()));
        });
        return;
    }
    std::vector<std::pair<uint64_t, uint32_t>> eights(n);
    for (size_t i = 0; i < n; ++i)
        eights[i] = {eight_bytes_at(keyOf(items[i]), offset), items[i]};
    radix_sort(eights);
    for (size_t a = 0; a < n;) {
        size_t b = a + 1;
        while (b < n && eights[b].first == eights[a].first)
            ++b;
        for (size_t i = a; i < b; ++i)
            items[i] = eights[i].second;
        // Keys that share eight bytes without a zero among them go on past them.
        if (b - a > 1 && (eights[a].first & 0xFF) != 0)
            sort_by_key_bytes(items + a, b - a, offset + 8, keyOf);
        a = b;
    }
}

// The dBase key of a decimal split into its parts.
void numeric_key_of(const DecimalParts& parts, char* key) {
    std::memset(key, 0, kNumericKeyLength);
    const bool negative = parts.negative;
    std::string_view whole = parts.whole;
    std::string_view fraction = parts.fraction;
    // Drop leading zeros of the whole part and trailing zeros of the fraction.
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.remove_suffix(1);
    // The significant digits, at most 20 of them.
    char digits[20];
    size_t count = 0;
    int exponent = static_cast<int>(whole.size());
    if (whole.empty()) {
        size_t zeros = 0;
        while (zeros < fraction.size() && fraction[zeros] == '0')
            ++zeros;
        exponent = -static_cast<int>(zeros);
        fraction.remove_prefix(zeros);
    }
    for (char c : whole)
        if (count < sizeof digits)
            digits[count++] = c;
    for (char c : fraction)
        if (count < sizeof digits)
            digits[count++] = c;
    if (count == 0) {
        key[0] = 0x34;
        key[1] = 0x01;
        return;
    }
    key[0] = static_cast<char>(0x34 + exponent);
    key[1] = static_cast<char>((negative ? 0x80 : 0) | (count << 2) | 0x01);
    for (size_t i = 0; i < count; ++i) {
        const int d = digits[i] - '0';
        key[2 + i / 2] = static_cast<char>(key[2 + i / 2] | (i % 2 == 0 ? d << 4 : d));
    }
}

} // namespace

// One 1024-byte block as it is in the file. Interior nodes also remember the
// record number of each separator, so that equal keys keep record order.
struct ProductionIndex::Node {
    uint8_t block[kNodeBytes]; // zeroed by allocate() unless its caller fills it whole
    std::vector<uint32_t> sepRec;
    bool leaf = true;
};

struct ProductionIndex::Tag {
    TagInfo info;
    int keyLength = 0;
    int itemLength = 0;
    int maxKeys = 0;
    uint32_t headerPage = 0;
    uint32_t rootPage = 0;
    uint32_t pages = 0;  // pages of the tag's blocks, its header block included
    bool changed = true; // the tag header needs writing
    bool built = false;  // filled from the records and not changed since
    // The record numbers in tag order while `sortedValid`. An index in memory serves a table
    // opened read-only, whose records never change: its tags keep only this, instead of blocks
    // that nobody reads.
    mutable std::vector<uint32_t> sorted;
    mutable bool sortedValid = false;
};

struct ProductionIndex::Split {
    uint32_t rightPage;
    std::string key; // the largest key of the left half
    uint32_t rec;
};

ProductionIndex::ProductionIndex() : m_collation(std::make_unique<RussianCollation>()) {}
ProductionIndex::~ProductionIndex() = default;

// ---------------------------------------------------------------- keys

std::string ProductionIndex::numericKey(std::string_view storedText) {
    std::string key(kNumericKeyLength, '\0');
    numericKeyInto(storedText, key.data());
    return key;
}

void ProductionIndex::numericKeyInto(std::string_view storedText, char* key) {
    // Text that does not read as a number counts as 0, like a blank field.
    DecimalParts parts;
    if (!split_decimal(storedText, parts))
        parts = {};
    numeric_key_of(parts, key);
}

std::string ProductionIndex::makeKey(const Tag& tag, std::string_view field) const {
    if (tag.info.type == 'N')
        return numericKey(field);
    std::string key(static_cast<size_t>(tag.keyLength), ' ');
    std::memcpy(key.data(), field.data(), std::min(field.size(), key.size()));
    return key;
}

int ProductionIndex::compareKeys(const Tag& tag, const uint8_t* a, const uint8_t* b) const {
    if (tag.info.type == 'C') {
        return m_collation->compare({reinterpret_cast<const char*>(a), static_cast<size_t>(tag.keyLength)},
                                    {reinterpret_cast<const char*>(b), static_cast<size_t>(tag.keyLength)});
    }
    // Numeric keys compare by value: sign, then exponent, then the digits.
    const auto sign = [](const uint8_t* k) { return (k[1] >> 2 & 0x1F) == 0 ? 0 : (k[1] & 0x80 ? -1 : 1); };
    const int sa = sign(a), sb = sign(b);
    if (sa != sb)
        return sa < sb ? -1 : 1;
    if (sa == 0)
        return 0;
    int magnitude = 0;
    if (a[0] != b[0])
        magnitude = a[0] < b[0] ? -1 : 1;
    else
        magnitude = std::memcmp(a + 2, b + 2, 10);
    magnitude = magnitude < 0 ? -1 : (magnitude > 0 ? 1 : 0);
    return sa * magnitude;
}

int ProductionIndex::compareEntries(const Tag& tag, const uint8_t* keyA, uint32_t recA, const uint8_t* keyB,
                                    uint32_t recB) const {
    int c = compareKeys(tag, keyA, keyB);
    if (c == 0)
        c = recA < recB ? -1 : (recA > recB ? 1 : 0);
    return tag.info.descending ? -c : c;
}

int ProductionIndex::compare(int i, std::string_view fieldA, uint32_t recordA, std::string_view fieldB,
                             uint32_t recordB) const {
    const Tag& t = *m_tags[static_cast<size_t>(i)];
    const std::string a = makeKey(t, fieldA), b = makeKey(t, fieldB);
    return compareEntries(t, reinterpret_cast<const uint8_t*>(a.data()), recordA,
                          reinterpret_cast<const uint8_t*>(b.data()), recordB);
}

// ---------------------------------------------------------------- file and header

std::unique_ptr<ProductionIndex> ProductionIndex::create(const std::string& path, const std::string& tableName,
                                                         HeaderDate date) {
    std::unique_ptr<ProductionIndex> index(new ProductionIndex());
    FileFailure failure = FileFailure::Io;
    // The index file is the table's own: a link to another file is never followed and cut.
    File::Options options;
    options.create = true;
    options.noFollow = true;
    if (!index->m_file.open(path, options, failure) ||
        (!index->m_file.truncate(0) && (failure = index->m_file.lastFailure(), true)))
        throw TableError("Не удалось создать индексный файл: " + file_failure_text(failure, path));
    index->startHeader(tableName, date);
    if (!index->flush())
        throw TableError("Не удалось записать индексный файл: " + file_failure_text(index->m_file.lastFailure(), path));
    return index;
}

std::unique_ptr<ProductionIndex> ProductionIndex::createInMemory(const std::string& tableName, HeaderDate date) {
    std::unique_ptr<ProductionIndex> index(new ProductionIndex());
    index->m_inMemory = true;
    index->startHeader(tableName, date);
    return index;
}

void ProductionIndex::startHeader(const std::string& tableName, HeaderDate date) {
    m_date = date;
    auto& h = m_header;
    h.assign(kHeaderBytes, 0);
    h[0] = 2;
    h[1] = date.year;
    h[2] = date.month;
    h[3] = date.day;
    std::string name = utf8_to_cp1251(tableName);
    name.resize(std::min<size_t>(name.size(), 15));
    std::memcpy(&h[4], name.data(), name.size());
    put_le16(&h[20], kPagesPerBlock);
    put_le16(&h[22], kBlock);
    h[24] = 1;
    h[25] = kTagEntries;
    h[26] = kTagEntryLength;
    h[31] = DbfFile::kLanguageDriver;
}

std::optional<std::vector<ProductionIndex::TagInfo>> ProductionIndex::readTags(const std::string& path) {
    File file;
    FileFailure failure;
    File::Options options;
    options.readOnly = true;
    options.noFollow = true;
    if (!file.open(path, options, failure))
        return std::nullopt;
    std::vector<uint8_t> h(kHeaderBytes);
    if (!file.readAt(0, h.data(), h.size()) || h[0] != 2 || get_le16(&h[22]) != kBlock || h[26] != kTagEntryLength)
        return std::nullopt;
    const int used = get_le16(&h[28]);
    if (used > kTagSlots)
        return std::nullopt;
    std::vector<TagInfo> tags;
    for (int i = 0; i < used; ++i) {
        const uint8_t* e = &h[kTagTable + kTagEntryLength * i];
        uint8_t th[kBlock];
        if (!file.readAt(static_cast<int64_t>(get_le32(e)) * 512, th, sizeof th))
            return std::nullopt;
        TagInfo info;
        info.name.assign(reinterpret_cast<const char*>(e + 4), strnlen(reinterpret_cast<const char*>(e + 4), 11));
        info.field.assign(reinterpret_cast<const char*>(th + 24), strnlen(reinterpret_cast<const char*>(th + 24), 220));
        info.descending = (th[8] & 0x08) != 0;
        info.type = static_cast<char>(th[9]);
        info.fieldWidth = get_le16(&th[12]);
        if (info.type != 'C' && info.type != 'N')
            return std::nullopt;
        tags.push_back(std::move(info));
    }
    return tags;
}

int ProductionIndex::findTag(std::string_view name) const {
    for (size_t i = 0; i < m_tags.size(); ++i) {
        const std::string& n = m_tags[i]->info.name;
        if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
            }))
            return static_cast<int>(i);
    }
    return -1;
}

bool ProductionIndex::builtFromRecords(int i) const { return m_tags[static_cast<size_t>(i)]->built; }

const ProductionIndex::TagInfo& ProductionIndex::tag(int i) const { return m_tags[static_cast<size_t>(i)]->info; }

ProductionIndex::Node& ProductionIndex::node(uint32_t page) const {
    const size_t at = page / kPagesPerBlock;
    if (at >= m_nodes.size() || !m_nodes[at])
        throw TableError("Индекс повреждён: блок " + std::to_string(page) + " не принадлежит ни одному тегу");
    return *m_nodes[at];
}

void ProductionIndex::sortFree() {
    if (!m_freeSorted)
        std::sort(m_free.begin(), m_free.end(), std::greater<>());
    m_freeSorted = true;
}

uint32_t ProductionIndex::allocate(bool zeroed) {
    uint32_t page;
    if (!m_free.empty()) {
        // The lowest free block first, so that the free ones gather at the end of the file,
        // which the next flush cuts off.
        sortFree();
        page = m_free.back();
        m_free.pop_back();
    } else {
        page = m_pageCount;
        m_pageCount += kPagesPerBlock;
    }
    std::unique_ptr<Node> n;
    if (m_spare.empty()) {
        n.reset(new Node);
    } else {
        n = std::move(m_spare.back());
        m_spare.pop_back();
        n->sepRec.clear();
        n->leaf = true;
    }
    if (zeroed)
        std::memset(n->block, 0, sizeof n->block);
    const size_t at = page / kPagesPerBlock;
    if (at >= m_nodes.size())
        m_nodes.resize(std::max<size_t>(at + 1, m_nodes.size() * 2));
    m_nodes[at] = std::move(n);
    m_dirty.push_back(page);
    m_headerDirty = true;
    return page;
}

void ProductionIndex::release(uint32_t page) {
    const size_t at = page / kPagesPerBlock;
    if (at < m_nodes.size() && m_nodes[at])
        m_spare.push_back(std::move(m_nodes[at]));
    m_free.push_back(page);
    m_freeSorted = false;
    m_headerDirty = true;
}

// Every leaf of a tag lies at the same depth, so the leaves are let go by their numbers in the
// nodes above them, without reading each one.
void ProductionIndex::freeTree(const Tag& tag, uint32_t page) {
    int height = 0;
    for (uint32_t p = page; !node(p).leaf; p = get_le32(node(p).block + 8))
        ++height;
    freeLevels(tag, page, height);
}

void ProductionIndex::freeLevels(const Tag& tag, uint32_t page, int height) {
    if (height > 0) {
        const Node& n = node(page);
        const uint32_t count = get_le32(n.block);
        for (uint32_t i = 0; i <= count; ++i)
            freeLevels(tag, get_le32(n.block + 8 + i * static_cast<uint32_t>(tag.itemLength)), height - 1);
    }
    release(page);
}

// The tag table: entries packed in creation order, with the binary tree of
// names threaded through them (entry 1 is the root).
void ProductionIndex::writeTagTable() {
    std::memset(&m_header[kTagTable], 0, kTagSlots * kTagEntryLength);
    put_le16(&m_header[28], static_cast<uint16_t>(m_tags.size()));
    for (size_t i = 0; i < m_tags.size(); ++i) {
        const Tag& t = *m_tags[i];
        uint8_t* e = &m_header[kTagTable + kTagEntryLength * i];
        put_le32(e, t.headerPage);
        std::memcpy(e + 4, t.info.name.data(), std::min<size_t>(t.info.name.size(), 10));
        e[15] = 0x10;
        e[20] = static_cast<uint8_t>(t.info.type);
        if (i == 0)
            continue;
        size_t at = 0;
        for (;;) {
            uint8_t* node = &m_header[kTagTable + kTagEntryLength * at];
            const bool left = std::strncmp(t.info.name.c_str(), reinterpret_cast<const char*>(node + 4), 11) < 0;
            uint8_t& link = node[left ? 16 : 17];
            if (link == 0) {
                link = static_cast<uint8_t>(i + 1);
                e[18] = static_cast<uint8_t>(at + 1);
                break;
            }
            at = link - 1u;
        }
    }
    m_headerDirty = true;
}

uint32_t ProductionIndex::edgeLeaf(const Tag& tag, bool rightmost) const {
    uint32_t page = tag.rootPage;
    for (;;) {
        const Node* n = &node(page);
        if (n->leaf)
            return page;
        const uint32_t child = rightmost ? get_le32(n->block) : 0;
        page = get_le32(n->block + 8 + child * static_cast<uint32_t>(tag.itemLength));
    }
}

void ProductionIndex::fillTagHeader(Tag& tag) {
    Node& h = node(tag.headerPage);
    std::memset(h.block, 0, kBlock);
    put_le32(h.block, tag.rootPage);
    put_le32(h.block + 4, tag.pages);
    h.block[8] = static_cast<uint8_t>(0x10 | (tag.info.descending ? 0x08 : 0));
    h.block[9] = static_cast<uint8_t>(tag.info.type);
    put_le16(h.block + 12, static_cast<uint16_t>(tag.keyLength));
    put_le16(h.block + 14, static_cast<uint16_t>(tag.maxKeys));
    put_le16(h.block + 18, static_cast<uint16_t>(tag.itemLength));
    std::memcpy(h.block + 24, tag.info.field.data(), std::min<size_t>(tag.info.field.size(), 219));
    put_le32(h.block + 248, edgeLeaf(tag, false));
    put_le32(h.block + 252, edgeLeaf(tag, true));
    m_dirty.push_back(tag.headerPage);
    tag.changed = false;
}

bool ProductionIndex::flush() {
    for (auto& t : m_tags)
        if (t->changed)
            fillTagHeader(*t);
    // Free blocks at the end of the file go with it; the others form a chain through their
    // offset 4.
    std::vector<uint8_t> chain;
    sortFree();
    if (m_headerDirty) {
        size_t last = 0;
        while (last < m_free.size() && m_free[last] == m_pageCount - kPagesPerBlock * (last + 1))
            ++last;
        m_pageCount -= static_cast<uint32_t>(kPagesPerBlock * last);
        m_free.erase(m_free.begin(), m_free.begin() + static_cast<std::ptrdiff_t>(last));
        chain.assign(m_free.size() * kBlock, 0);
        for (size_t i = 0; i < m_free.size(); ++i) {
            put_le32(&chain[i * kBlock + 4], i + 1 < m_free.size() ? m_free[i + 1] : 0);
            m_dirty.push_back(m_free[i]);
        }
        put_le32(&m_header[32], m_pageCount);
        put_le32(&m_header[36], m_free.empty() ? 0 : m_free.front());
        m_header[44] = m_date.year;
        m_header[45] = m_date.month;
        m_header[46] = m_date.day;
    }
    std::sort(m_dirty.begin(), m_dirty.end());
    m_dirty.erase(std::unique(m_dirty.begin(), m_dirty.end()), m_dirty.end());
    // Blocks past the end of the file were free and are gone.
    m_dirty.erase(std::lower_bound(m_dirty.begin(), m_dirty.end(), m_pageCount), m_dirty.end());
    // A block's bytes: a free one's link in the chain, else the block in use.
    static const uint8_t kZeroBlock[kBlock] = {};
    const auto bytesOf = [&](uint32_t page) -> const void* {
        const auto f = std::lower_bound(m_free.begin(), m_free.end(), page, std::greater<>());
        if (f != m_free.end() && *f == page && !chain.empty())
            return &chain[static_cast<size_t>(f - m_free.begin()) * kBlock];
        const size_t at = page / kPagesPerBlock;
        return at < m_nodes.size() && m_nodes[at] ? m_nodes[at]->block : kZeroBlock;
    };
    // Contiguous blocks go out in one write, each from where it lies.
    std::vector<const void*> run;
    bool ok = true;
    if (m_inMemory)
        m_dirty.clear();
    for (size_t i = 0; i < m_dirty.size() && ok;) {
        size_t j = i;
        run.clear();
        while (j < m_dirty.size() && m_dirty[j] == m_dirty[i] + (j - i) * kPagesPerBlock)
            run.push_back(bytesOf(m_dirty[j++]));
        ok = m_file.writeBlocksAt(static_cast<int64_t>(m_dirty[i]) * 512, run, kBlock);
        i = j;
    }
    if (ok && m_headerDirty && !m_inMemory)
        ok = m_file.writeAt(0, m_header.data(), m_header.size()) &&
             m_file.truncate(static_cast<int64_t>(m_pageCount) * 512);
    m_dirty.clear();
    if (ok)
        m_headerDirty = false;
    return ok;
}

// ---------------------------------------------------------------- tags

void ProductionIndex::addTag(const TagInfo& info, const FieldValues& values) {
    const int existing = findTag(info.name);
    if (existing >= 0)
        dropTag(existing);
    if (m_tags.size() >= kTagSlots)
        throw TableError("В индексном файле нет места для нового тега");
    auto tag = std::make_unique<Tag>();
    tag->info = info;
    for (char& c : tag->info.name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    tag->keyLength = info.type == 'N' ? kNumericKeyLength : info.fieldWidth;
    if (tag->info.name.empty() || tag->info.name.size() > 10 || tag->keyLength <= 0 || tag->keyLength > kMaxCharKey)
        throw TableError("Тег «" + info.name + "» нельзя создать");
    tag->itemLength = (tag->keyLength + 4 + 3) / 4 * 4;
    tag->maxKeys = (kBlock - 12) / tag->itemLength;
    tag->headerPage = allocate();
    tag->pages = kPagesPerBlock;
    build(*tag, values);
    m_tags.push_back(std::move(tag));
    writeTagTable();
}

void ProductionIndex::dropTag(int i) {
    Tag& t = *m_tags[static_cast<size_t>(i)];
    freeTree(t, t.rootPage);
    release(t.headerPage);
    m_tags.erase(m_tags.begin() + i);
    writeTagTable();
}

void ProductionIndex::rebuild(int i, const FieldValues& values) {
    Tag& t = *m_tags[static_cast<size_t>(i)];
    freeTree(t, t.rootPage);
    t.pages = kPagesPerBlock;
    build(t, values);
}

// The records in the order of a text tag's keys (record indexes from 0), equal texts in record
// order: the distinct texts are ranked once by collation, and the records then sorted by rank.
std::vector<uint32_t> ProductionIndex::textOrder(const Tag& tag, const FieldValues& values) const {
    const uint32_t count = static_cast<uint32_t>(values.size());
    const size_t keyLength = static_cast<size_t>(tag.keyLength);
    std::vector<uint32_t> order(count);
    // Rank the distinct texts once by collation; records then sort by rank.
    std::vector<std::string_view> distinct;
    std::vector<uint32_t> id(count);
    TextSet texts(count);
    for (uint32_t r = 0; r < count; ++r) {
        // A text of up to 100 bytes spans two or three cache lines: all of them fetched.
        if (r + kFetchAhead < count) {
            const std::string_view ahead = values[r + kFetchAhead];
            for (size_t at = 0; at < ahead.size(); at += 64)
                __builtin_prefetch(ahead.data() + at);
            if (!ahead.empty())
                __builtin_prefetch(ahead.data() + ahead.size() - 1);
        }
        id[r] = texts.idOf(values[r].substr(0, keyLength), distinct);
    }
    // The distinct texts by their primary weights, laid end to end in one buffer; runs that
    // tie there are put in order by their whole keys.
    std::string arena;
    arena.reserve(distinct.size() * static_cast<size_t>(tag.keyLength) * 2);
    std::vector<std::size_t> start(distinct.size() + 1);
    for (size_t d = 0; d < distinct.size(); ++d) {
        start[d] = arena.size();
        m_collation->appendPrimaryKey(distinct[d], arena);
    }
    start[distinct.size()] = arena.size();
    const auto primary = [&](uint32_t d) { return std::string_view(arena).substr(start[d], start[d + 1] - start[d]); };
    std::vector<uint32_t> byKey(distinct.size());
    std::iota(byKey.begin(), byKey.end(), 0u);
    sort_by_key_bytes(byKey.data(), byKey.size(), 0, primary);
    std::vector<uint32_t> rank(distinct.size());
    std::vector<std::string> whole;
    uint32_t r = 0;
    for (size_t a = 0; a < byKey.size();) {
        size_t b = a + 1;
        while (b < byKey.size() && primary(byKey[b]) == primary(byKey[a]))
            ++b;
        if (b - a > 1) {
            whole.assign(b - a, {});
            std::vector<uint32_t> run(byKey.begin() + static_cast<std::ptrdiff_t>(a),
                                      byKey.begin() + static_cast<std::ptrdiff_t>(b));
            for (size_t k = 0; k < run.size(); ++k)
                whole[k] = m_collation->sortKey(distinct[run[k]]);
            std::vector<uint32_t> at(run.size());
            std::iota(at.begin(), at.end(), 0u);
            std::sort(at.begin(), at.end(), [&](uint32_t x, uint32_t y) { return whole[x] < whole[y]; });
            for (size_t k = 0; k < at.size(); ++k) {
                if (k > 0 && whole[at[k]] != whole[at[k - 1]])
                    ++r;
                rank[run[at[k]]] = r;
            }
        } else {
            rank[byKey[a]] = r;
        }
        ++r;
        a = b;
    }
    // The records by rank, equal texts in record order: one counting pass over the ranks.
    std::vector<uint32_t> first(r + 1, 0);
    for (uint32_t k = 0; k < count; ++k)
        ++first[rank[id[k]] + 1];
    for (uint32_t k = 1; k <= r; ++k)
        first[k] += first[k - 1];
    for (uint32_t k = 0; k < count; ++k)
        order[first[rank[id[k]]]++] = k;
    return order;
}

// The records in the order of a numeric tag's values (record indexes from 0), equal values in
// record order; for a tag that is written, each record's key into `numericKeys`.
std::vector<uint32_t> ProductionIndex::numberOrder(const Tag& tag, const FieldValues& values,
                                                   std::vector<char>& numericKeys) const {
    const uint32_t count = static_cast<uint32_t>(values.size());
    std::vector<uint32_t> order(count);
    // Where numbers are read the general way, each record's key is also found through `keys`.
    std::vector<std::string_view> keys;
    // Sort by the value read as a double, as one unsigned integer whose order is the
    // value's (ties keep record order); runs of equal doubles whose exact keys differ
    // (more digits than a double holds) are then put in key order.
    if (!m_inMemory)
        numericKeys.resize(static_cast<size_t>(count) * kNumericKeyLength);
    std::vector<std::pair<uint64_t, uint32_t>> byValue(count);
    // The exact keys go into the blocks; a tag in memory has none and makes them only for
    // runs of equal doubles.
    const auto makeKey = [&](uint32_t r) {
        char* key = numericKeys.data() + static_cast<size_t>(r) * kNumericKeyLength;
        numericKeyInto(values[r], key);
        keys[r] = std::string_view(key, kNumericKeyLength);
    };
    // Values as the table writes them are read as exact integers of billionths, equal only
    // when the values and so the keys are equal; one value in another form sends every
    // record the general way. The lowest taken off leaves the radix sort fewer bytes.
    bool fixed = true;
    uint64_t lowest = ~0ull;
    for (uint32_t r = 0; r < count && fixed; ++r) {
        if (r + kFetchAhead < count)
            __builtin_prefetch(values[r + kFetchAhead].data());
        DecimalParts parts;
        int64_t billionths = 0;
        fixed = read_fixed_point(values[r], parts, billionths);
        if (fixed && !m_inMemory)
            numeric_key_of(parts, numericKeys.data() + static_cast<size_t>(r) * kNumericKeyLength);
        const uint64_t k = static_cast<uint64_t>(billionths) ^ 0x8000000000000000ull;
        lowest = std::min(lowest, k);
        byValue[r] = {k, r};
    }
    if (fixed)
        for (auto& item : byValue)
            item.first -= lowest;
    // When every value is short, equal doubles are equal values and so equal keys.
    bool allShort = true;
    if (!fixed) {
        keys.resize(count);
        numericKeys.resize(static_cast<size_t>(count) * kNumericKeyLength);
    }
    for (uint32_t r = 0; r < count && !fixed; ++r) {
        if (r + kFetchAhead < count)
            __builtin_prefetch(values[r + kFetchAhead].data());
        // The text read once for its key and its value.
        DecimalParts parts;
        const bool read = split_decimal(values[r], parts);
        if (!read)
            parts = {};
        if (!m_inMemory) {
            char* key = numericKeys.data() + static_cast<size_t>(r) * kNumericKeyLength;
            numeric_key_of(parts, key);
            keys[r] = std::string_view(key, kNumericKeyLength);
        }
        bool short_;
        const double v = decimal_value(parts, short_);
        allShort = allShort && read && short_;
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        if (v == 0)
            bits = 0; // -0 and 0 are one value
        byValue[r] = {bits & 0x8000000000000000ull ? ~bits : bits | 0x8000000000000000ull, r};
    }
    radix_sort(byValue);
    for (size_t a = 0; a < count && !fixed && !allShort;) {
        size_t b = a + 1;
        bool mixed = false;
        if (m_inMemory && b < count && byValue[b].first == byValue[a].first)
            makeKey(byValue[a].second);
        while (b < count && byValue[b].first == byValue[a].first) {
            if (m_inMemory)
                makeKey(byValue[b].second);
            mixed = mixed || keys[byValue[b].second] != keys[byValue[a].second];
            ++b;
        }
        if (mixed)
            std::sort(byValue.begin() + static_cast<std::ptrdiff_t>(a),
                      byValue.begin() + static_cast<std::ptrdiff_t>(b), [&](const auto& x, const auto& y) {
                          const int c = compareKeys(tag, reinterpret_cast<const uint8_t*>(keys[x.second].data()),
                                                    reinterpret_cast<const uint8_t*>(keys[y.second].data()));
                          return c != 0 ? c < 0 : x.second < y.second;
                      });
        a = b;
    }
    for (uint32_t r = 0; r < count; ++r)
        order[r] = byValue[r].second;
    return order;
}

// Lays the leaves of a tag out left to right in `order` and builds each level of separators
// above them.
void ProductionIndex::layOut(Tag& tag, const FieldValues& values, const std::vector<uint32_t>& order,
                             const std::vector<char>& numericKeys) {
    const uint32_t count = static_cast<uint32_t>(order.size());
    const size_t keyLength = static_cast<size_t>(tag.keyLength);
    const uint32_t item = static_cast<uint32_t>(tag.itemLength);
    const uint32_t per = static_cast<uint32_t>(tag.maxKeys);
    // Where each record's key lies: numeric keys one after another, text keys in the records,
    // which a table keeps at one stride. A key found so needs no look-up of its place, which in
    // the tag's order is anywhere.
    const char* base = nullptr;
    size_t stride = 0;
    if (tag.info.type == 'N') {
        base = numericKeys.data();
        stride = kNumericKeyLength;
    } else if (count > 0) {
        const auto at = [&](uint32_t r) { return reinterpret_cast<uintptr_t>(values[r].data()); };
        stride = count > 1 ? at(1) - at(0) : 0;
        bool even = count == 1 || at(1) > at(0);
        for (uint32_t r = 0; r < count && even; ++r)
            even = values[r].size() >= keyLength && at(r) == at(0) + r * stride;
        base = even ? values[0].data() : nullptr;
    }
    // Keys of the full length that fill their entries leave no byte of a leaf unwritten but the
    // count's neighbour and the rest after the entries: such a leaf is not cleared first.
    const bool filledWhole = base != nullptr && item == static_cast<uint32_t>(tag.keyLength) + 4;
    const auto keyOf = [&](uint32_t r) {
        return base ? std::string_view(base + r * stride, keyLength) : values[r].substr(0, keyLength);
    };
    struct Child {
        uint32_t page;
        uint32_t lastRec; // 0-based record index of the subtree's last entry
    };
    std::vector<Child> level;
    for (uint32_t start = 0; start < count || level.empty(); start += per) {
        const uint32_t page = allocate(!filledWhole);
        tag.pages += kPagesPerBlock;
        Node& n = node(page);
        const uint32_t k = std::min(per, count - start);
        put_le32(n.block, k);
        if (filledWhole) {
            put_le32(n.block + 4, 0);
            std::memset(n.block + 8 + k * item, 0, kNodeBytes - 8 - k * item);
        }
        for (uint32_t e = 0; e < k; ++e) {
            // In the tag's order the next keys lie anywhere: each is fetched ahead, and where its
            // place must be looked up, that place further ahead still.
            if (!base && start + e + 2 * kFetchAhead < count)
                __builtin_prefetch(&values[order[start + e + 2 * kFetchAhead]]);
            if (start + e + kFetchAhead < count)
                __builtin_prefetch(keyOf(order[start + e + kFetchAhead]).data());
            const uint32_t r = order[start + e];
            put_le32(n.block + 8 + e * item, r + 1);
            const std::string_view key = keyOf(r);
            std::memcpy(n.block + 12 + e * item, key.data(), key.size());
        }
        level.push_back({page, k ? order[start + k - 1] : 0});
        if (count == 0)
            break;
    }
    while (level.size() > 1) {
        std::vector<Child> up;
        for (size_t start = 0; start < level.size(); start += per + 1) {
            const size_t k = std::min<size_t>(per + 1, level.size() - start); // children
            const uint32_t page = allocate();
            tag.pages += kPagesPerBlock;
            Node& n = node(page);
            n.leaf = false;
            put_le32(n.block, static_cast<uint32_t>(k - 1));
            for (size_t c = 0; c < k; ++c) {
                put_le32(n.block + 8 + c * item, level[start + c].page);
                if (c + 1 < k) {
                    const std::string_view key = keyOf(level[start + c].lastRec);
                    std::memcpy(n.block + 12 + c * item, key.data(), key.size());
                    n.sepRec.push_back(level[start + c].lastRec + 1);
                }
            }
            up.push_back({page, level[start + k - 1].lastRec});
        }
        level = std::move(up);
    }
    tag.rootPage = level.front().page;
}

// Fills a tag from all records: sort, then lay the tree out.
void ProductionIndex::build(Tag& tag, const FieldValues& values) {
    std::vector<char> numericKeys;
    std::vector<uint32_t> order = tag.info.type == 'C' ? textOrder(tag, values) : numberOrder(tag, values, numericKeys);
    if (tag.info.descending)
        std::reverse(order.begin(), order.end());
    if (m_inMemory) {
        // One empty leaf for a root, so that the tag is a valid empty tree for everything else.
        tag.rootPage = allocate();
        tag.pages += kPagesPerBlock;
    } else {
        layOut(tag, values, order, numericKeys);
        m_headerDirty = true;
    }
    // The tag keeps the order as record numbers, for the views that read it.
    for (uint32_t& r : order)
        ++r;
    tag.sorted = std::move(order);
    tag.sortedValid = true;
    tag.built = true;
    tag.changed = true;
}

// ---------------------------------------------------------------- maintenance

// The first entry (leaf) or separator (interior node) that does not come
// before the entry (key, rec) in tag order.
uint32_t ProductionIndex::lowerBound(const Tag& tag, const Node& n, const uint8_t* key, uint32_t rec) const {
    const uint32_t item = static_cast<uint32_t>(tag.itemLength);
    uint32_t lo = 0, hi = get_le32(n.block);
    while (lo < hi) {
        const uint32_t mid = (lo + hi) / 2;
        const uint32_t midRec = n.leaf ? get_le32(n.block + 8 + mid * item) : n.sepRec[mid];
        if (compareEntries(tag, n.block + 12 + mid * item, midRec, key, rec) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::optional<ProductionIndex::Split> ProductionIndex::insertInto(Tag& tag, uint32_t page, const std::string& key,
                                                                  uint32_t rec) {
    Node& n = node(page);
    const uint32_t item = static_cast<uint32_t>(tag.itemLength);
    const auto* k = reinterpret_cast<const uint8_t*>(key.data());
    uint32_t count = get_le32(n.block);
    // Position: the first entry that does not come before the new one.
    const uint32_t lo = lowerBound(tag, n, k, rec);
    if (n.leaf) {
        uint8_t* at = n.block + 8 + lo * item;
        std::memmove(at + item, at, (count - lo) * item + 4);
        std::memset(at, 0, item);
        put_le32(at, rec);
        std::memcpy(at + 4, key.data(), key.size());
        ++count;
        put_le32(n.block, count);
    } else {
        const uint32_t child = get_le32(n.block + 8 + lo * item);
        auto split = insertInto(tag, child, key, rec);
        if (!split)
            return std::nullopt;
        // The left half keeps the child's place with its own last key as separator;
        // the right half follows it.
        uint8_t* at = n.block + 8 + lo * item;
        std::memmove(at + item, at, (count - lo) * item + 4);
        std::memset(at + 4, 0, item - 4);
        std::memcpy(at + 4, split->key.data(), split->key.size());
        put_le32(at + item, split->rightPage);
        n.sepRec.insert(n.sepRec.begin() + lo, split->rec);
        ++count;
        put_le32(n.block, count);
    }
    m_dirty.push_back(page);
    tag.changed = true;
    if (count <= static_cast<uint32_t>(tag.maxKeys))
        return std::nullopt;

    // Too full: move the upper half into a new block.
    const uint32_t rightPage = allocate();
    tag.pages += kPagesPerBlock;
    Node& left = node(page);
    Node& right = node(rightPage);
    right.leaf = left.leaf;
    Split split;
    split.rightPage = rightPage;
    if (left.leaf) {
        const uint32_t keep = count / 2;
        std::memcpy(right.block + 8, left.block + 8 + keep * item, (count - keep) * item);
        put_le32(right.block, count - keep);
        std::memset(left.block + 8 + keep * item, 0, kNodeBytes - 8 - keep * item);
        put_le32(left.block, keep);
        const uint8_t* last = left.block + 8 + (keep - 1) * item;
        split.key.assign(reinterpret_cast<const char*>(last + 4), static_cast<size_t>(tag.keyLength));
        split.rec = get_le32(last);
    } else {
        const uint32_t keep = count / 2; // keys kept on the left; key `keep` moves up
        const uint8_t* up = left.block + 8 + keep * item;
        split.key.assign(reinterpret_cast<const char*>(up + 4), static_cast<size_t>(tag.keyLength));
        split.rec = left.sepRec[keep];
        const uint32_t moved = count - keep - 1;
        std::memcpy(right.block + 8, left.block + 8 + (keep + 1) * item, moved * item + 4);
        put_le32(right.block, moved);
        right.sepRec.assign(left.sepRec.begin() + keep + 1, left.sepRec.end());
        left.sepRec.resize(keep);
        // The left keeps child `keep` as its last pointer, without a key.
        uint8_t* tail = left.block + 8 + keep * item;
        std::memset(tail + 4, 0, kNodeBytes - 8 - keep * item - 4);
        put_le32(left.block, keep);
    }
    return split;
}

void ProductionIndex::insert(int i, std::string_view field, uint32_t record) {
    Tag& t = *m_tags[static_cast<size_t>(i)];
    t.built = false;
    t.sortedValid = false;
    const std::string key = makeKey(t, field);
    auto split = insertInto(t, t.rootPage, key, record);
    if (split) {
        // The root split: a new root above the two halves.
        const uint32_t page = allocate();
        t.pages += kPagesPerBlock;
        Node& root = node(page);
        root.leaf = false;
        put_le32(root.block, 1);
        put_le32(root.block + 8, t.rootPage);
        std::memcpy(root.block + 12, split->key.data(), split->key.size());
        put_le32(root.block + 8 + t.itemLength, split->rightPage);
        root.sepRec.push_back(split->rec);
        t.rootPage = page;
    }
}

bool ProductionIndex::removeFrom(Tag& tag, uint32_t page, const std::string& key, uint32_t rec) {
    Node& n = node(page);
    const uint32_t item = static_cast<uint32_t>(tag.itemLength);
    const auto* k = reinterpret_cast<const uint8_t*>(key.data());
    const uint32_t count = get_le32(n.block);
    const uint32_t lo = lowerBound(tag, n, k, rec);
    if (!n.leaf)
        return removeFrom(tag, get_le32(n.block + 8 + lo * item), key, rec);
    if (lo >= count || get_le32(n.block + 8 + lo * item) != rec)
        return false;
    // Separators above stay upper bounds of their subtrees, so they are left as they are.
    uint8_t* at = n.block + 8 + lo * item;
    std::memmove(at, at + item, (count - lo - 1) * item + 4);
    std::memset(n.block + 8 + (count - 1) * item + 4, 0, item);
    put_le32(n.block, count - 1);
    m_dirty.push_back(page);
    tag.changed = true;
    return true;
}

void ProductionIndex::remove(int i, std::string_view field, uint32_t record) {
    Tag& t = *m_tags[static_cast<size_t>(i)];
    t.built = false;
    t.sortedValid = false;
    removeFrom(t, t.rootPage, makeKey(t, field), record);
}

void ProductionIndex::walk(const Tag& tag, uint32_t page, std::vector<uint32_t>& out) const {
    const Node& n = node(page);
    const uint32_t item = static_cast<uint32_t>(tag.itemLength);
    const uint32_t count = get_le32(n.block);
    if (n.leaf) {
        for (uint32_t e = 0; e < count; ++e)
            out.push_back(get_le32(n.block + 8 + e * item));
        return;
    }
    for (uint32_t c = 0; c <= count; ++c)
        walk(tag, get_le32(n.block + 8 + c * item), out);
}

const std::vector<uint32_t>& ProductionIndex::order(int i) const {
    const Tag& t = *m_tags[static_cast<size_t>(i)];
    if (!t.sortedValid) {
        t.sorted.clear();
        walk(t, t.rootPage, t.sorted);
        t.sortedValid = true;
    }
    return t.sorted;
}

} // namespace ulen3
