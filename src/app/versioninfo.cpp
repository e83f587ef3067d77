#include "app/versioninfo.h"

#include <QFile>
#include <QStringList>

#include <limits>

namespace {

// Little-endian reads that never look past the buffer: a short read gives nothing.
std::optional<uint64_t> ReadLE(const QByteArray& data, qsizetype at, int bytes) {
    if (at < 0 || bytes <= 0 || at > data.size() - bytes)
        return std::nullopt;
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | uint8_t(data[at + i]);
    return value;
}

QByteArray ReadAt(QFile& file, uint64_t offset, uint64_t size) {
    if (offset > uint64_t(file.size()) || size > uint64_t(file.size()) - offset)
        return {};
    if (!file.seek(qint64(offset)))
        return {};
    return file.read(qint64(size));
}

// A node of the block: the parts a lookup needs, all inside the node's own length.
struct VersionNode {
    qsizetype End = 0;
    QString Key;
    qsizetype ValueStart = 0;
    qsizetype ValueSize = 0; // bytes
    qsizetype ChildrenStart = 0;
};

qsizetype AlignUp(qsizetype offset) {
    return (offset + 3) & ~qsizetype(3);
}

std::optional<VersionNode> ParseNode(const QByteArray& block, qsizetype at, qsizetype limit) {
    const auto length = ReadLE(block, at, 2);
    const auto valueLength = ReadLE(block, at + 2, 2);
    const auto type = ReadLE(block, at + 4, 2);
    if (!length || !valueLength || !type)
        return std::nullopt;
    // A node that claims more than its parent holds is damaged: nothing inside it can be trusted.
    if (*length < 6 || at + qsizetype(*length) > limit)
        return std::nullopt;
    VersionNode node;
    node.End = at + qsizetype(*length);
    qsizetype pos = at + 6;
    for (;;) {
        const auto c = ReadLE(block, pos, 2);
        if (!c || pos + 2 > node.End)
            return std::nullopt;
        pos += 2;
        if (*c == 0)
            break;
        node.Key += QChar(char16_t(*c));
    }
    node.ValueStart = AlignUp(pos);
    node.ValueSize = *type == 1 ? qsizetype(*valueLength) * 2 : qsizetype(*valueLength);
    if (node.ValueStart + node.ValueSize > node.End) {
        // A text value's length is not always kept exactly; cut it at the node's end rather
        // than refusing a readable block.
        if (*type != 1 || node.ValueStart > node.End)
            return std::nullopt;
        node.ValueSize = node.End - node.ValueStart;
    }
    node.ChildrenStart = AlignUp(node.ValueStart + node.ValueSize);
    return node;
}

std::optional<VersionNode> FindChild(const QByteArray& block, const VersionNode& parent,
                                     const QString& key) {
    qsizetype at = parent.ChildrenStart;
    while (at + 6 <= parent.End) {
        const auto child = ParseNode(block, at, parent.End);
        if (!child)
            return std::nullopt;
        if (child->Key.compare(key, Qt::CaseInsensitive) == 0)
            return child;
        at = AlignUp(child->End);
    }
    return std::nullopt;
}

QString TextValue(const QByteArray& value) {
    QString text;
    for (qsizetype i = 0; i + 1 < value.size(); i += 2) {
        const auto c = char16_t(uint8_t(value[i]) | uint8_t(value[i + 1]) << 8);
        if (c == 0)
            break;
        text += QChar(c);
    }
    return text;
}

} // namespace

std::optional<QByteArray> ReadElfSection(const QString& fileName, const QString& sectionName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = file.read(64);
    if (header.size() < 52 || !header.startsWith("\x7F"
                                                 "ELF"))
        return std::nullopt;
    const bool is64 = header[4] == 2;
    if ((header[4] != 1 && !is64) || header[5] != 1) // 32/64-bit, little-endian only
        return std::nullopt;
    const auto sectionTable = ReadLE(header, is64 ? 0x28 : 0x20, is64 ? 8 : 4);
    const auto entrySize = ReadLE(header, is64 ? 0x3A : 0x2E, 2);
    const auto count = ReadLE(header, is64 ? 0x3C : 0x30, 2);
    const auto namesIndex = ReadLE(header, is64 ? 0x3E : 0x32, 2);
    if (!sectionTable || !entrySize || !count || !namesIndex || *namesIndex >= *count)
        return std::nullopt;
    if (*entrySize < (is64 ? 64u : 40u))
        return std::nullopt;
    const QByteArray table = ReadAt(file, *sectionTable, *entrySize * *count);
    if (table.isEmpty())
        return std::nullopt;

    struct Section {
        uint64_t Name, Type, Offset, Size;
    };
    auto section = [&](uint64_t index) -> std::optional<Section> {
        const qsizetype at = qsizetype(index * *entrySize);
        const auto name = ReadLE(table, at, 4);
        const auto type = ReadLE(table, at + 4, 4);
        const auto offset = ReadLE(table, at + (is64 ? 24 : 16), is64 ? 8 : 4);
        const auto size = ReadLE(table, at + (is64 ? 32 : 20), is64 ? 8 : 4);
        if (!name || !type || !offset || !size)
            return std::nullopt;
        return Section{*name, *type, *offset, *size};
    };
    constexpr uint64_t NoBits = 8; // SHT_NOBITS: a section that takes no room in the file
    const auto names = section(*namesIndex);
    if (!names || names->Type == NoBits)
        return std::nullopt;
    const QByteArray nameTable = ReadAt(file, names->Offset, names->Size);
    const QByteArray wanted = sectionName.toUtf8();
    for (uint64_t i = 0; i < *count; ++i) {
        const auto entry = section(i);
        if (!entry || entry->Name >= uint64_t(nameTable.size()))
            continue;
        const char* name = nameTable.constData() + entry->Name;
        const qsizetype room = nameTable.size() - qsizetype(entry->Name);
        if (qstrnlen(name, uint(room)) == uint(room) || wanted != name)
            continue;
        if (entry->Type == NoBits || entry->Size > std::numeric_limits<uint32_t>::max())
            return std::nullopt;
        QByteArray contents = ReadAt(file, entry->Offset, entry->Size);
        if (uint64_t(contents.size()) != entry->Size)
            return std::nullopt;
        return contents;
    }
    return std::nullopt;
}

std::optional<QByteArray> VersionQueryValue(const QByteArray& block, const QString& path) {
    auto node = ParseNode(block, 0, block.size());
    for (const QString& key : path.split('\\', Qt::SkipEmptyParts)) {
        if (!node)
            return std::nullopt;
        node = FindChild(block, *node, key);
    }
    if (!node)
        return std::nullopt;
    return block.mid(node->ValueStart, node->ValueSize);
}

QString StringTableKey(uint16_t language, uint16_t codePage) {
    const uint32_t key = uint32_t(language) << 16 | codePage;
    return QString("%1").arg(key, 8, 16, QChar('0')).toUpper();
}

TVersionInfo::TVersionInfo(const QString& FileName) {
    FData = ReadElfSection(FileName, VersionSectionName).value_or(QByteArray());
    FSize = uint32_t(FData.size());
    ReadStrings();
}

TVersionInfo TVersionInfo::FromBlock(const QByteArray& block) {
    TVersionInfo info;
    info.FData = block;
    info.FSize = uint32_t(block.size());
    info.ReadStrings();
    return info;
}

void TVersionInfo::ReadStrings() {
    const auto translation = VersionQueryValue(FData, "\\VarFileInfo\\Translation");
    if (!translation || translation->size() < 4)
        return;
    const auto language = uint16_t(*ReadLE(*translation, 0, 2));
    const auto codePage = uint16_t(*ReadLE(*translation, 2, 2));
    const QString table = "\\StringFileInfo\\" + StringTableKey(language, codePage) + "\\";
    const std::pair<const char*, QString*> names[] = {
        {"CompanyName", &FCompanyName},           {"FileDescription", &FFileDescription},
        {"FileVersion", &FFileVersion},           {"InternalName", &FInternalName},
        {"LegalCopyright", &FLegalCopyright},     {"LegalTrademarks", &FLegalTrademarks},
        {"OriginalFilename", &FOriginalFilename}, {"ProductName", &FProductName},
        {"ProductVersion", &FProductVersion},     {"Comments", &FComments},
    };
    for (const auto& [name, field] : names) {
        if (const auto value = VersionQueryValue(FData, table + name))
            *field = TextValue(*value);
    }
}
