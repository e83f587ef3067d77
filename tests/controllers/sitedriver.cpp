// A second program on one site, for the tests of shared sites: it opens the site's database as the
// program does and works on it through the program's own save units, nothing written by hand.
//
//   vyr-sitedriver sqlite|server SITE SEED OPERATIONS
//
// SITE is the database file, or the connection text of a server database. It runs OPERATIONS
// operations drawn from SEED: cardholders added (perhaps replacing the one named, once the operator
// agreed), replaced (a new card) and deleted from a list, zone clicks, controllers added (perhaps
// granted to all), edited and deleted, and key writes. A key write reads the key's contents, lets
// up to two other operations happen while the key would be written, then clears the mark as a
// verified write does; every verified write leaves the contents it wrote in the table KeyWrites
// (ConID, Image: KeyWriteText), which the test made. Exit status 0 when every operation ended in
// one of its expected outcomes, 1 when one failed (the reason on standard error), 2 without a
// database. An operation whose connection to the server broke has an unknown outcome: it is counted
// as such, and the driver goes on, as the operator would once the program said so.
//
// Its changes are journaled as made by operator "driver SEED" on workstation "sitedriver". On
// standard output it says "ready" once connected; at the end it tells how many operations were
// refused because the file was locked, how many of each kind went through (SiteDriverTally) and
// how many had an unknown outcome, and then, one line each ("chose", card, name, tab-separated),
// every cardholder it chose to delete or to replace, so the test can hold them against the
// journal.

#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "controllers/keysource.h"
#include "controllers/pendingchanges.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "journal/journal.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <utility>

#include "sitedriver.h"

namespace {

class TDriver {
public:
    TDriver(TMyDBConnector& database, quint32 seed)
        : FDatabase(database), FRandom(seed), FAuthor{QStringLiteral("driver %1").arg(seed),
                                                      QStringLiteral("sitedriver")} {}

    bool Run(int operations) {
        FSession = SessionId();
        for (int i = 0; i < operations; ++i)
            if (!Step())
                return false;
        return true;
    }

private:
    QString AnyCard() { return SiteDriverCard(int(FRandom.bounded(SiteDriverCards))); }

    int ControllerCount() {
        const std::unique_ptr<TMyResultSet> rows =
            FDatabase.Query("SELECT COUNT(*) FROM Controllers");
        return rows && rows->RecordCount() == 1 ? rows->Fields(0).AsInteger() : -1;
    }

    std::optional<int32_t> AnyController() {
        const std::unique_ptr<TMyResultSet> rows =
            FDatabase.Query("SELECT ConID FROM Controllers ORDER BY ConID");
        if (!rows || rows->RecordCount() == 0)
            return std::nullopt;
        rows->First();
        for (int skip = int(FRandom.bounded(rows->RecordCount())); skip > 0; --skip)
            rows->Next();
        return rows->Fields(0).AsInteger();
    }

    // A file's writers take turns; one that found the file locked for longer than the busy
    // timeout refused its operation and changed nothing, as the operator would be told. That is
    // counted, not failed: the run is about what the database holds afterwards.
    //
    // A connection that broke leaves the operation's outcome unknown (`unknown` counts it): the
    // run goes on, and the test accepts either outcome of it.
    bool Fail(const char* what, int* unknown = nullptr) {
        const QString error = FDatabase.GetLastError();
        if (error.contains(QLatin1String("database is locked"))) {
            ++Locked;
            return true;
        }
        if (const auto* server = dynamic_cast<const TMyPostgreSQL*>(&FDatabase);
            server && server->GetLastSqlState().startsWith(QLatin1String("08"))) {
            if (unknown)
                ++*unknown;
            return true;
        }
        std::fprintf(stderr, "%s failed: %s\n", what, qPrintable(error));
        return false;
    }

    // The server's session of the connection; another one after the connector made a new one
    // because the old one broke. 0 on a file, -1 when the server did not answer.
    qint64 SessionId() {
        if (!dynamic_cast<const TMyPostgreSQL*>(&FDatabase))
            return 0;
        const std::unique_ptr<TMyResultSet> rows = FDatabase.Query("SELECT pg_backend_pid()");
        return rows && rows->RecordCount() == 1 ? rows->Fields(0).AsInteger() : -1;
    }
    // The end of an operation that did not go through. Its answer is no proof when the connection
    // broke meanwhile: the change may have been stored before the answer was lost, and the program
    // may then have found its own change in the way (a card "taken" by the holder just saved). So
    // its outcome is unknown then; otherwise the answer must be one `expected` of it.
    // The session is asked only then: a new one since the last such answer, even one made by a
    // read that broke earlier, makes the outcome unknown, which is never wrong.
    bool NotDone(bool expected, const char* what, int* unknown) {
        const qint64 session = std::exchange(FSession, SessionId());
        // A session that cannot say which it is has lost its connection (inside a transaction it
        // stays lost until the transaction ends).
        if (session != FSession || FSession < 0) {
            ++*unknown;
            return true;
        }
        return expected || Fail(what, unknown);
    }

    void Chose(const QString& card, const QString& holder) {
        Chosen << QStringLiteral("chose\t%1\t%2").arg(card, holder);
    }

public:
    int Locked = 0;
    TSiteDriverTally Done;
    TSiteDriverTally Unknown;
    QStringList Chosen;

private:
    bool Step() {
        switch (FRandom.bounded(11)) {
        case 0: { // a new cardholder, perhaps replacing a live one
            TCardHolder record;
            record.CardNumber = AnyCard();
            record.CardHolder = QStringLiteral("Holder %1").arg(FRandom.bounded(1000));
            TCardHolderSave saved =
                SaveNewCardHolder(FDatabase, record, std::nullopt, FRecords, FAuthor);
            // The operator agrees to replace the cardholder named, perhaps after a while.
            if (saved.Outcome == TCardHolderSave::NumberTaken && FRandom.bounded(2) == 1) {
                if (FRandom.bounded(3) == 0 && !Step())
                    return false;
                Chose(record.CardNumber, saved.Taken.CardHolder);
                saved = SaveNewCardHolder(FDatabase, record, saved.Taken, FRecords, FAuthor);
            }
            const auto outcome = saved.Outcome;
            Done.Added += outcome == TCardHolderSave::Saved;
            return outcome == TCardHolderSave::Saved ||
                   NotDone(outcome == TCardHolderSave::NumberTaken ||
                               outcome == TCardHolderSave::HolderChanged,
                           "add", &Unknown.Added);
        }
        case 1: { // a card replaced, or a name changed, in the cardholder dialog
            const std::optional<TCardHolder> loaded = LoadCardHolder(FDatabase, AnyCard());
            if (!loaded)
                return true;
            TCardHolder record = *loaded;
            const bool replacing = FRandom.bounded(2) == 1;
            if (replacing)
                record.CardNumber = AnyCard();
            else
                record.CardHolder += QStringLiteral("'");
            if (FRandom.bounded(3) == 0)
                Step(); // the dialog stays open a while
            const auto outcome =
                SaveEditedCardHolder(FDatabase, record, *loaded, FRecords, FAuthor).Outcome;
            if (outcome == TCardHolderSave::Saved) {
                // The same card drawn again is a save that changes nothing.
                if (!replacing)
                    ++Done.Edited;
                else if (!SameCardNumber(record.CardNumber, loaded->CardNumber))
                    ++Done.Replaced;
            }
            return outcome == TCardHolderSave::Saved ||
                   NotDone(outcome == TCardHolderSave::NumberTaken ||
                               outcome == TCardHolderSave::ChangedElsewhere ||
                               outcome == TCardHolderSave::Gone,
                           "replace", replacing ? &Unknown.Replaced : &Unknown.Edited);
        }
        case 2: { // a cardholder the list shows deleted, perhaps after a while
            const std::optional<TCardHolder> listed = LoadCardHolder(FDatabase, AnyCard());
            if (!listed)
                return true;
            if (FRandom.bounded(3) == 0 && !Step())
                return false;
            Chose(listed->CardNumber, listed->CardHolder);
            const TCardHolderDelete deleted =
                DeleteCardHolderAndZones(FDatabase, *listed, FRecords, FAuthor);
            Done.Deleted += deleted == TCardHolderDelete::Deleted;
            return deleted == TCardHolderDelete::Deleted ||
                   NotDone(deleted != TCardHolderDelete::Failed, "delete", &Unknown.Deleted);
        }
        case 3:
        case 4: {
            const std::optional<int32_t> conId = AnyController();
            if (!conId)
                return true;
            const int zone = CycleCardZone(FDatabase, AnyCard(), *conId, FAuthor);
            Done.ZoneClicks += zone >= 0;
            return zone >= 0 || NotDone(zone != ZoneFailed, "zone click", &Unknown.ZoneClicks);
        }
        case 5: { // the controller dialog: a new code or new options, or only a new name
            const std::optional<int32_t> conId = AnyController();
            TStandController record;
            record.ConID = conId.value_or(0);
            if (!conId || !ReloadController(FDatabase, record))
                return true;
            TControllerInput input{record.ConName, record.ConCode, record.ConByte1,
                                   record.ConByte2};
            switch (FRandom.bounded(3)) {
            case 0:
                input.ConCode =
                    QStringLiteral("%1").arg(FRandom.bounded(0x1000000), 6, 16, QLatin1Char('0'));
                break;
            case 1:
                input.ConByte1 = uint8_t(FRandom.bounded(256));
                break;
            default:
                input.ConName += QStringLiteral("+");
            }
            if (FRandom.bounded(3) == 0)
                Step();
            const TStandController before = record;
            const TControllerSaved saved = UpdateController(FDatabase, record, input, FAuthor);
            // A new code or byte drawn may be the one it had: such a save changes nothing.
            if (saved.Saved &&
                (before.ConName != input.ConName || before.ConCode != input.ConCode ||
                 before.ConByte1 != input.ConByte1 || before.ConByte2 != input.ConByte2))
                ++Done.ControllerEdits;
            return saved.Saved || NotDone(saved.Conflict != TControllerSaved::None, "controller",
                                          &Unknown.ControllerEdits);
        }
        case 6: { // a new controller, perhaps granted to every cardholder; a few at most
            const int count = ControllerCount();
            if (count < 0 || count >= 8)
                return count >= 0 || Fail("controller count");
            const TControllerInput input{QStringLiteral("New %1").arg(FRandom.bounded(1000)),
                                         QStringLiteral("A1B2C3"), 2, 4};
            const TControllerSaved added =
                AddController(FDatabase, input, int(FRandom.bounded(3)), FAuthor);
            Done.ControllersAdded += added.Saved;
            return added.Saved || NotDone(false, "add controller", &Unknown.ControllersAdded);
        }
        case 7: { // a controller deleted from the list; a few are always left
            const int count = ControllerCount();
            const std::optional<int32_t> conId = AnyController();
            if (count <= 3 || !conId)
                return count >= 0 || Fail("controller count");
            const TControllerDelete deleted = DeleteController(FDatabase, *conId, FAuthor);
            Done.ControllersDeleted += deleted == TControllerDelete::Deleted;
            return deleted == TControllerDelete::Deleted ||
                   NotDone(deleted != TControllerDelete::Failed, "delete controller",
                           &Unknown.ControllersDeleted);
        }
        default:
            return WriteKey();
        }
    }

    bool WriteKey() {
        const std::optional<int32_t> conId = AnyController();
        if (!conId)
            return true;
        const TKeyImageSource source = ReadKeyImageSource(FDatabase, *conId);
        if (source.Outcome == TKeyImageSource::Gone)
            return true;
        if (source.Outcome != TKeyImageSource::Read)
            return NotDone(false, "key contents", &Unknown.KeyWrites);
        // The key is being written: other work goes on meanwhile.
        for (int between = int(FRandom.bounded(3)); between > 0; --between)
            if (!Step())
                return false;
        // The record of what the key holds goes with the clear, so the last verified write of a
        // controller is also the last record of one.
        TTransaction transaction(FDatabase);
        if (!transaction.Started())
            return NotDone(false, "key write", &Unknown.KeyWrites);
        const TMarkClear cleared = ClearMarkAfterWrite(
            FDatabase, *conId, source.Mark,
            KeyWrittenEntry(*conId, QString(), source.Input, BuildKeyImage(source.Input)), FAuthor);
        if (cleared == TMarkClear::Failed ||
            FDatabase.ExecuteCounted(
                {"INSERT INTO KeyWrites (ConID, Image) VALUES(?, ?) ON CONFLICT (ConID) DO UPDATE "
                 "SET Image = excluded.Image",
                 {*conId, KeyWriteText(source.Input)}}) != 1 ||
            !transaction.Commit())
            return NotDone(false, "key write", &Unknown.KeyWrites);
        ++Done.KeyWrites;
        return true;
    }

    TMyDBConnector& FDatabase;
    QRandomGenerator FRandom;
    TControllerRecords FRecords; // none: the lists of this program are not open
    qint64 FSession = 0;         // see NotDone
    const TJournalAuthor FAuthor;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 5) {
        std::fprintf(stderr, "usage: vyr-sitedriver sqlite|server SITE SEED OPERATIONS\n");
        return 2;
    }
    std::unique_ptr<TMyDBConnector> database;
    if (arguments[1] == QLatin1String("server")) {
        database = std::make_unique<TMyPostgreSQL>();
        database->ConnectionString = arguments[2];
    } else {
        database = std::make_unique<TMySQLite>();
        database->ConnectionString = JetConnectionString(arguments[2]);
    }
    if (!database->Connect()) {
        std::fprintf(stderr, "no database: %s\n", qPrintable(database->GetLastError()));
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    TDriver driver(*database, arguments[3].toUInt());
    const bool done = driver.Run(arguments[4].toInt());
    std::printf("refused while the file was locked: %d\n%s\n%s\n", driver.Locked,
                qPrintable(driver.Done.Text()), qPrintable(driver.Unknown.Text("unknown")));
    for (const QString& chosen : driver.Chosen)
        std::printf("%s\n", qPrintable(chosen));
    database->Disconnect();
    return done ? 0 : 1;
}
