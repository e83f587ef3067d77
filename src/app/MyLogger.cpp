#include "app/MyLogger.h"

#include "shared/errors.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QSaveFile>

TMyLogger::TMyLogger(const QString& FileName) : LogFile(FileName) {
    if (QFile::exists(LogFile))
        return;
    QFile file(LogFile);
    if (!file.open(QIODevice::WriteOnly))
        throw VyrError(
            QStringLiteral("Cannot create the log file %1: %2").arg(LogFile, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString TMyLogger::FormatTimestamp(const QDateTime& moment) {
    const QLocale locale;
    QString text = locale.toString(moment.date(), QLocale::ShortFormat);
    if (moment.time() != QTime(0, 0)) {
        // Qt's long time format names the time zone, which a log line does not need.
        QString timeFormat = locale.timeFormat(QLocale::LongFormat);
        timeFormat.remove('t');
        text += ' ' + moment.time().toString(timeFormat.trimmed());
    }
    return text;
}

void TMyLogger::AppendLog(const QString& Line) {
    QFile file(LogFile);
    const QByteArray entry =
        (FormatTimestamp(QDateTime::currentDateTime()) + ": " + Line + "\r\n").toUtf8();
    if (!file.open(QIODevice::Append) || file.write(entry) != entry.size())
        throw VyrError(
            QStringLiteral("Cannot write to the log file %1: %2").arg(LogFile, file.errorString()));
}

int32_t TMyLogger::Truncate(uint32_t MaxLines) {
    QFile file(LogFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    QList<QByteArray> lines = file.readAll().split('\n');
    file.close();
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const qsizetype count = lines.size();
    if (count <= qsizetype(MaxLines))
        return 0;
    const qsizetype removed = count - qsizetype(MaxLines);
    lines.remove(0, removed);
    QByteArray text;
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        text += line + "\r\n";
    }
    QSaveFile out(LogFile);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit())
        return 0;
    return int32_t(removed);
}
