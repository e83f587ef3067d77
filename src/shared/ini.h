#pragma once

#include <QList>
#include <QString>

// One key to write: several of them go into the file in one replacement.
struct TIniEntry {
    QString Section;
    QString Key;
    QString Value;
};

// An INI file read and written the way Windows private-profile files behave: section and key
// names match regardless of case, whatever is missing yields the caller's default, and a write
// changes exactly its own lines and keeps everything else (comments, order, other keys).
// The file is opened afresh for every access. A write holds the file's lock across its
// read-modify-write, so a second running copy cannot undo it, and replaces the file atomically,
// so a crash never leaves half a settings or profile file behind. Only a small regular file is
// read: anything else throws VyrError with the reason instead of hanging or eating memory.
// A line break in a value would write extra lines into the file; it is written as one space.
class IniFile {
public:
    explicit IniFile(QString fileName) : FFileName(std::move(fileName)) {}

    const QString& FileName() const { return FFileName; }

    QString ReadString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    // A value that is not a whole number reads as the default.
    int ReadInteger(const QString& section, const QString& key, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& key, bool defaultValue) const;
    bool ValueExists(const QString& section, const QString& key) const;

    // Throw VyrError("Unable to write to %s") when the file cannot be written; the file on disk
    // is then unchanged.
    void WriteString(const QString& section, const QString& key, const QString& value) const;
    void WriteInteger(const QString& section, const QString& key, int value) const;
    void WriteBool(const QString& section, const QString& key, bool value) const;
    // All entries in one replacement: a crash leaves either all of them or none.
    void WriteStrings(const QList<TIniEntry>& entries) const;

private:
    QString FFileName;
};
