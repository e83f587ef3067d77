#pragma once

#include <QString>

#include <cstdint>

// The application log: one timestamped entry per line. Kept small by Truncate at every start.
class TMyLogger {
public:
    // Creates the file empty when it does not exist; throws VyrError when it cannot.
    explicit TMyLogger(const QString& FileName);

    // Appends "<local date and time>: <Line>"; throws VyrError when the file cannot be written.
    void AppendLog(const QString& Line);
    QString GetFileName() const { return LogFile; }
    // Drops the oldest lines beyond MaxLines and returns how many went; 0 when nothing was
    // removed or anything failed (the log is never worth failing start-up for).
    int32_t Truncate(uint32_t MaxLines);

    // The entry timestamp in the user's locale: short date, then long time unless it is midnight.
    static QString FormatTimestamp(const class QDateTime& moment);

private:
    QString LogFile;
};
