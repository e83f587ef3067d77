#include "profiles/sitemove.h"

#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/serverconnection.h"
#include "shared/errors.h"
#include "shared/safefile.h"
#include "shared/translation.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>

namespace {

struct TCopiedTable {
    const char* Name;
    QStringList Columns;
    QStringList IntegerColumns; // read as numbers; the rest keeps the file's text
    // The rows keep their numbers, which the server would otherwise give them itself.
    bool KeepsIdentity = false;
};

// Every table of a site, the marks included: a controller's pending change survives the move.
const TCopiedTable CopiedTables[] = {
    {"Controllers",
     {"ConID", "ConType", "ConName", "ConCode", "ConByte1", "ConByte2"},
     {"ConID", "ConByte1", "ConByte2"}},
    {"CardHolders",
     {"CardNumber", "CardHolder", "CardCustom1", "CardCustom2", "CardCustom3", "CardCustom4",
      "CardInactive", "CardAdded", "CardLastEdit", "Deleted"},
     {"Deleted"}},
    {"CardZones", {"ConID", "CardNumber", "ZoneID"}, {"ConID", "ZoneID"}},
    {"PendingChanges", {"ConID"}, {"ConID"}},
    // The journal keeps its numbers: they are the order of the entries, which the histories
    // show and page by.
    {"Journal",
     {"JournalID", "EntryTime", "Operator", "Workstation", "Action", "ConID", "ConName",
      "CardNumber", "OldCardNumber", "CardHolder", "Changes"},
     {"JournalID", "ConID"},
     true},
};

// Rows per INSERT: far below the bound-value limit, and few round trips for a large site.
constexpr int RowsPerStatement = 500;

struct TCalledOff {};

QString MoveFailed(const QString& reason) {
    return FormatText(_("The site could not be moved to the server: %s\n\nThe profile still uses "
                        "its local database file."),
                      {reason});
}

qint64 CountRows(TMyDBConnector& db, const char* table) {
    const auto rows = db.Query(TMyStatement(
        QStringLiteral("SELECT COUNT(*) AS N FROM %1").arg(QString::fromLatin1(table))));
    if (!rows)
        throw VyrError(MoveFailed(db.GetLastError()));
    return rows->Fields(0).AsInteger();
}

void CopyTable(const TCopiedTable& table, TMyResultSet& rows, TMyPostgreSQL& server, qint64& done,
               qint64 total, const TSiteMoveProgress& progress) {
    const QString columns = table.Columns.join(", ");
    const QString one = "(" + QStringList(table.Columns.size(), "?").join(", ") + ")";
    QList<bool> integer;
    for (const QString& column : table.Columns)
        integer << table.IntegerColumns.contains(column);
    const int count = rows.RecordCount();
    TMyResultSet& cursor = rows;
    cursor.First();
    for (int start = 0; start < count; start += RowsPerStatement) {
        const int batch = std::min(RowsPerStatement, count - start);
        TMyStatement insert(QStringLiteral("INSERT INTO %1 (%2) %3VALUES ")
                                .arg(QString::fromLatin1(table.Name), columns,
                                     table.KeepsIdentity ? "OVERRIDING SYSTEM VALUE " : "") +
                            QStringList(batch, one).join(", "));
        for (int row = 0; row < batch; ++row, cursor.Next()) {
            for (int i = 0; i < table.Columns.size(); ++i) {
                const TMyField field = cursor.Fields(i);
                if (field.IsNull())
                    insert.Values << QVariant();
                else if (integer[i])
                    // As text: a journal's numbers may outgrow the field's 32-bit integer.
                    insert.Values << field.AsString().toLongLong();
                else
                    insert.Values << field.AsString();
            }
        }
        if (server.ExecuteCounted(insert) != batch)
            throw VyrError(MoveFailed(server.GetLastError()));
        done += batch;
        if (progress)
            progress(done, total);
    }
}

// Copies every table into the server's open transaction and compares the counts.
void CopySite(TMySQLite& local, TMyPostgreSQL& server, const TSiteMoveProgress& progress) {
    std::vector<std::unique_ptr<TMyResultSet>> tables;
    qint64 total = 0;
    for (const TCopiedTable& table : CopiedTables) {
        auto rows = local.Query(
            TMyStatement(QStringLiteral("SELECT %1 FROM %2")
                             .arg(table.Columns.join(", "), QString::fromLatin1(table.Name))));
        if (!rows)
            throw VyrError(MoveFailed(local.GetLastError()));
        total += rows->RecordCount();
        tables.push_back(std::move(rows));
    }
    qint64 done = 0;
    for (size_t i = 0; i < tables.size(); ++i)
        CopyTable(CopiedTables[i], *tables[i], server, done, total, progress);
    if (progress)
        progress(total, total);

    // New controllers made on the server continue past the ones that came along.
    const auto highest = server.Query(TMyStatement("SELECT MAX(ConID) AS M FROM Controllers"));
    if (!highest)
        throw VyrError(MoveFailed(server.GetLastError()));
    const qint64 next = qint64(highest->Fields(0).AsInteger()) + 1;
    if (!server.Query(TMyStatement(
            "SELECT setval(pg_get_serial_sequence('controllers', 'conid'), ?, false)", {next})))
        throw VyrError(MoveFailed(server.GetLastError()));
    // And new entries after the ones that came along.
    const auto lastEntry = server.Query(TMyStatement("SELECT MAX(JournalID) AS M FROM Journal"));
    if (!lastEntry)
        throw VyrError(MoveFailed(server.GetLastError()));
    const qint64 nextEntry = lastEntry->Fields(0).AsString().toLongLong() + 1;
    if (!server.Query(
            TMyStatement("SELECT setval(pg_get_serial_sequence('journal', 'journalid'), ?, false)",
                         {nextEntry})))
        throw VyrError(MoveFailed(server.GetLastError()));

    // Counted again on both sides: a row lost on the way, or one written to the local file by
    // somebody else meanwhile, stops the move.
    for (const TCopiedTable& table : CopiedTables) {
        const qint64 here = CountRows(local, table.Name);
        const qint64 there = CountRows(server, table.Name);
        if (here != there)
            throw VyrError(MoveFailed(FormatText(
                _("The table %s holds %s rows in the local file but %s on the server."),
                {QString::fromLatin1(table.Name), QString::number(here), QString::number(there)})));
    }
}

} // namespace

QString MovedDatabaseName(const QString& databaseFile) {
    return databaseFile + ".moved-to-server";
}

TVYRStandProfile MoveSiteToServer(const TVYRStandProfile& profile, const QString& connection,
                                  const TSiteMoveProgress& progress) {
    if (!profile.ServerConnection.trimmed().isEmpty())
        throw VyrError(_("The profile already uses a database on a server."));
    if (const QString problem = ServerConnectionProblem(connection); !problem.isEmpty())
        throw VyrError(problem);
    const QString databaseFile = ResolveDatabasePath(profile.DBFileName);
    const QString movedFile = MovedDatabaseName(databaseFile);
    // The profile file takes its own lock as it is written; the database's is the one a wizard
    // making a profile of this name takes too.
    const TFileLock databaseLock(databaseFile);
    // A profile file without its owner's write permission is protected by the operator.
    if (!(QFile::permissions(profile.ProfileFileName) & QFileDevice::WriteOwner))
        throw VyrError(MoveFailed(
            FormatText(_("The profile file %s is read-only."), {profile.ProfileFileName})));
    if (!QFileInfo::exists(databaseFile))
        throw VyrError(
            MoveFailed(FormatText(_("The database file %s does not exist."), {databaseFile})));
    if (QFileInfo::exists(movedFile) || QFileInfo(movedFile).isSymLink())
        throw VyrError(MoveFailed(
            FormatText(_("%s already exists; the local file could not be kept under that name."),
                       {movedFile})));

    TMySQLite local;
    local.ConnectionString = JetConnectionString(databaseFile);
    if (!local.Connect())
        throw VyrError(MoveFailed(local.GetLastError()));
    // A file that no version with the journal has opened yet moves with an empty one.
    if (!AddJournalTable(local))
        throw VyrError(MoveFailed(local.GetLastError()));
    TMyPostgreSQL server;
    server.ConnectionString = connection.trimmed();
    if (!server.ConnectEmptyInTransaction())
        throw VyrError(MoveFailed(server.GetLastError()));
    try {
        CopySite(local, server, progress);
    } catch (...) {
        server.RollbackTransaction();
        throw;
    }
    // Closed before the rename, so that nothing of the file stays in a journal beside it.
    local.Disconnect();

    TVYRStandProfile moved = profile;
    moved.DBFileName.clear();
    moved.ServerConnection = connection.trimmed();
    try {
        moved.SaveToINI(moved.ProfileFileName);
    } catch (...) {
        server.RollbackTransaction();
        throw;
    }
    const auto restoreProfile = [&] {
        try {
            profile.SaveToINI(profile.ProfileFileName);
        } catch (const VyrError&) {
            // The file was writable a moment ago; should it no longer be, the error that
            // stopped the move is still the one to report.
        }
    };
    if (!RenameWithoutReplacing(databaseFile, movedFile)) {
        restoreProfile();
        server.RollbackTransaction();
        throw VyrError(
            MoveFailed(FormatText(_("%s could not be renamed to %s."), {databaseFile, movedFile})));
    }
    if (!server.CommitTransaction()) {
        const QString reason = server.GetLastError();
        RenameWithoutReplacing(movedFile, databaseFile);
        restoreProfile();
        throw VyrError(MoveFailed(reason));
    }
    return moved;
}

TSiteMoveJob::TSiteMoveJob(TVYRStandProfile profile, QString connection, QObject* parent)
    : QObject(parent), FProfile(std::move(profile)), FConnection(std::move(connection)),
      FMoved(FProfile) {}

TSiteMoveJob::~TSiteMoveJob() {
    if (!FThread)
        return;
    FCalledOff = true;
    FThread->wait();
}

void TSiteMoveJob::Start() {
    if (FThread)
        return;
    FThread.reset(QThread::create([this] {
        try {
            FMoved = MoveSiteToServer(FProfile, FConnection, [this](qint64 done, qint64 total) {
                // Told before the question, so that a call-off either stops this copy or learns
                // that it began (CallOff asks in the opposite order).
                FCopying = true;
                if (FCalledOff)
                    throw TCalledOff{};
                emit Progress(done, total);
            });
        } catch (const TCalledOff&) {
            FError = _("The move was called off.");
        } catch (const std::exception& error) {
            FError = ErrorText(error);
        }
    }));
    FThread->setObjectName("site move");
    connect(FThread.get(), &QThread::finished, this, [this] {
        FEnded = true;
        emit Finished(FError);
    });
    FThread->start();
}

bool TSiteMoveJob::CallOff() {
    FCalledOff = true;
    return !FCopying;
}

void TSiteMoveJob::DeleteWhenFinished() {
    setParent(nullptr);
    if (!FThread || FEnded) {
        deleteLater();
        return;
    }
    disconnect(this, &TSiteMoveJob::Finished, nullptr, nullptr);
    connect(this, &TSiteMoveJob::Finished, this, &QObject::deleteLater);
}
