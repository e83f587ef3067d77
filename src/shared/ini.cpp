#include "shared/ini.h"

#include "shared/errors.h"
#include "shared/safefile.h"
#include "shared/translation.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <optional>

namespace {

QStringList ReadLines(const QString& fileName) {
    QString text = QString::fromUtf8(ReadSmallFile(fileName));
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

// "[name]" -> name, anything else -> nullopt.
std::optional<QString> SectionName(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.size() < 2 || !trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype close = trimmed.indexOf(']');
    if (close < 0)
        return std::nullopt;
    return trimmed.mid(1, close - 1).trimmed();
}

// "key = value" -> key, comments and blank lines -> nullopt.
std::optional<QString> KeyName(const QString& line) {
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('#'))
        return std::nullopt;
    const qsizetype equals = trimmed.indexOf('=');
    if (equals <= 0)
        return std::nullopt;
    return trimmed.left(equals).trimmed();
}

QString ValueOf(const QString& line) {
    QString value = line.mid(line.indexOf('=') + 1).trimmed();
    // Windows strips one pair of enclosing quotes; files written elsewhere rely on that.
    if (value.size() >= 2 && ((value.startsWith('"') && value.endsWith('"')) ||
                              (value.startsWith('\'') && value.endsWith('\''))))
        value = value.mid(1, value.size() - 2);
    return value;
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

std::optional<QString> Lookup(const QString& fileName, const QString& section, const QString& key) {
    bool inSection = false;
    for (const QString& line : ReadLines(fileName)) {
        if (const auto name = SectionName(line)) {
            inSection = SameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (const auto name = KeyName(line); name && SameName(*name, key))
            return ValueOf(line);
    }
    return std::nullopt;
}

} // namespace

QString IniFile::ReadString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
    return Lookup(FFileName, section, key).value_or(defaultValue);
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
    const auto value = Lookup(FFileName, section, key);
    if (!value)
        return defaultValue;
    bool ok = false;
    const int number = value->toInt(&ok, 10);
    return ok ? number : defaultValue;
}

bool IniFile::ReadBool(const QString& section, const QString& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::ValueExists(const QString& section, const QString& key) const {
    return Lookup(FFileName, section, key).has_value();
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) const {
    WriteStrings({{section, key, value}});
}

namespace {

QString WithoutLineBreaks(const QString& value) {
    QString flat = value;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return flat;
}

void SetEntry(QStringList& lines, const QString& section, const QString& key,
              const QString& value) {
    const QString entry = key + "=" + WithoutLineBreaks(value);
    qsizetype sectionStart = -1; // line index of the matching header
    qsizetype insertAt = -1;     // after the section's last non-blank line
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i])) {
            if (sectionStart >= 0)
                break; // the section ended without the key
            if (SameName(*name, section)) {
                sectionStart = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionStart < 0)
            continue;
        if (const auto name = KeyName(lines[i]); name && SameName(*name, key)) {
            lines[i] = entry;
            return;
        }
        if (!lines[i].trimmed().isEmpty())
            insertAt = i + 1;
    }
    if (sectionStart >= 0) {
        lines.insert(insertAt, entry);
    } else {
        lines.append("[" + section + "]");
        lines.append(entry);
    }
}

} // namespace

void IniFile::WriteStrings(const QList<TIniEntry>& entries) const {
    const TFileLock lock(FFileName);
    const auto failure = [this] {
        return VyrError(FormatText(_("Unable to write to %s"), {FFileName}));
    };
    // The owner-write bit is the read-only mark; a rename would replace the file regardless (and
    // root may write anything), so it is honoured here the way the operator meant it.
    const QFileInfo info(FFileName);
    if (info.exists() && !(QFile::permissions(FFileName) & QFileDevice::WriteOwner))
        throw failure();
    QStringList lines;
    try {
        lines = ReadLines(FFileName);
    } catch (const VyrError&) {
        throw failure(); // never replace what could not be read: it is not ours to overwrite
    }
    for (const TIniEntry& entry : entries)
        SetEntry(lines, entry.Section, entry.Key, entry.Value);
    const QString text = lines.join("\r\n") + "\r\n";
    if (!ReplaceFileAtomically(FFileName, text.toUtf8()))
        throw failure();
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) const {
    WriteString(section, key, QString::number(value));
}

void IniFile::WriteBool(const QString& section, const QString& key, bool value) const {
    WriteString(section, key, value ? "1" : "0");
}
