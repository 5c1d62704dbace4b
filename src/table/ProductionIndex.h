#pragma once

#include "base/File.h"
#include "table/ObservationFields.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

class RussianCollation;

// The production index of a table: a dBase IV multiple index file (.mdx) with
// up to 48 tags, each a B-tree of 1024-byte blocks over one field. The whole
// tree is kept in memory block for block; every change writes only the blocks
// it touched. Records with equal keys keep record-number order (a descending
// tag is the exact reverse of the ascending one).
class ProductionIndex {
public:
    struct TagInfo {
        std::string name;  // upper case, at most 10 characters
        std::string field; // key expression: the field name in upper case
        bool descending = false;
        char type = 'N'; // 'N' or 'C'
        int fieldWidth = 0;
    };
    // The stored bytes of the key field of every record, record 1 first.
    using FieldValues = std::vector<std::string_view>;

    ~ProductionIndex();

    // Creates (or cuts) the file with an empty tag table; throws TableError.
    static std::unique_ptr<ProductionIndex> create(const std::string& path, const std::string& tableName,
                                                   HeaderDate date);
    // An index that lives only in memory, for the sorts of a table opened read-only: its
    // flush writes nothing.
    static std::unique_ptr<ProductionIndex> createInMemory(const std::string& tableName, HeaderDate date);
    // The tag definitions of an existing index file; nothing when it is not one.
    static std::optional<std::vector<TagInfo>> readTags(const std::string& path);

    int findTag(std::string_view name) const;
    const TagInfo& tag(int i) const;
    int tagCount() const { return static_cast<int>(m_tags.size()); }

    // Creates the tag (replacing one of the same name) from all records. Throws on failure.
    void addTag(const TagInfo& info, const FieldValues& values);
    void dropTag(int i);
    void rebuild(int i, const FieldValues& values);
    // True while the tag is exactly as a build from the records made it: nothing was inserted
    // or removed since, so a rebuild from unchanged records would give the same tree.
    bool builtFromRecords(int i) const;
    void insert(int i, std::string_view field, uint32_t record);
    void remove(int i, std::string_view field, uint32_t record);
    // Record numbers in tag order: the order a build made, or else read from the tree once
    // and kept until the tag changes.
    const std::vector<uint32_t>& order(int i) const;
    // Compares two records in tag order: <0 when a comes first.
    int compare(int i, std::string_view fieldA, uint32_t recordA, std::string_view fieldB, uint32_t recordB) const;

    // Writes every changed block and the header; false when the disk refused.
    bool flush();
    // The written index on the disk, before it is renamed into place; an index in memory has
    // nothing to sync.
    bool sync() { return !m_file.isOpen() || m_file.sync(); }
    void close() { m_file.close(); }

    // The 12-byte dBase IV numeric key of a field's stored decimal text.
    static std::string numericKey(std::string_view storedText);
    static void numericKeyInto(std::string_view storedText, char* key);

private:
    struct Node;
    struct Tag;
    struct Split;

    ProductionIndex();
    std::string makeKey(const Tag& tag, std::string_view field) const;
    int compareKeys(const Tag& tag, const uint8_t* a, const uint8_t* b) const;
    int compareEntries(const Tag& tag, const uint8_t* keyA, uint32_t recA, const uint8_t* keyB, uint32_t recB) const;
    uint32_t lowerBound(const Tag& tag, const Node& node, const uint8_t* key, uint32_t rec) const;
    // A block for a tag: a free one, the lowest first, or one more at the end of the file.
    uint32_t allocate(bool zeroed = true);
    void release(uint32_t page);
    Node& node(uint32_t page) const;
    void sortFree();
    void freeTree(const Tag& tag, uint32_t page);
    void freeLevels(const Tag& tag, uint32_t page, int height);
    void build(Tag& tag, const FieldValues& values);
    std::vector<uint32_t> textOrder(const Tag& tag, const FieldValues& values) const;
    std::vector<uint32_t> numberOrder(const Tag& tag, const FieldValues& values, std::vector<char>& numericKeys) const;
    void layOut(Tag& tag, const FieldValues& values, const std::vector<uint32_t>& order,
                const std::vector<char>& numericKeys);
    std::optional<Split> insertInto(Tag& tag, uint32_t page, const std::string& key, uint32_t rec);
    bool removeFrom(Tag& tag, uint32_t page, const std::string& key, uint32_t rec);
    void walk(const Tag& tag, uint32_t page, std::vector<uint32_t>& out) const;
    void startHeader(const std::string& tableName, HeaderDate date);
    void writeTagTable();
    void fillTagHeader(Tag& tag);
    uint32_t edgeLeaf(const Tag& tag, bool rightmost) const;

    File m_file;
    std::vector<uint8_t> m_header; // pages 0-3: file header and tag table
    uint32_t m_pageCount = 4;
    std::vector<uint32_t> m_free; // free blocks, the lowest reused first
    bool m_freeSorted = true;     // m_free from the highest to the lowest
    std::vector<std::unique_ptr<Tag>> m_tags;
    // Every block in use, by its first page / 2. The blocks of a dropped tag wait in m_spare
    // for the next tag instead of going back to the heap and coming again as fresh pages.
    std::vector<std::unique_ptr<Node>> m_nodes;
    std::vector<std::unique_ptr<Node>> m_spare;
    std::vector<uint32_t> m_dirty;
    bool m_headerDirty = true;
    bool m_inMemory = false;
    HeaderDate m_date;
    std::unique_ptr<RussianCollation> m_collation;
};

} // namespace ulen3
