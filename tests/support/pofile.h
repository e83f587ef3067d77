#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The translations of a .po catalogue: message id -> translation, without fuzzy or empty entries.
QHash<QString, QString> ReadPoTranslations(const QString& fileName);

class QWidget;
// The texts of a built window (as the window translator meets them) that have no Dutch
// translation in locale/nl.po. Empty is good.
QStringList UntranslatedWindowTexts(QWidget* window);
// The same for texts a test collected itself (messages shown, list items).
QStringList UntranslatedTexts(const QStringList& englishTexts);
