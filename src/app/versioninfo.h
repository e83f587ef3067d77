#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The name of the ELF section in which the executable carries its version-information block.
inline constexpr const char* VersionSectionName = ".vyrversion";

// The ten standard strings of a file's version-information block. A file without the block, a
// block without a translation table, or a block that is damaged yields empty texts.
class TVersionInfo {
public:
    explicit TVersionInfo(const QString& FileName);

    const QString& CompanyName() const { return FCompanyName; }
    const QString& FileDescription() const { return FFileDescription; }
    const QString& FileVersion() const { return FFileVersion; }
    const QString& InternalName() const { return FInternalName; }
    const QString& LegalCopyright() const { return FLegalCopyright; }
    const QString& LegalTrademarks() const { return FLegalTrademarks; }
    const QString& OriginalFilename() const { return FOriginalFilename; }
    const QString& ProductName() const { return FProductName; }
    const QString& ProductVersion() const { return FProductVersion; }
    const QString& Comments() const { return FComments; }

    // Reads the strings from a block given as it is, without a file around it.
    static TVersionInfo FromBlock(const QByteArray& block);

private:
    TVersionInfo() = default;
    void ReadStrings();

    QByteArray FData;
    uint32_t FSize = 0;
    QString FCompanyName;
    QString FFileDescription;
    QString FFileVersion;
    QString FInternalName;
    QString FLegalCopyright;
    QString FLegalTrademarks;
    QString FOriginalFilename;
    QString FProductName;
    QString FProductVersion;
    QString FComments;
};

// The contents of the named section of an ELF file; nothing when the file is not an ELF file, has
// no such section, or the section lies outside the file.
std::optional<QByteArray> ReadElfSection(const QString& fileName, const QString& sectionName);

// A value of a version-information block by its path ("\VarFileInfo\Translation",
// "\StringFileInfo\040904E4\FileVersion"), with the raw bytes of the value: the text as UTF-16
// for text values. Names match regardless of case. Nothing when the path is not there or the
// block is damaged on the way to it.
std::optional<QByteArray> VersionQueryValue(const QByteArray& block, const QString& path);

// The string table's key for a translation: language × 65536 + code page in 8 upper-case digits.
QString StringTableKey(uint16_t language, uint16_t codePage);
