#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QIODevice;
class TMyDBConnector;
struct TJournalAuthor;

// What an import brought over, for the operator's summary.
struct TLegacyImportSummary {
    int ControllersImported = 0;
    int ControllersSkipped = 0;  // records whose code is not 6 characters
    int CardholdersImported = 0; // one per card number, however often it appears
    int CardRecordsSkipped = 0;  // records holding no card (empty number or "0000000000")
    int CardRecordsReplaced = 0; // records whose number a later record used again
    qint64 ZoneRowsWritten = 0;  // CardZones rows in the database at the end
    bool CardsRead = false;      // false when no controller was found, so asleutel.bst was unused
};

// Called now and then while the card records are read: how many of how many are done.
using TLegacyImportProgress = std::function<void(qint64 done, qint64 total)>;

// A legacy file read record by record. Only whole records count: a shorter piece at the end is
// never read. Every failure raises VyrError with a text that names the file.
class TLegacyRecordReader {
public:
    // Takes over an open device; `displayName` names it in messages.
    TLegacyRecordReader(std::unique_ptr<QIODevice> device, QString displayName,
                        qsizetype recordSize);
    ~TLegacyRecordReader();
    TLegacyRecordReader(const TLegacyRecordReader&) = delete;
    TLegacyRecordReader& operator=(const TLegacyRecordReader&) = delete;

    // Opens a file for reading only: the import never writes to the older software's files.
    static std::unique_ptr<TLegacyRecordReader> OpenFile(const QString& path, qsizetype recordSize);

    qint64 RecordCount() const { return FRecordCount; }
    // The next record, valid until the next call; false after the last.
    bool Next(QByteArrayView& record);

private:
    std::unique_ptr<QIODevice> FDevice;
    QString FDisplayName;
    qsizetype FRecordSize;
    qint64 FRecordCount = 0;
    qint64 FRecordsRead = 0;
    QByteArray FChunk; // several records at a time: far fewer reads of the device
    qsizetype FChunkPos = 0;
};

// The import proper, on an open connection, inside a transaction the caller owns (it rolls back
// when this throws). `openCards` is called only when at least one controller was found. Raises
// VyrError at the first failure: a file that cannot be read or a statement the database refuses.
// The journal gets one entry with the summary, made by `author`, in that transaction.
TLegacyImportSummary
ImportLegacyRecords(TMyDBConnector& db, TLegacyRecordReader& controllers,
                    const std::function<std::unique_ptr<TLegacyRecordReader>()>& openCards,
                    const TJournalAuthor& author, const TLegacyImportProgress& progress = {});

// Where the card file lies: asleutel.bst beside autonoom.bst. Files that came from the older
// system's platform may carry their names in capitals, so a name that differs only in case is
// taken when the exact one is missing.
QString LegacyCardFilePath(const QString& autonoomPath);

// The whole import into a new, otherwise untouched database file, through a connection of its own
// (the profile in use keeps its own connection and database), journaled as the desktop user's. All
// or nothing: on any failure the database is left as it was, and VyrError says which file or step
// failed and why. Removing the database file then is the caller's part, since the caller made it.
TLegacyImportSummary ImportLegacyFiles(const QString& autonoomPath, const QString& databaseFile,
                                       const TLegacyImportProgress& progress = {});

// The summary in the operator's language.
QString LegacyImportSummaryText(const TLegacyImportSummary& summary);
