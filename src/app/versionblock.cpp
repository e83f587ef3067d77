#include "app/versionblock.h"

#include <QStringList>

namespace {

void AppendWord(QByteArray& out, uint16_t value) {
    out.append(char(value & 0xFF));
    out.append(char(value >> 8));
}

void AppendDword(QByteArray& out, uint32_t value) {
    AppendWord(out, uint16_t(value & 0xFFFF));
    AppendWord(out, uint16_t(value >> 16));
}

void PadToDword(QByteArray& out) {
    while (out.size() % 4 != 0)
        out.append('\0');
}

void AppendWideText(QByteArray& out, const QString& text) {
    for (const QChar c : text)
        AppendWord(out, c.unicode());
    AppendWord(out, 0);
}

// One node: length, value length, type, key, padding, value, padding, children. Every node starts
// on a 32-bit boundary of the block, so each is built from an aligned start and the children are
// padded before they are appended.
QByteArray Node(const QString& key, uint16_t type, const QByteArray& value, uint16_t valueLength,
                const QList<QByteArray>& children) {
    QByteArray out;
    AppendWord(out, 0); // length, filled in below
    AppendWord(out, valueLength);
    AppendWord(out, type);
    AppendWideText(out, key);
    PadToDword(out);
    out.append(value);
    for (const QByteArray& child : children) {
        PadToDword(out);
        out.append(child);
    }
    const auto length = uint16_t(out.size());
    out[0] = char(length & 0xFF);
    out[1] = char(length >> 8);
    return out;
}

constexpr uint16_t BinaryValueType = 0;
constexpr uint16_t TextValueType = 1;

uint32_t High(const std::array<uint16_t, 4>& v) {
    return uint32_t(v[0]) << 16 | v[1];
}
uint32_t Low(const std::array<uint16_t, 4>& v) {
    return uint32_t(v[2]) << 16 | v[3];
}

} // namespace

std::array<uint16_t, 4> VersionParts(const QString& dotted) {
    std::array<uint16_t, 4> parts{};
    const QStringList fields = dotted.split('.');
    for (int i = 0; i < 4 && i < fields.size(); ++i)
        parts[size_t(i)] = uint16_t(fields[i].toUInt());
    return parts;
}

QByteArray BuildVersionBlock(const TVersionBlockContents& contents) {
    QByteArray fixed;
    AppendDword(fixed, FixedFileInfoSignature);
    AppendDword(fixed, 0x00010000); // structure version 1.0
    AppendDword(fixed, High(contents.FileVersion));
    AppendDword(fixed, Low(contents.FileVersion));
    AppendDword(fixed, High(contents.ProductVersion));
    AppendDword(fixed, Low(contents.ProductVersion));
    AppendDword(fixed, 0x0000003F); // flags mask: every defined flag
    AppendDword(fixed, 0);          // flags: a plain release build
    AppendDword(fixed, contents.FileOS);
    AppendDword(fixed, contents.FileType);
    AppendDword(fixed, 0); // subtype
    AppendDword(fixed, 0); // date, high
    AppendDword(fixed, 0); // date, low

    QList<QByteArray> sections;
    if (!contents.Strings.isEmpty()) {
        QList<QByteArray> strings;
        for (const auto& [name, text] : contents.Strings) {
            QByteArray value;
            AppendWideText(value, text);
            // A text value's length counts 16-bit characters, the terminating zero included.
            strings.append(Node(name, TextValueType, value, uint16_t(text.size() + 1), {}));
        }
        const QByteArray table = Node(contents.StringTableKey, TextValueType, {}, 0, strings);
        sections.append(Node("StringFileInfo", TextValueType, {}, 0, {table}));
    }
    if (!contents.Translations.isEmpty()) {
        QByteArray value;
        for (const auto& entry : contents.Translations) {
            AppendWord(value, entry.Language);
            AppendWord(value, entry.CodePage);
        }
        const QByteArray translation =
            Node("Translation", BinaryValueType, value, uint16_t(value.size()), {});
        sections.append(Node("VarFileInfo", TextValueType, {}, 0, {translation}));
    }
    return Node("VS_VERSION_INFO", BinaryValueType, fixed, uint16_t(fixed.size()), sections);
}
