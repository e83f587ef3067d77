#include "pofile.h"

#include <QFile>
#include <QStringList>

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
} // namespace

QHash<QString, QString> ReadPoTranslations(const QString& fileName) {
    QHash<QString, QString> result;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    QString id, text, *current = nullptr;
    bool fuzzy = false;
    auto flush = [&] {
        if (!id.isEmpty() && !text.isEmpty() && !fuzzy)
            result.insert(id, text);
        id.clear();
        text.clear();
        fuzzy = false;
        current = nullptr;
    };
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith("#,") && line.contains("fuzzy")) {
            flush();
            fuzzy = true;
        } else if (line.startsWith("msgid ")) {
            const bool keepFuzzy = fuzzy && id.isEmpty() && text.isEmpty();
            flush();
            fuzzy = keepFuzzy;
            id = Unquote(line);
            current = &id;
        } else if (line.startsWith("msgstr ")) {
            text = Unquote(line);
            current = &text;
        } else if (line.startsWith('"') && current) {
            *current += Unquote(line);
        } else if (line.isEmpty() || line.startsWith('#')) {
            if (current == &text)
                flush();
        }
    }
    flush();
    return result;
}

#include "shared/windowtranslation.h"

QStringList UntranslatedTexts(const QStringList& englishTexts) {
    static const QHash<QString, QString> dutch =
        ReadPoTranslations(QStringLiteral(VYR_SOURCE_DIR) + "/locale/nl.po");
    QStringList missing;
    for (const QString& text : englishTexts)
        if (!dutch.contains(text))
            missing << text;
    return missing;
}

QStringList UntranslatedWindowTexts(QWidget* window) {
    return UntranslatedTexts(TranslateWindow(window));
}
