#include "pofile.h"

#include "shared/windowtranslation.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>

namespace {
// Decodes one "..." piece of a .po line.
QString Unquote(const QString& piece) {
    const qsizetype open = piece.indexOf('"');
    const qsizetype close = piece.lastIndexOf('"');
    if (open < 0 || close <= open)
        return QString();
    QString out;
    for (qsizetype i = open + 1; i < close; ++i) {
        QChar c = piece[i];
        if (c == '\\' && i + 1 < close) {
            const QChar next = piece[++i];
            out += next == 'n' ? QChar('\n') : next == 't' ? QChar('\t') : next;
        } else {
            out += c;
        }
    }
    return out;
}

struct TDutch {
    QHash<QString, TPoEntry> ById;
    QHash<QString, TPoEntry> ByPluralId;
    qsizetype PluralForms = 0;
};

const TDutch& Dutch() {
    static const TDutch dutch = [] {
        TDutch result;
        for (const TPoEntry& entry :
             ReadPoEntries(QStringLiteral(VYR_SOURCE_DIR) + "/locale/nl.po")) {
            if (entry.Id.isEmpty()) {
                static const QRegularExpression forms("nplurals\\s*=\\s*(\\d+)");
                const QRegularExpressionMatch match = forms.match(entry.Translations.value(0));
                if (match.hasMatch())
                    result.PluralForms = match.captured(1).toInt();
                continue;
            }
            result.ById.insert(entry.Id, entry);
            if (!entry.PluralId.isEmpty())
                result.ByPluralId.insert(entry.PluralId, entry);
        }
        return result;
    }();
    return dutch;
}

// A plural entry needs exactly the forms the catalogue's header announces, none of them empty:
// gettext hands an empty form out as the text.
bool Translated(const TPoEntry& entry) {
    if (entry.Fuzzy || entry.Translations.isEmpty())
        return false;
    if (!entry.PluralId.isEmpty() && entry.Translations.size() != Dutch().PluralForms)
        return false;
    for (const QString& form : entry.Translations)
        if (form.isEmpty())
            return false;
    return true;
}
} // namespace

QList<TPoEntry> ReadPoEntries(const QString& fileName) {
    QList<TPoEntry> entries;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    static const QRegularExpression form("^msgstr\\[(\\d+)\\]\\s");
    TPoEntry entry;
    bool started = false; // a msgid was read for `entry`
    bool hasText = false; // ... and a msgstr
    QString* current = nullptr;
    auto finish = [&] {
        if (started && hasText)
            entries << entry;
        entry = TPoEntry();
        started = hasText = false;
        current = nullptr;
    };
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            // Comments belong to the entry that follows; "#~" marks a dropped one.
            if (hasText)
                finish();
            if (line.startsWith("#,") && line.contains("fuzzy"))
                entry.Fuzzy = true;
            current = nullptr;
        } else if (line.startsWith("msgid ")) {
            if (started)
                finish();
            started = true;
            entry.Id = Unquote(line);
            current = &entry.Id;
        } else if (line.startsWith("msgid_plural ")) {
            entry.PluralId = Unquote(line);
            current = &entry.PluralId;
        } else if (line.startsWith("msgstr ")) {
            hasText = true;
            entry.Translations = QStringList{Unquote(line)};
            current = &entry.Translations.first();
        } else if (const QRegularExpressionMatch match = form.match(line); match.hasMatch()) {
            hasText = true;
            const qsizetype index = match.captured(1).toInt();
            while (entry.Translations.size() <= index)
                entry.Translations << QString();
            entry.Translations[index] = Unquote(line.mid(match.capturedEnd()));
            current = &entry.Translations[index];
        } else if (line.startsWith('"') && current) {
            *current += Unquote(line);
        }
    }
    finish();
    return entries;
}

QStringList UntranslatedTexts(const QStringList& englishTexts) {
    QStringList missing;
    for (const QString& text : englishTexts) {
        const auto byId = Dutch().ById.constFind(text);
        const auto byPlural = Dutch().ByPluralId.constFind(text);
        const bool found = byId != Dutch().ById.cend()             ? Translated(*byId)
                           : byPlural != Dutch().ByPluralId.cend() ? Translated(*byPlural)
                                                                   : false;
        if (!found)
            missing << text;
    }
    return missing;
}

QStringList UntranslatedWindowTexts(QWidget* window) {
    return UntranslatedTexts(TranslateWindow(window));
}

QStringList UntranslatedEntries(const QList<TPoEntry>& templateEntries) {
    QStringList missing;
    for (const TPoEntry& wanted : templateEntries) {
        if (wanted.Id.isEmpty())
            continue;
        const auto dutch = Dutch().ById.constFind(wanted.Id);
        if (dutch == Dutch().ById.cend() || !Translated(*dutch) ||
            dutch->PluralId != wanted.PluralId)
            missing << (wanted.PluralId.isEmpty() ? wanted.Id
                                                  : wanted.Id + " / " + wanted.PluralId);
    }
    return missing;
}
