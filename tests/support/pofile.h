#pragma once

#include <QHash>
#include <QString>

// The translations of a .po catalogue: message id -> translation, without fuzzy or empty entries.
QHash<QString, QString> ReadPoTranslations(const QString& fileName);
