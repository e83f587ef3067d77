#include "profiles/sitemove.h"

#include "controllers/pendingchanges.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/serverconnection.h"
#include "shared/errors.h"
#include "shared/ini.h"
#include "shared/safefile.h"
#include "shared/translation.h"

#include <QFile>
#include <QFileInfo>

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
    // With their stamps: a cleared mark (a negative stamp) must not arrive as an active one.
    {"PendingChanges", {"ConID", "Stamp"}, {"ConID", "Stamp"}},
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
    // The entries come with the numbers and times they were given; what the server vouches for
    // starts with the first entry written there. Only the owner, who moves the site, may do this,
    // and it holds for this transaction alone should the move fail.
    const auto journalFacts = [&](const char* state) {
        if (server.ExecuteCounted(TMyStatement(
                QStringLiteral("ALTER TABLE Journal %1 TRIGGER vyr_journal_facts").arg(state))) < 0)
            throw VyrError(MoveFailed(server.GetLastError()));
    };
    journalFacts("DISABLE");
    qint64 done = 0;
    for (size_t i = 0; i < tables.size(); ++i)
        CopyTable(CopiedTables[i], *tables[i], server, done, total, progress);
    journalFacts("ENABLE");
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

// The marker's keys.
const QString MarkerSection = QStringLiteral("move");
const QString MarkerServer = QStringLiteral("connection");
const QString MarkerFile = QStringLiteral("database");

void RemoveMarker(const QString& marker) {
    QFile::remove(marker);
    SyncFolderOf(marker);
}

// The local file out of use, once the profile names the server. False when it is not done; a
// file that is gone already (renamed before a crash) is done.
bool RenameLocalFile(const QString& databaseFile) {
    if (!QFileInfo::exists(databaseFile))
        return true;
    return RenameWithoutReplacing(databaseFile, MovedDatabaseName(databaseFile));
}

// What the operator reads when a step after the commit fails: the site is on the server, and the
// profile's next opening completes the move.
QString MoveNotCompleted(const QString& reason) {
    return FormatText(_("The site was copied to the server, but the move could not be completed: "
                        "%s\n\nThe next opening of the profile completes it."),
                      {reason});
}

// The steps after the commit. Throws VyrError when the profile cannot be rewritten; the marker
// then stays for the next try.
TVYRStandProfile FinishMove(const TVYRStandProfile& profile, const QString& connection,
                            const QString& databaseFile, const QString& marker,
                            TSiteMoveSteps* steps) {
    TVYRStandProfile moved = profile;
    moved.DBFileName.clear();
    moved.ServerConnection = connection;
    if (steps)
        steps->Reached(TSiteMoveStep::ProfileRewrite);
    moved.SaveToINI(moved.ProfileFileName);
    if (steps)
        steps->Reached(TSiteMoveStep::Rename);
    // A file that cannot be renamed keeps the marker, so that a later opening tries again; the
    // site is on the server either way.
    if (!RenameLocalFile(databaseFile))
        return moved;
    if (steps)
        steps->Reached(TSiteMoveStep::MarkerRemoval);
    RemoveMarker(marker);
    return moved;
}

} // namespace

QString MovedDatabaseName(const QString& databaseFile) {
    return databaseFile + ".moved-to-server";
}

QString SiteMoveMarkerName(const QString& profileFile) {
    return profileFile + ".moving";
}

TVYRStandProfile SettleInterruptedMove(const TVYRStandProfile& profile) {
    const QString marker = SiteMoveMarkerName(profile.ProfileFileName);
    if (!QFileInfo::exists(marker))
        return profile;
    const IniFile ini(marker);
    const QString connection = ini.ReadString(MarkerSection, MarkerServer, QString()).trimmed();
    const QString databaseFile = ini.ReadString(MarkerSection, MarkerFile, QString());
    if (!profile.ServerConnection.trimmed().isEmpty()) {
        // The profile was rewritten after the commit: only the rename may be left.
        if (!databaseFile.isEmpty() && RenameLocalFile(databaseFile))
            RemoveMarker(marker);
        return profile;
    }
    if (connection.isEmpty() || databaseFile != ResolveDatabasePath(profile.DBFileName)) {
        // Not a move of the file this profile names: there is nothing to settle.
        RemoveMarker(marker);
        return profile;
    }
    // The server's commit decides: the moved site is there whole, or nothing of it is. The
    // database was empty when the move began, so a site in it is the moved one.
    const TServerDatabaseInfo info = InspectServerDatabase(connection);
    if (!info.Ok)
        throw VyrError(FormatText(
            _("The site of this profile was being moved to a server when the program stopped, "
              "and the server cannot be asked whether the move went through: %s\n\nNothing was "
              "opened. Open the profile again once the server can be reached."),
            {info.Error}));
    if (info.Kind != TServerDatabaseKind::Site) {
        // No commit came: the site stays in its file.
        RemoveMarker(marker);
        return profile;
    }
    try {
        return FinishMove(profile, connection, databaseFile, marker, nullptr);
    } catch (const VyrError& error) {
        throw VyrError(MoveNotCompleted(error.Message()));
    }
}

TVYRStandProfile MoveSiteToServer(const TVYRStandProfile& given, const QString& connection,
                                  const TSiteMoveProgress& progress, TSiteMoveSteps* steps) {
    // A move cut short before is settled first: it may have moved the site already.
    const TVYRStandProfile profile = SettleInterruptedMove(given);
    if (!profile.ServerConnection.trimmed().isEmpty()) {
        // An earlier try at this very move whose outcome was unknown went through: it is done.
        if (given.ServerConnection.trimmed().isEmpty() &&
            profile.ServerConnection.trimmed() == connection.trimmed())
            return profile;
        throw VyrError(_("The profile already uses a database on a server."));
    }
    if (const QString problem = ServerConnectionProblem(connection); !problem.isEmpty())
        throw VyrError(problem);
    const QString databaseFile = ResolveDatabasePath(profile.DBFileName);
    const QString movedFile = MovedDatabaseName(databaseFile);
    const QString marker = SiteMoveMarkerName(profile.ProfileFileName);
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
    // A file that no version with the journal or the stamps has opened yet moves with an empty
    // journal and with its marks as marked.
    if (!AddJournalTable(local) || !AddPendingChangesTable(local))
        throw VyrError(MoveFailed(local.GetLastError()));
    TMyPostgreSQL server;
    server.ConnectionString = connection.trimmed();
    if (!server.ConnectEmptyInTransaction())
        throw VyrError(MoveFailed(server.GetLastError()));
    try {
        CopySite(local, server, progress);
        // Closed before the rename, so that nothing of the file stays in a journal beside it.
        local.Disconnect();
        // Before the commit: from the commit on, a crash must find what to finish.
        IniFile(marker).WriteStrings({{MarkerSection, MarkerServer, connection.trimmed()},
                                      {MarkerSection, MarkerFile, databaseFile}});
    } catch (...) {
        server.RollbackTransaction();
        RemoveMarker(marker);
        throw;
    }
    if (steps)
        steps->Reached(TSiteMoveStep::Commit);
    if (!server.CommitTransaction()) {
        // A commit whose answer was lost may have gone through: the server says which.
        const QString reason = server.GetLastError();
        const bool unknown = CommitOutcomeUnknown(server);
        server.Disconnect();
        TVYRStandProfile settled = profile;
        try {
            settled = SettleInterruptedMove(profile);
        } catch (const VyrError&) {
            throw TSiteMoveUnknown(FormatText(
                _("It is not known whether the site reached the server: %s\n\nThe profile "
                  "still names its local file; its next opening asks the server again and "
                  "finishes or undoes the move."),
                {reason}));
        }
        if (settled.ServerConnection.isEmpty())
            // Known now: the server holds nothing of the site. Its lost answer is no reason.
            throw VyrError(MoveFailed(
                unknown ? _("The connection to the server broke just as the move was being "
                            "committed, and asked again, the server holds nothing of the site.")
                        : reason));
        return settled;
    }
    try {
        return FinishMove(profile, connection.trimmed(), databaseFile, marker, steps);
    } catch (const VyrError& error) {
        throw VyrError(MoveNotCompleted(error.Message()));
    }
}

TSiteMoveJob::TSiteMoveJob(TVYRStandProfile profile, QString connection, QObject* parent)
    // Until the move ends, the profile as given.
    : TSiteMoveJob(std::make_shared<TOutcome>(TOutcome{profile, QString(), false}), profile, connection,
                   parent) {}

TSiteMoveJob::TSiteMoveJob(std::shared_ptr<TOutcome> outcome, TVYRStandProfile profile,
                           QString connection, QObject* parent)
    : TCancellableJob(
          "site move",
          [outcome, profile, connection](const TControl& control) {
              try {
                  outcome->Moved =
                      MoveSiteToServer(profile, connection, [&control](qint64 done, qint64 total) {
                          // The copy has begun: a call-off from here is taken at the next batch.
                          control.BeginWriting();
                          control.Progress(done, total);
                      });
              } catch (const TCalledOff&) {
                  outcome->Error = _("The move was called off.");
              } catch (const TSiteMoveUnknown& error) {
                  outcome->Error = error.Message();
                  outcome->Unknown = true;
              } catch (const std::exception& error) {
                  outcome->Error = ErrorText(error);
              }
          },
          false, parent),
      FOutcome(std::move(outcome)) {
    connect(this, &TCancellableJob::Ended, this, [this] { emit Finished(FOutcome->Error); });
}
