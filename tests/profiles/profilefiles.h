#pragma once

#include "profiledb.h" // readable texts in failure messages

#include <QString>
#include <QStringList>

// Files around the profiles that the profile tests make and look at.

// A copy of the template database at `path` with the statements run on it; an empty text, or
// what went wrong.
QString MakeDatabase(const QString& path, const QStringList& statements);

// The first field of every row the query gives on the database at `path`.
QStringList DatabaseColumn(const QString& path, const QString& sql);

// Every file in the data directory's "data" and "profiles" folders, hidden ones included:
// databases, profile files, temporaries, journals and lock files.
QStringList DataFolderFiles();
