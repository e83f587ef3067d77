#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profilecreation.h"
#include "profiles/profilecreationjob.h"
#include "shared/datadir.h"
#include "shared/errors.h"

#include "legacyfiles.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTest>
#include <QThread>

namespace {

class ProfileCreationTest : public HomeTest {
protected:
    QString Template() const { return ProgramDirectory() + "/default.accdb"; }
    QString Data() const { return DataDirectory() + "/data/"; }
    QString Profiles() const { return DataDirectory() + "/profiles/"; }
    // Lock files included: none may stay.
    QStringList DataFiles() const { return QDir(Data()).entryList(QDir::Files | QDir::Hidden); }
};

TEST_F(ProfileCreationTest, MakesTheDatabaseThenTheProfileThatNamesIt) {
    const TProfilePaths paths = CreateProfile({"Hal 2", Template(), nullptr, {}}, Desktop);
    EXPECT_EQ(paths.ProfileFile, Profiles() + "hal2.ini");
    EXPECT_EQ(paths.DatabaseFile, Data() + "hal2.accdb");
    TVYRStandProfile profile(paths.ProfileFile);
    ASSERT_TRUE(profile.LoadINI());
    EXPECT_EQ(profile.ProfileName, "Hal 2");
    EXPECT_EQ(ResolveDatabasePath(profile.DBFileName), paths.DatabaseFile);
    EXPECT_EQ(ReadWholeFile(paths.DatabaseFile), ReadWholeFile(Template()));
    EXPECT_EQ(DataFiles(), QStringList{"hal2.accdb"}) << "no temporary stays";
}

// Whatever fails after the database was copied, nothing this creation made stays: not the
// temporary, not the database under its name, and a profile file made meanwhile by another copy
// of the program is left as that copy wrote it.
TEST_F(ProfileCreationTest, AFailureLeavesNothingThisCreationMade) {
    const struct {
        const char* what;
        std::function<void(const QString& temporary)> fill;
        const char* message;
    } cases[] = {
        {"the import fails", [](const QString&) { throw VyrError("Error reading autonoom.bst"); },
         "Error reading autonoom.bst"},
        {"another copy made the profile meanwhile",
         [this](const QString&) {
             WriteTextFile(Profiles() + "site.ini", "[profile]\nname=Theirs\n");
         },
         "A profile file of this name already exists"},
        {"another copy made the database meanwhile",
         [this](const QString&) { WriteTextFile(Data() + "site.accdb", "theirs"); },
         "A database file of this name already exists"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(DataDirectory()).removeRecursively();
        try {
            CreateProfile({"Site", Template(), c.fill, {}}, Desktop);
            ADD_FAILURE() << "the creation must fail";
        } catch (const VyrError& error) {
            EXPECT_TRUE(error.Message().contains(c.message)) << error.Message().toStdString();
        }
        const QByteArray theirs = ReadWholeFile(Data() + "site.accdb");
        EXPECT_TRUE(theirs.isEmpty() || theirs == "theirs");
        EXPECT_EQ(DataFiles(), theirs.isEmpty() ? QStringList() : QStringList{"site.accdb"});
        const QByteArray profile = ReadWholeFile(Profiles() + "site.ini");
        EXPECT_TRUE(profile.isEmpty() || profile == "[profile]\nname=Theirs\n");
    }
}

// A leftover database makes way for the new one: for Replace it goes to the trash, an empty one
// that is used steps aside for the import into its copy. When the profile file then cannot be
// made, the leftover is back under its name as it was, and nothing of it stays in the trash.
TEST_F(ProfileCreationTest, ALeftoverThatMadeWayIsBackWhenTheCreationFails) {
    const struct {
        const char* what;
        TLeftoverDatabase leftover;
        QStringList make;
    } modes[] = {
        {"replaced",
         TLeftoverDatabase::Replace,
         {"INSERT INTO Controllers (ConName) VALUES ('kept')"}},
        {"empty, used", TLeftoverDatabase::Use, {"CREATE TABLE Leftover (x)"}},
    };
    const struct {
        const char* what;
        std::function<void()> meanwhile;
        const char* message;
        QStringList left;
    } failures[] = {
        {"another copy made the profile",
         [this] { WriteTextFile(Profiles() + "site.ini", "[profile]\nname=Theirs\n"); },
         "A profile file of this name already exists",
         {"data/site.accdb", "profiles/site.ini"}},
        {"the profile file cannot be written",
         [this] {
             QDir(Profiles()).removeRecursively();
             WriteTextFile(DataDirectory() + "/profiles", "not a folder");
         },
         "Unable to write to",
         {"data/site.accdb"}},
    };
    for (const auto& mode : modes) {
        for (const auto& failure : failures) {
            SCOPED_TRACE(std::string(mode.what) + ", " + failure.what);
            QDir(DataDirectory()).removeRecursively();
            QDir().mkpath(Data());
            QDir().mkpath(Profiles());
            ASSERT_EQ(MakeDatabase(Data() + "site.accdb", mode.make), QString());
            const QByteArray before = ReadWholeFile(Data() + "site.accdb");
            const qsizetype putBack = Desktop.Calls(TFakeDesktop::TService::PutBack).size();
            bool filled = false;
            TProfileCreation creation{"Site", Template(), [&](const QString&) {
                                          filled = true;
                                          failure.meanwhile();
                                      }};
            creation.Leftover = mode.leftover;
            try {
                CreateProfile(creation, Desktop);
                ADD_FAILURE() << "the creation must fail";
            } catch (const VyrError& error) {
                EXPECT_TRUE(error.Message().contains(failure.message))
                    << error.Message().toStdString();
            }
            EXPECT_TRUE(filled);
            EXPECT_EQ(ReadWholeFile(Data() + "site.accdb"), before);
            EXPECT_EQ(Desktop.Trashed(), QStringList());
            // A replaced leftover came back through the trash, which forgets it.
            EXPECT_EQ(Desktop.Calls(TFakeDesktop::TService::PutBack).size() - putBack,
                      mode.leftover == TLeftoverDatabase::Replace ? 1 : 0);
            EXPECT_EQ(DataFolderFiles(), failure.left);
        }
    }
}

// Only a database without any controller or cardholder row may give way to an import or a chosen
// database; whatever cannot be read counts as holding a site.
TEST_F(ProfileCreationTest, ADatabaseHoldsNoSiteOnlyWithoutControllersAndCardholders) {
    const QString path = Home->Path() + "/leftover.accdb";
    const struct {
        const char* what;
        std::function<void()> make;
        bool holdsNoSite;
    } cases[] = {
        {"the template", [&] { MakeDatabase(path, {}); }, true},
        {"a stray zone row",
         [&] { MakeDatabase(path, {"INSERT INTO CardZones VALUES (1, 'A', 1)"}); }, true},
        {"a controller",
         [&] { MakeDatabase(path, {"INSERT INTO Controllers (ConName) VALUES ('x')"}); }, false},
        {"a deleted cardholder",
         [&] {
             MakeDatabase(
                 path, {"INSERT INTO CardHolders (CardNumber, Deleted) VALUES ('0A1B2C3D4E', 1)"});
         },
         false},
        {"no database", [&] { WriteTextFile(path, "just text"); }, false},
        {"no file", [] {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path);
        c.make();
        EXPECT_EQ(DatabaseHoldsNoSite(path), c.holdsNoSite);
    }
}

TEST_F(ProfileCreationTest, TemporariesOfAnInterruptedCreationAreCleared) {
    ASSERT_TRUE(WriteTextFile(Data() + ".site.accdb.abc.new", "half"));
    ASSERT_TRUE(WriteTextFile(Data() + ".site.accdb.abc.new-journal", "journal"));
    ASSERT_TRUE(WriteTextFile(Data() + ".other.accdb.abc.new", "not ours to clear"));
    CreateProfile({"Site", Template(), nullptr, {}}, Desktop);
    EXPECT_EQ(DataFiles(), QStringList({".other.accdb.abc.new", "site.accdb"}));
}

TEST_F(ProfileCreationTest, ALineBreakIsNoPartOfAName) {
    for (const QString& name : {QString("Site\n2"), QString("Site\r2"), QString("\r\n")}) {
        EXPECT_FALSE(ProfileNameProblem(name).isEmpty());
        EXPECT_THROW(CreateProfile({name, Template(), nullptr, {}}, Desktop), VyrError);
    }
    EXPECT_TRUE(ProfileNameProblem("Site 2").isEmpty());
    EXPECT_EQ(DataFiles(), QStringList());
}

// The job makes the profile on a thread of its own: the import and the connection it opens live
// there, and what the caller learns (progress, then the outcome once) comes on the caller's thread.
TEST_F(ProfileCreationTest, AJobImportsOnItsOwnThreadAndReportsOnTheCallers) {
    const QString legacy = Home->Path() + "/old";
    QDir().mkpath(legacy);
    ASSERT_TRUE(WriteLegacyFile(legacy + "/autonoom.bst", ControllerRecord("A1B2C3", "Door")));
    QByteArray cards;
    for (int i = 0; i < 700; ++i)
        cards +=
            CardRecord(QByteArray::number(i + 1).rightJustified(10, '0'), "H", {}, {}, {{1, 1}});
    ASSERT_TRUE(WriteLegacyFile(legacy + "/asleutel.bst", cards));
    const QStringList connectionsBefore = QSqlDatabase::connectionNames();

    const struct {
        const char* what;
        TLegacyImporter importer;
        QString failure; // empty: the profile is made
    } cases[] = {
        {"the import succeeds", ImportLegacyFiles, ""},
        {"the import fails",
         [](const QString& from, const QString& into,
            const TLegacyImportProgress& progress) -> TLegacyImportSummary {
             ImportLegacyFiles(from, into, progress);
             throw std::runtime_error("disk full");
         },
         "The files of the older software could not be imported: disk full\n\nNo profile was "
         "created."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(DataDirectory()).removeRecursively();
        QThread* importThread = nullptr;
        const TLegacyImporter importer = c.importer;
        TProfileCreationJob job({"Site", Template(), nullptr, {}},
                                TLegacyImportChoice{legacy + "/autonoom.bst",
                                                    [&](const QString& from, const QString& into,
                                                        const TLegacyImportProgress& progress) {
                                                        importThread = QThread::currentThread();
                                                        return importer(from, into, progress);
                                                    }},
                                Desktop);
        QSignalSpy progress(&job, &TProfileCreationJob::Progress);
        QSignalSpy finished(&job, &TProfileCreationJob::Finished);
        job.Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.size() == 1; }, 30000));
        QTest::qWait(0);
        EXPECT_EQ(finished.size(), 1);

        EXPECT_NE(importThread, nullptr);
        EXPECT_NE(importThread, QThread::currentThread());
        EXPECT_EQ(QSqlDatabase::connectionNames(), connectionsBefore)
            << "the import's connection ended with its thread";
        ASSERT_GE(progress.size(), 2);
        EXPECT_EQ(progress.first(), QVariantList({qint64(0), qint64(1)}));
        EXPECT_EQ(progress.last(), QVariantList({qint64(700), qint64(700)}));
        const auto outcome = finished.first().first().value<TProfileCreationOutcome>();
        if (c.failure.isEmpty()) {
            EXPECT_FALSE(outcome.Failure);
            ASSERT_TRUE(outcome.Imported);
            EXPECT_EQ(outcome.Imported->CardholdersImported, 700);
            EXPECT_EQ(DataFiles(), QStringList{"site.accdb"});
            EXPECT_TRUE(QFile::exists(Profiles() + "site.ini"));
        } else {
            ASSERT_TRUE(outcome.Failure);
            try {
                std::rethrow_exception(outcome.Failure);
            } catch (const std::exception& error) {
                EXPECT_EQ(ErrorText(error), c.failure);
            }
            EXPECT_FALSE(outcome.Imported);
            EXPECT_EQ(DataFiles(), QStringList());
            EXPECT_FALSE(QFile::exists(Profiles() + "site.ini"));
        }
    }
}

} // namespace
