#include "profiles/legacyimport.h"

#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/legacyrecords.h"
#include "shared/errors.h"
#include "shared/translation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <vector>

#include <sys/stat.h>

namespace {

const QString CardFileName = QStringLiteral("asleutel.bst");

// Records fetched from the device at a time.
constexpr qsizetype RecordsPerChunk = 128;
// How often the progress is told, in card records.
constexpr qint64 ProgressEvery = 256;

// Rows per multi-row INSERT. One statement of many rows costs SQLite little more to parse than a
// single row; one statement per row would make the translation and parsing dominate the import.
// The engine's limit on values per statement may lower these.
constexpr int CardRowsPerStatement = 500;
constexpr int ZoneRowsPerStatement = 2000;

[[noreturn]] void Refused(const QString& statementKind, const QString& reason) {
    throw VyrError(FormatText(_("The database refused to store %s: %s"), {statementKind, reason}));
}

// Rows for one table, gathered into multi-row INSERT statements with every value bound. Any
// refusal ends the import: a row that is not stored would make the new profile differ silently
// from the older system.
class TRowBatch {
public:
    // `row` is one row's parenthesised VALUES tuple, with a `?` for each of `valuesPerRow` values.
    TRowBatch(TMyDBConnector& db, QString head, QString row, int valuesPerRow, int rowsPerStatement,
              const char* what)
        : FDb(db), FHead(std::move(head)), FRow(std::move(row)), FValuesPerRow(valuesPerRow),
          FRowsPerStatement(
              std::max(1, std::min(rowsPerStatement, db.MaxBoundValues() / valuesPerRow))),
          FWhat(what) {
        FStatement.Values.reserve(qsizetype(FRowsPerStatement) * FValuesPerRow);
    }

    void Add(std::initializer_list<QVariant> values) {
        Q_ASSERT(int(values.size()) == FValuesPerRow);
        FStatement.Values.append(values);
        if (++FRows == FRowsPerStatement)
            Flush();
    }

    void Flush() {
        if (FRows == 0)
            return;
        // Every full statement has the same text, so it is built once.
        if (FRows == FRowsPerStatement) {
            if (FFullText.isEmpty())
                FFullText = Text(FRows);
            FStatement.Sql = FFullText;
        } else {
            FStatement.Sql = Text(FRows);
        }
        const qint64 stored = FDb.ExecuteCounted(FStatement);
        if (stored != FRows)
            Refused(_(FWhat), stored < 0
                                  ? FDb.GetLastError()
                                  : FormatText(TranslatePlural("%s of %s row was stored",
                                                               "%s of %s rows were stored", FRows),
                                               {QString::number(stored), QString::number(FRows)}));
        FRows = 0;
        FStatement.Values.clear();
    }

private:
    QString Text(int rows) const {
        QString text;
        text.reserve(FHead.size() + qsizetype(rows) * (FRow.size() + 1));
        text += FHead;
        for (int i = 0; i < rows; ++i) {
            if (i > 0)
                text += u',';
            text += FRow;
        }
        return text;
    }

    TMyDBConnector& FDb;
    const QString FHead;
    const QString FRow;
    const int FValuesPerRow;
    const int FRowsPerStatement;
    const char* FWhat;
    QString FFullText;
    TMyStatement FStatement;
    int FRows = 0;
};

// The key under which the database tells card numbers apart: its NOCASE comparison folds the ASCII
// letters only, so "0a12" and "0A12" are one card while "é" and "É" are two.
QString CardKey(const QString& number) {
    QString key = number;
    for (QChar& c : key) {
        if (c >= u'a' && c <= u'z')
            c = QChar(char16_t(c.unicode() - (u'a' - u'A')));
    }
    return key;
}

void InsertControllers(TMyDBConnector& db, std::vector<TTmpStandalone>& list) {
    for (TTmpStandalone& controller : list) {
        if (!db.ExecuteQuery({"INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, "
                              "ConByte2) VALUES(?, ?, ?, ?, ?)",
                              {controller.ConType, controller.ConName, controller.ConCode,
                               int(controller.ConByte1), int(controller.ConByte2)}}))
            Refused(FormatText(_("controller %s"), {controller.ConName}), db.GetLastError());
        const std::unique_ptr<TMyResultSet> identity = db.Query("SELECT @@Identity");
        if (identity && !identity->Eof())
            controller.ConID = identity->Fields(0).AsInteger();
        // Zone rows with ConID 0 would belong to no controller; better no profile than that.
        if (controller.ConID <= 0)
            Refused(FormatText(_("controller %s"), {controller.ConName}),
                    identity ? _("it was given no number") : db.GetLastError());
    }
}

TLegacyImportSummary
ImportRecords(TMyDBConnector& db, TLegacyRecordReader& controllers,
              const std::function<std::unique_ptr<TLegacyRecordReader>()>& openCards,
              const TLegacyImportProgress& progress);

} // namespace

TLegacyRecordReader::TLegacyRecordReader(std::unique_ptr<QIODevice> device, QString displayName,
                                         qsizetype recordSize)
    : FDevice(std::move(device)), FDisplayName(std::move(displayName)), FRecordSize(recordSize) {
    const qint64 size = FDevice->size();
    FRecordCount = size / FRecordSize;
}

TLegacyRecordReader::~TLegacyRecordReader() = default;

std::unique_ptr<TLegacyRecordReader> TLegacyRecordReader::OpenFile(const QString& path,
                                                                   qsizetype recordSize) {
    const QString shown = QDir::toNativeSeparators(path);
    if (path.isEmpty())
        throw VyrError(_("No file of the older software was chosen."));
    // A folder, a pipe or a device is no record file; a pipe would even block the open forever.
    // What cannot be examined at all is left to the open, whose reason is the one to show.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode))
        throw VyrError(FormatText(_("%s is not a file."), {shown}));
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        throw VyrError(
            FormatText(_("The file %s could not be opened: %s"), {shown, file->errorString()}));
    return std::make_unique<TLegacyRecordReader>(std::move(file), shown, recordSize);
}

bool TLegacyRecordReader::Next(QByteArrayView& record) {
    if (FRecordsRead >= FRecordCount)
        return false;
    if (FChunkPos >= FChunk.size()) {
        const qint64 records = std::min<qint64>(RecordsPerChunk, FRecordCount - FRecordsRead);
        const qint64 wanted = records * FRecordSize;
        FChunk.resize(qsizetype(wanted));
        FChunkPos = 0;
        qint64 got = 0;
        while (got < wanted) {
            const qint64 n = FDevice->read(FChunk.data() + got, wanted - got);
            if (n < 0)
                throw VyrError(FormatText(_("The file %s could not be read: %s"),
                                          {FDisplayName, FDevice->errorString()}));
            if (n == 0)
                throw VyrError(FormatText(_("The file %s ended before its last record: it "
                                            "changed while it was read."),
                                          {FDisplayName}));
            got += n;
        }
    }
    record = QByteArrayView(FChunk).sliced(FChunkPos, FRecordSize);
    FChunkPos += FRecordSize;
    ++FRecordsRead;
    return true;
}

TLegacyImportSummary
ImportLegacyRecords(TMyDBConnector& db, TLegacyRecordReader& controllers,
                    const std::function<std::unique_ptr<TLegacyRecordReader>()>& openCards,
                    const TJournalAuthor& author, const TLegacyImportProgress& progress) {
    TLegacyImportSummary summary = ImportRecords(db, controllers, openCards, progress);
    // One entry for the whole import, also when it found nothing: the reviewer learns where the
    // site's first records came from, and that an import found none.
    TJournalEntry entry;
    entry.Action = TJournalAction::LegacyImport;
    entry.Changes = {
        {"CardHolders", QString(), QString::number(summary.CardholdersImported)},
        {"Controllers", QString(), QString::number(summary.ControllersImported)},
        {"Zones", QString(), QString::number(summary.ZoneRowsWritten)},
        {"ControllersSkipped", QString(), QString::number(summary.ControllersSkipped)},
        {"CardRecordsSkipped", QString(), QString::number(summary.CardRecordsSkipped)},
        {"CardRecordsReplaced", QString(), QString::number(summary.CardRecordsReplaced)}};
    if (!AppendJournal(db, entry, author))
        Refused(_("the change journal"), db.GetLastError());
    return summary;
}

namespace {

TLegacyImportSummary
ImportRecords(TMyDBConnector& db, TLegacyRecordReader& controllers,
              const std::function<std::unique_ptr<TLegacyRecordReader>()>& openCards,
              const TLegacyImportProgress& progress) {
    TLegacyImportSummary summary;
    std::vector<TTmpStandalone> list;
    int recordNum = 0;
    QByteArrayView record;
    while (controllers.Next(record)) {
        ++recordNum;
        if (auto controller = DecodeControllerRecord(record, recordNum))
            list.push_back(std::move(*controller));
        else
            ++summary.ControllersSkipped;
    }
    if (list.empty())
        return summary; // nothing for a card to have access to: the card file is not needed

    // Open the card file before anything is written, so a missing one costs no work.
    const std::unique_ptr<TLegacyRecordReader> cards = openCards();
    InsertControllers(db, list);
    summary.ControllersImported = int(list.size());
    summary.CardsRead = true;

    // Position p of the zone flags is record p of autonoom.bst; a skipped record (and any position
    // beyond the file) keeps its place and has no controller, so it yields no rows.
    std::array<int, LegacyPositions> conIdAt{};
    for (const TTmpStandalone& controller : list) {
        if (controller.RecordNum <= LegacyPositions)
            conIdAt[size_t(controller.RecordNum - 1)] = controller.ConID;
    }

    TRowBatch cardRows(db,
                       QStringLiteral("INSERT INTO CardHolders (CardNumber, CardHolder, "
                                      "CardCustom1, CardCustom2, CardCustom3, CardCustom4, "
                                      "CardAdded, CardLastEdit) VALUES"),
                       QStringLiteral("(?,?,?,?,\"\",\"\",NOW(),NOW())"), 4, CardRowsPerStatement,
                       N_("the cardholders"));
    TRowBatch zoneRows(
        db, QStringLiteral("INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES"),
        QStringLiteral("(?,?,?)"), 3, ZoneRowsPerStatement, N_("the zones of the cardholders"));
    QSet<QString> seen;
    const qint64 total = cards->RecordCount();
    qint64 done = 0;
    if (progress)
        progress(0, total);
    while (cards->Next(record)) {
        ++done;
        if (progress && done % ProgressEvery == 0)
            progress(done, total);
        const TLegacyCard card = DecodeCardRecord(record);
        if (!card.HoldsCard()) {
            ++summary.CardRecordsSkipped;
            continue;
        }
        const QString& number = card.CardNumber;
        const QString key = CardKey(number);
        if (seen.contains(key)) {
            // The later record wins whole: the earlier one's row and zones make way for it. What
            // is pending must reach the database first, or the deletes would miss it.
            cardRows.Flush();
            zoneRows.Flush();
            const qint64 zonesGone =
                db.ExecuteCounted({"DELETE * FROM CardZones WHERE CardNumber = ?", {number}});
            if (zonesGone < 0)
                Refused(_("the zones of the cardholders"), db.GetLastError());
            if (db.ExecuteCounted({"DELETE * FROM CardHolders WHERE CardNumber = ?", {number}}) < 0)
                Refused(_("the cardholders"), db.GetLastError());
            summary.ZoneRowsWritten -= zonesGone;
            ++summary.CardRecordsReplaced;
        } else {
            seen.insert(key);
            ++summary.CardholdersImported;
        }
        cardRows.Add({number, card.CardHolder, card.CardCustom1, card.CardCustom2});
        for (int position = 0; position < LegacyPositions; ++position) {
            const int zone = card.Zones[size_t(position)];
            const int conId = conIdAt[size_t(position)];
            if (zone == 0 || conId == 0)
                continue;
            zoneRows.Add({conId, number, zone});
            ++summary.ZoneRowsWritten;
        }
    }
    cardRows.Flush();
    zoneRows.Flush();
    if (progress)
        progress(total, total);
    return summary;
}

} // namespace

QString LegacyCardFilePath(const QString& autonoomPath) {
    const QDir folder = QFileInfo(autonoomPath).dir();
    const QString exact = folder.filePath(CardFileName);
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList anyCase =
        folder.entryList({CardFileName}, QDir::AllEntries | QDir::Hidden, QDir::Name);
    return anyCase.isEmpty() ? exact : folder.filePath(anyCase.first());
}

TLegacyImportSummary ImportLegacyFiles(const QString& autonoomPath, const QString& databaseFile,
                                       const TLegacyImportProgress& progress) {
    const std::unique_ptr<TLegacyRecordReader> controllers =
        TLegacyRecordReader::OpenFile(autonoomPath, ControllerRecordSize);

    TMySQLite db;
    db.ConnectionString = JetConnectionString(databaseFile);
    // Opened only once the controller file could be: a file chosen wrongly costs nothing more.
    if (!db.Connect())
        throw VyrError(FormatText(_("The new database %s could not be opened: %s"),
                                  {QDir::toNativeSeparators(databaseFile), db.GetLastError()}));
    if (!db.StartTransaction())
        throw VyrError(FormatText(_("The new database %s could not be opened: %s"),
                                  {QDir::toNativeSeparators(databaseFile), db.GetLastError()}));
    try {
        const TLegacyImportSummary summary = ImportLegacyRecords(
            db, *controllers,
            [&] {
                return TLegacyRecordReader::OpenFile(LegacyCardFilePath(autonoomPath),
                                                     CardRecordSize);
            },
            CurrentJournalAuthor(), progress);
        if (!db.CommitTransaction())
            throw VyrError(FormatText(_("The imported data could not be saved in %s: %s"),
                                      {QDir::toNativeSeparators(databaseFile), db.GetLastError()}));
        return summary;
    } catch (...) {
        db.RollbackTransaction();
        throw;
    }
}

QString LegacyImportSummaryText(const TLegacyImportSummary& summary) {
    QString text =
        _("The files of the older software were imported.") + "\n\n" +
        FormatText(TranslatePlural("Controller imported: %d", "Controllers imported: %d",
                                   summary.ControllersImported),
                   {QString::number(summary.ControllersImported)}) +
        "\n" +
        FormatText(TranslatePlural("Controller record skipped (no valid controller code): %d",
                                   "Controller records skipped (no valid controller code): %d",
                                   summary.ControllersSkipped),
                   {QString::number(summary.ControllersSkipped)});
    if (!summary.CardsRead)
        return text + "\n\n" + _("No controller was found, so no cardholders were imported.");
    text += "\n" +
            FormatText(TranslatePlural("Cardholder imported: %d", "Cardholders imported: %d",
                                       summary.CardholdersImported),
                       {QString::number(summary.CardholdersImported)}) +
            "\n" +
            FormatText(TranslatePlural("Card record skipped (no card number): %d",
                                       "Card records skipped (no card number): %d",
                                       summary.CardRecordsSkipped),
                       {QString::number(summary.CardRecordsSkipped)}) +
            "\n" +
            FormatText(TranslatePlural("Zone row written: %d", "Zone rows written: %d",
                                       summary.ZoneRowsWritten),
                       {QString::number(summary.ZoneRowsWritten)});
    if (summary.CardRecordsReplaced > 0)
        text += "\n\n" + FormatText(TranslatePlural("%d card record repeats the card number of an "
                                                    "earlier record; the last record was kept, "
                                                    "with its zones.",
                                                    "%d card records repeat the card number of "
                                                    "an earlier record; for each number the last "
                                                    "record was kept, with its zones.",
                                                    summary.CardRecordsReplaced),
                                    {QString::number(summary.CardRecordsReplaced)});
    return text;
}
