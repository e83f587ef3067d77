#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One entry of a .po catalogue or .pot template.
struct TPoEntry {
    QString Id;
    QString PluralId;         // empty for a text without a count
    QStringList Translations; // msgstr, or msgstr[0], msgstr[1], ... in order
    bool Fuzzy = false;
};

// Every entry of a catalogue or template, the header (empty Id) first.
QList<TPoEntry> ReadPoEntries(const QString& fileName);

class QWidget;
// The texts of a built window (as the window translator meets them) that have no Dutch
// translation in locale/nl.po. Empty is good.
QStringList UntranslatedWindowTexts(QWidget* window);
// The same for texts a test collected itself (messages shown, list items). A text with a count may
// be named by its singular or its plural; it is translated when Dutch has every form of it.
QStringList UntranslatedTexts(const QStringList& englishTexts);
// The entries of a template (what the sources mark) that locale/nl.po lacks: no entry, fuzzy, a
// form left empty, or a count the catalogue does not treat as one (or the other way round), which
// would show one form for every number.
QStringList UntranslatedEntries(const QList<TPoEntry>& templateEntries);
