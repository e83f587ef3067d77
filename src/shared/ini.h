#pragma once

#include <QString>

// An INI file read and written one key at a time, the way Windows private-profile files behave:
// section and key names match regardless of case, whatever is missing yields the caller's default,
// and a write changes exactly one line and keeps everything else (comments, order, other keys).
// The file is opened afresh for every access; a write replaces it atomically, so a crash never
// leaves half a settings or profile file behind.
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

private:
    QString FFileName;
};
