#include "cardholders/cardholdersave.h"
#include "controllers/controllerrecords.h"
#include "db/MyDBConnector.h"
#include "db/MySQLite.h"
#include "db/changewatch.h"
#include "journal/journal.h"

#include "faultproxy.h"
#include "pgcluster.h"
#include "profiledb.h"

#include <QSignalSpy>
#include <QTest>

#include <gmock/gmock.h>

#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const TJournalAuthor Clerk{"clerk", "front-desk"};

// A watch on the session's connection and a second connection to the same site, as another
// workstation (or another copy of the program on the same file) would have.
class ChangeWatch : public EngineProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        ConID = AddController("Door");
        Other = NewConnectorOfKind(Database().GetDBTypeName(), Database().ConnectionString);
        ASSERT_TRUE(Other);
        ASSERT_TRUE(Other->Connect()) << Other->GetLastError().toStdString();
        TChangeWatch& watch = Session->Changes();
        Told = std::make_unique<QSignalSpy>(&watch, &TChangeWatch::Changed);
        // A watch that listens on a connection of its own tells "anything may have changed" once
        // it listens; the cases start after that.
        ASSERT_TRUE(QTest::qWaitFor([&] { return watch.Settled(); }, 10000));
        Told->clear();
    }
    void TearDown() override {
        Told.reset();
        Other.reset();
        ProfileDbTest::TearDown();
    }

public:
    void OtherRuns(const TMyStatement& statement) const {
        EXPECT_TRUE(Other->ExecuteQuery(statement))
            << ::testing::PrintToString(statement) << ": " << Other->GetLastError().toStdString();
    }
    void OtherAddsCardHolder(const QString& number) const {
        OtherRuns({"INSERT INTO CardHolders (CardNumber, CardHolder, CardCustom1, CardCustom2, "
                   "CardCustom3, CardCustom4, CardAdded, CardLastEdit, Deleted) VALUES(?, ?, \"\", "
                   "\"\", \"\", \"\", NOW(), NOW(), ?)",
                   {number, QStringLiteral("Holder ") + number, false}});
    }
    bool WaitForNews() const {
        return QTest::qWaitFor([this] { return !Told->isEmpty(); }, 5000);
    }
    QStringList TablesTold(int index) const { return Told->at(index).at(0).toStringList(); }

    int32_t ConID = 0;
    std::unique_ptr<TMyDBConnector> Other;
    std::unique_ptr<QSignalSpy> Told;
};

TEST_P(ChangeWatch, AnotherConnectionsChangeIsToldAndTheSessionsOwnIsNot) {
    // The session's own save: the window that made it shows it already.
    ASSERT_TRUE(Session->Database().ExecuteQuery(
        {"UPDATE Controllers SET ConName = ? WHERE ConID = ?", {QStringLiteral("Gate"), ConID}}));
    // Several looks of the watch pass; none of them may report the session's own commit.
    QTest::qWait(750);
    EXPECT_THAT(*Told, IsEmpty());

    OtherAddsCardHolder("1111111111");
    ASSERT_TRUE(WaitForNews());
    QTest::qWait(300);
    ASSERT_EQ(Told->size(), 1);
    // The server names the table; a file only says that something changed.
    if (Engine() == TEngine::PostgreSQL)
        EXPECT_THAT(TablesTold(0), ElementsAre("cardholders"));
    else
        EXPECT_THAT(TablesTold(0), IsEmpty());
}

// On a file the burst's commits all land before the watch's next look, which the window's thread
// (busy with the commits) takes after them. On the server the notices travel to the watch's
// listener on a thread of its own, as the server sends them; a proxy in front of the listener
// gathers them and lets them go together, so that the test does not depend on how the machine
// schedules the threads meanwhile.
TEST_P(ChangeWatch, ABurstOfCommitsIsToldOnce) {
    const int burst = 20;
    TChangeWatch* watch = &Session->Changes();
    std::unique_ptr<TFaultProxy> proxy;
    std::unique_ptr<TMyDBConnector> watched;
    std::unique_ptr<TChangeWatch> ownWatch;
    if (Engine() == TEngine::PostgreSQL) {
        proxy = std::make_unique<TFaultProxy>(Cluster().Socket());
        ASSERT_TRUE(proxy->Listening()) << proxy->Error().toStdString();
        watched = NewConnectorOfKind(Database().GetDBTypeName(),
                                     proxy->Through(Database().ConnectionString));
        ASSERT_TRUE(watched && watched->Connect()) << watched->GetLastError().toStdString();
        ownWatch = watched->WatchChanges();
        watch = ownWatch.get();
        // Once it listens it tells that anything may have changed; the burst comes after that.
        QSignalSpy first(watch, &TChangeWatch::Changed);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !first.isEmpty(); }, 30000));
        proxy->SetMode(TFaultProxy::TMode::HoldToClients);
    }
    QSignalSpy told(watch, &TChangeWatch::Changed);
    for (int i = 0; i < burst; ++i)
        OtherAddsCardHolder(QStringLiteral("20000000%1").arg(i, 2, 10, QChar(u'0')));
    if (proxy) {
        ASSERT_TRUE(proxy->WaitForNotices(burst, 30000));
        proxy->SetMode(TFaultProxy::TMode::Pass);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !told.isEmpty(); }, 30000));
    ASSERT_EQ(told.size(), 1);
    if (Engine() == TEngine::PostgreSQL) {
        EXPECT_THAT(told.first().at(0).toStringList(), ElementsAre("cardholders"));
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ChangeWatch, ::testing::ValuesIn(BothEngines), EngineCaseName);

// Counts the locks that SQLite is refused on the files it opens while this is installed (as the
// default file system of the library), and tells the test of each refusal: a connection that
// waits for a lock asks again after a refusal, one that gives up does not.
class TLockRefusals {
public:
    TLockRefusals() {
        FBase = sqlite3_vfs_find(nullptr);
        FVfs = *FBase;
        FVfs.zName = "vyr-lock-refusals";
        FVfs.szOsFile = int(sizeof(TFile)) + FBase->szOsFile;
        FVfs.pNext = nullptr;
        FVfs.xOpen = &Open;
        Self() = this;
        sqlite3_vfs_register(&FVfs, 1);
    }
    ~TLockRefusals() {
        sqlite3_vfs_unregister(&FVfs);
        sqlite3_vfs_register(FBase, 1);
        Self() = nullptr;
    }
    TLockRefusals(const TLockRefusals&) = delete;
    TLockRefusals& operator=(const TLockRefusals&) = delete;

    int Count() const {
        std::lock_guard lock(FLock);
        return FRefused;
    }
    bool WaitFor(int count, int milliseconds) const {
        std::unique_lock lock(FLock);
        return FChanged.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return FRefused >= count; });
    }

private:
    // Our file, with the real one behind it in the same block.
    struct TFile {
        sqlite3_file Head;
        sqlite3_file* Real;
        sqlite3_io_methods Methods;
    };
    static TLockRefusals*& Self() {
        static TLockRefusals* self = nullptr;
        return self;
    }
    static sqlite3_file* Real(sqlite3_file* file) { return reinterpret_cast<TFile*>(file)->Real; }

    static int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                    int* outFlags) {
        auto* own = reinterpret_cast<TFile*>(file);
        own->Real = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(file) + sizeof(TFile));
        const int result = Self()->FBase->xOpen(Self()->FBase, name, own->Real, flags, outFlags);
        if (!own->Real->pMethods) {
            file->pMethods = nullptr;
            return result;
        }
        // Everything as the real file does it; the lock is counted on the way back.
        own->Methods = *own->Real->pMethods;
        own->Methods.xClose = [](sqlite3_file* f) { return Real(f)->pMethods->xClose(Real(f)); };
        own->Methods.xRead = [](sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
            return Real(f)->pMethods->xRead(Real(f), data, amount, offset);
        };
        own->Methods.xWrite = [](sqlite3_file* f, const void* data, int amount,
                                 sqlite3_int64 offset) {
            return Real(f)->pMethods->xWrite(Real(f), data, amount, offset);
        };
        own->Methods.xTruncate = [](sqlite3_file* f, sqlite3_int64 size) {
            return Real(f)->pMethods->xTruncate(Real(f), size);
        };
        own->Methods.xSync = [](sqlite3_file* f, int how) {
            return Real(f)->pMethods->xSync(Real(f), how);
        };
        own->Methods.xFileSize = [](sqlite3_file* f, sqlite3_int64* size) {
            return Real(f)->pMethods->xFileSize(Real(f), size);
        };
        own->Methods.xLock = [](sqlite3_file* f, int level) {
            const int locked = Real(f)->pMethods->xLock(Real(f), level);
            if (locked == SQLITE_BUSY) {
                TLockRefusals& self = *Self();
                std::lock_guard lock(self.FLock);
                ++self.FRefused;
                self.FChanged.notify_all();
            }
            return locked;
        };
        own->Methods.xUnlock = [](sqlite3_file* f, int level) {
            return Real(f)->pMethods->xUnlock(Real(f), level);
        };
        own->Methods.xCheckReservedLock = [](sqlite3_file* f, int* out) {
            return Real(f)->pMethods->xCheckReservedLock(Real(f), out);
        };
        own->Methods.xFileControl = [](sqlite3_file* f, int op, void* arg) {
            return Real(f)->pMethods->xFileControl(Real(f), op, arg);
        };
        own->Methods.xSectorSize = [](sqlite3_file* f) {
            return Real(f)->pMethods->xSectorSize(Real(f));
        };
        own->Methods.xDeviceCharacteristics = [](sqlite3_file* f) {
            return Real(f)->pMethods->xDeviceCharacteristics(Real(f));
        };
        if (own->Methods.iVersion >= 2) {
            own->Methods.xShmMap = [](sqlite3_file* f, int page, int size, int extend,
                                      void volatile** out) {
                return Real(f)->pMethods->xShmMap(Real(f), page, size, extend, out);
            };
            own->Methods.xShmLock = [](sqlite3_file* f, int offset, int n, int flags) {
                return Real(f)->pMethods->xShmLock(Real(f), offset, n, flags);
            };
            own->Methods.xShmBarrier = [](sqlite3_file* f) {
                Real(f)->pMethods->xShmBarrier(Real(f));
            };
            own->Methods.xShmUnmap = [](sqlite3_file* f, int remove) {
                return Real(f)->pMethods->xShmUnmap(Real(f), remove);
            };
        }
        if (own->Methods.iVersion >= 3) {
            own->Methods.xFetch = [](sqlite3_file* f, sqlite3_int64 offset, int amount,
                                     void** out) {
                return Real(f)->pMethods->xFetch(Real(f), offset, amount, out);
            };
            own->Methods.xUnfetch = [](sqlite3_file* f, sqlite3_int64 offset, void* page) {
                return Real(f)->pMethods->xUnfetch(Real(f), offset, page);
            };
        }
        file->pMethods = &own->Methods;
        return result;
    }

    sqlite3_vfs* FBase = nullptr;
    sqlite3_vfs FVfs{};
    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    int FRefused = 0;
};

// The file's watch looks on the window's thread. Another copy of the program holding the file for
// its commit makes a look give up at once: one that waited for the lock would ask again and get it
// once the other copy let go, which it does as soon as the look was first refused.
TEST_F(ProfileDbTest, ALookAtTheFileWhileAnotherCopyCommitsGivesUpInsteadOfWaiting) {
    const TLockRefusals refusals;
    TMySQLite file;
    file.ConnectionString = JetConnectionString(DatabaseFile);
    ASSERT_TRUE(file.Connect()) << file.GetLastError().toStdString();
    qint64 before = 0;
    ASSERT_TRUE(file.DataVersion(before));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(DatabaseFile.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE; INSERT INTO PendingChanges (ConID) VALUES (99)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const int refusedBefore = refusals.Count();
    std::thread commit([&] {
        refusals.WaitFor(refusedBefore + 1, 30000);
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    qint64 during = 0;
    const bool looked = file.DataVersion(during);
    commit.join();
    sqlite3_close(other);
    EXPECT_FALSE(looked);
    EXPECT_EQ(refusals.Count(), refusedBefore + 1) << "refused once, it did not ask again";
    qint64 after = 0;
    ASSERT_TRUE(file.DataVersion(after));
    EXPECT_NE(after, before);
}

// On the server the notice is part of the changing transaction: what is rolled back tells no one,
// and what commits names the tables it changed. Each case ends with a mark stored by a lone
// statement; the notices of one connection arrive in the order of its commits, so once the mark's
// table was told, everything before it was told too.
class ServerNotices : public ChangeWatch {
public:
    void AddZone(int zone) const {
        OtherRuns({"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
                   {ConID, QStringLiteral("3333333333"), zone}});
    }
    void Rename(const QString& name) const {
        OtherRuns({"UPDATE Controllers SET ConName = ? WHERE ConID = ?", {name, ConID}});
    }
};

struct TNoticeCase {
    const char* Name;
    std::function<void(const ServerNotices&, TMyDBConnector&)> Change;
    QStringList Tables; // told besides the mark's table, in order
};

TEST_P(ServerNotices, NameTheTablesOfCommittedChangesOnly) {
    const TNoticeCase cases[] = {
        {"a lone statement",
         [](const ServerNotices& test, TMyDBConnector&) { test.OtherAddsCardHolder("1000000001"); },
         {"cardholders"}},
        {"a transaction over two tables",
         [](const ServerNotices& test, TMyDBConnector& other) {
             TTransaction transaction(other);
             test.AddZone(1);
             test.Rename("Gate");
             EXPECT_TRUE(transaction.Commit());
         },
         {"cardzones", "controllers"}},
        {"a rolled-back transaction",
         [](const ServerNotices& test, TMyDBConnector& other) {
             TTransaction transaction(other);
             test.OtherAddsCardHolder("1000000002");
             test.Rename("Yard");
         },
         {}},
        {"a statement that changed no row",
         [](const ServerNotices&, TMyDBConnector& other) {
             EXPECT_EQ(other.ExecuteCounted({"UPDATE Controllers SET ConName = ? WHERE ConID = ?",
                                             {QStringLiteral("None"), -1}}),
                       0);
         },
         {}},
        {"a statement that went with the commit",
         [](const ServerNotices& test, TMyDBConnector& other) {
             TTransaction transaction(other);
             test.Rename("Porch");
             EXPECT_TRUE(other.ExecuteWithTransaction(
                 {"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
                  {test.ConID, QStringLiteral("4444444444"), 1}}));
             EXPECT_TRUE(transaction.Commit());
         },
         {"cardzones", "controllers"}},
        {"a statement that failed with the commit",
         [](const ServerNotices& test, TMyDBConnector& other) {
             TTransaction transaction(other);
             test.Rename("Shed");
             // The card has a zone at the controller already.
             EXPECT_TRUE(other.ExecuteWithTransaction(
                 {"INSERT INTO CardZones (ConID, CardNumber, ZoneID) VALUES(?, ?, ?)",
                  {test.ConID, QStringLiteral("4444444444"), 2}}));
             EXPECT_FALSE(transaction.Commit());
         },
         {}},
        {"bulk work",
         [](const ServerNotices& test, TMyDBConnector& other) {
             TBulkWork bulk(&other);
             for (int i = 0; i < 5; ++i)
                 test.OtherAddsCardHolder(QStringLiteral("100000010%1").arg(i));
         },
         {"cardholders"}},
    };
    int mark = 1000;
    for (const TNoticeCase& test : cases) {
        SCOPED_TRACE(test.Name);
        Told->clear();
        test.Change(*this, *Other);
        OtherRuns({"INSERT INTO PendingChanges (ConID) VALUES(?)", {++mark}});
        QStringList told;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (const QList<QVariant>& news : std::as_const(*Told))
                    told << news.at(0).toStringList();
                Told->clear();
                return told.contains("pendingchanges");
            },
            5000));
        told.removeAll("pendingchanges");
        told.removeDuplicates();
        told.sort();
        EXPECT_EQ(told, test.Tables);
    }
}

// Another workstation's list reads again only the cards a notice names, so a notice must name
// every card whose rows its transaction changed, through the program's own saves, and say so when
// it cannot.
TEST_P(ServerNotices, NameTheCardsOfTheirChangesOrSayThatAnyMayHaveChanged) {
    // What the notices of `change` told, up to the one of a mark stored after it.
    int mark = 2000;
    const auto told = [&](const std::function<void()>& change) {
        Told->clear();
        change();
        OtherRuns({"INSERT INTO PendingChanges (ConID) VALUES(?)", {++mark}});
        TChangedCards cards = TChangedCards::None();
        bool marked = false;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                for (const QList<QVariant>& news : std::as_const(*Told)) {
                    marked = marked || news.at(0).toStringList().contains("pendingchanges");
                    cards.Add(news.at(1).value<TChangedCards>());
                }
                Told->clear();
                return marked;
            },
            5000));
        return cards;
    };
    told([&] {
        OtherAddsCardHolder("1000000001");
        OtherAddsCardHolder("1000000002");
    });
    const struct {
        const char* what;
        std::function<void(TMyDBConnector&, int32_t)> change;
        TChangedCards cards;
    } cases[] = {
        {"a zone click",
         [](TMyDBConnector& other, int32_t conId) {
             EXPECT_EQ(CycleCardZone(other, "1000000001", conId, Clerk), 1);
         },
         {true, {"1000000001"}}},
        {"a replacement",
         [](TMyDBConnector& other, int32_t) {
             const TCardHolder loaded = *LoadCardHolder(other, "1000000002");
             TCardHolder record = loaded;
             record.CardNumber = "10000000AB";
             TControllerRecords records;
             EXPECT_EQ(SaveEditedCardHolder(other, record, loaded, records, Clerk).Outcome,
                       TCardHolderSave::Saved);
         },
         {true, {"1000000002", "10000000AB"}}},
        {"a delete",
         [](TMyDBConnector& other, int32_t) {
             TControllerRecords records;
             EXPECT_EQ(DeleteCardHolderAndZones(other, *LoadCardHolder(other, "1000000001"),
                                                records, Clerk),
                       TCardHolderDelete::Deleted);
         },
         {true, {"1000000001"}}},
        {"a controller's zones going with it",
         [](TMyDBConnector& other, int32_t conId) {
             EXPECT_EQ(CycleCardZone(other, "10000000AB", conId, Clerk), 1);
             EXPECT_EQ(DeleteController(other, conId, Clerk), TControllerDelete::Deleted);
         },
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TChangedCards cards = told([&] { c.change(*Other, ConID); });
        EXPECT_EQ(cards.Known, c.cards.Known);
        EXPECT_EQ(cards.Numbers, c.cards.Numbers);
    }
}

INSTANTIATE_TEST_SUITE_P(Server, ServerNotices, ::testing::Values(TEngine::PostgreSQL),
                         EngineCaseName);

} // namespace
