#include "app/FileVersion.h"

#include "base/Bytes.h"

#include <QFile>

#include <optional>

namespace ulen3 {

namespace {

// One block of the version information: length, value length, type, key, value, children.
struct Block {
    qsizetype start = 0, end = 0;
    int valueLength = 0;
    int type = 0;
    QString key;
    qsizetype value = 0;    // where the value starts
    qsizetype children = 0; // where the children start
};

class VersionInfo {
public:
    VersionInfo(const QByteArray& bytes, qsizetype root) : m_bytes(bytes), m_root(root) {}

    std::optional<Block> block(qsizetype at, qsizetype limit) const {
        if (at + 6 > limit)
            return std::nullopt;
        Block b;
        b.start = at;
        const int length = u16(at);
        b.valueLength = u16(at + 2);
        b.type = u16(at + 4);
        b.end = at + length;
        if (length < 6 || b.end > limit)
            return std::nullopt;
        qsizetype p = at + 6;
        while (p + 1 < b.end && u16(p) != 0) {
            b.key += QChar(static_cast<char16_t>(u16(p)));
            p += 2;
        }
        b.value = align(p + 2);
        const qsizetype valueBytes = b.type == 1 ? 2 * qsizetype(b.valueLength) : b.valueLength;
        // A value that would reach past its own block is no value: nothing is read beyond it.
        if (b.value + valueBytes > b.end)
            return std::nullopt;
        b.children = align(b.value + valueBytes);
        return b;
    }

    std::optional<Block> child(const Block& parent, const QString& key) const {
        for (qsizetype p = parent.children; p < parent.end;) {
            const auto c = block(p, parent.end);
            if (!c)
                return std::nullopt;
            if (c->key == key)
                return c;
            p = align(c->end);
        }
        return std::nullopt;
    }

    std::optional<Block> path(const QStringList& keys) const {
        auto b = block(m_root, m_bytes.size());
        for (const QString& k : keys) {
            if (!b)
                break;
            b = child(*b, k);
        }
        return b;
    }

    // A 16-bit value; 0 outside the bytes.
    int u16(qsizetype at) const {
        if (at < 0 || at + 1 >= m_bytes.size())
            return 0;
        return get_le16(reinterpret_cast<const unsigned char*>(m_bytes.constData() + at));
    }

private:
    // Blocks start on 4-byte boundaries counted from the start of the version information.
    qsizetype align(qsizetype at) const { return m_root + ((at - m_root + 3) & ~qsizetype(3)); }

    const QByteArray& m_bytes;
    qsizetype m_root;
};

// The version information inside a program file: the block "VS_VERSION_INFO" whose value is a
// fixed file information structure.
std::optional<qsizetype> find_root(const QByteArray& bytes) {
    const QByteArray key = QByteArray::fromRawData(reinterpret_cast<const char*>(u"VS_VERSION_INFO"), 30);
    for (qsizetype hit = bytes.indexOf(key); hit >= 6; hit = bytes.indexOf(key, hit + 2)) {
        const qsizetype root = hit - 6;
        const VersionInfo info(bytes, root);
        const auto b = info.block(root, bytes.size());
        if (b && b->key == QLatin1String("VS_VERSION_INFO") && b->valueLength == 52 && b->value + 4 <= bytes.size() &&
            info.u16(b->value) == 0x04BD && info.u16(b->value + 2) == 0xFEEF)
            return root;
    }
    return std::nullopt;
}

} // namespace

QString file_version_of(const QByteArray& bytes) {
    const QString none = QStringLiteral("0.0.0.0");
    const auto root = find_root(bytes);
    if (!root)
        return none;
    const VersionInfo info(bytes, *root);
    QString key;
    const auto translation = info.path({QStringLiteral("VarFileInfo"), QStringLiteral("Translation")});
    if (translation && translation->valueLength >= 4)
        key = QStringLiteral("%1%2")
                  .arg(info.u16(translation->value), 4, 16, QLatin1Char('0'))
                  .arg(info.u16(translation->value + 2), 4, 16, QLatin1Char('0'))
                  .toUpper();
    const auto version = info.path({QStringLiteral("StringFileInfo"), key, QStringLiteral("FileVersion")});
    if (!version || version->valueLength <= 1)
        return none;
    QString text;
    for (int i = 0; i < version->valueLength - 1; ++i) {
        const int c = info.u16(version->value + 2 * i);
        if (c == 0)
            break;
        text += QChar(static_cast<char16_t>(c));
    }
    return text;
}

QString file_version(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("0.0.0.0");
    return file_version_of(f.readAll());
}

} // namespace ulen3
