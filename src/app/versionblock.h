#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <cstdint>

// The version-information block in the Windows version-resource layout (VS_VERSIONINFO with its
// fixed part, a StringFileInfo string table and a VarFileInfo translation table). The build writes
// the program's own block with this; tests write odd ones.
struct TVersionBlockContents {
    struct Translation {
        uint16_t Language;
        uint16_t CodePage;
    };
    // Four parts each, most significant first: 1.0.0.0 is {1, 0, 0, 0}.
    std::array<uint16_t, 4> FileVersion{};
    std::array<uint16_t, 4> ProductVersion{};
    uint32_t FileOS = 0x00000004;   // VOS__WINDOWS32
    uint32_t FileType = 0x00000001; // VFT_APP
    // Without entries the block has no VarFileInfo at all.
    QList<Translation> Translations;
    // The string table's key, e.g. "040904E4"; without strings the block has no StringFileInfo.
    QString StringTableKey;
    QList<QPair<QString, QString>> Strings;
};

inline constexpr uint32_t FixedFileInfoSignature = 0xFEEF04BD;

QByteArray BuildVersionBlock(const TVersionBlockContents& contents);

// "1.0.0.0" as four parts; missing or unreadable parts count as 0.
std::array<uint16_t, 4> VersionParts(const QString& dotted);
