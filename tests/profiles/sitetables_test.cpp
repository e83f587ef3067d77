#include "db/databasecheck.h"
#include "profiles/VYRStandProfile.h"
#include "profiles/profileconnection.h"
#include "profiles/serverprobe.h"
#include "shared/datadir.h"

#include "pgcluster.h"
#include "profilefiles.h"
#include "testenv.h"

#include <QFile>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::HasSubstr;

// The site schema the README gives administrators to paste.
QString ReadmeSchema() {
    QFile readme(QStringLiteral(VYR_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const QString start = "<!-- site-schema -->\n```sql\n";
    const qsizetype from = text.indexOf(start);
    if (from < 0)
        return {};
    const qsizetype to = text.indexOf("```", from + start.size());
    return text.mid(from + start.size(), to - from - start.size());
}

struct TTablesCase {
    const char* Name;
    bool Server;
    // Run after the README's schema on a server, or on a copy of the template file.
    QStringList Statements;
    // The texts the refusal names, each difference one; none when the profile opens.
    QStringList Said;
};

void PrintTo(const TTablesCase& c, std::ostream* out) {
    *out << c.Name;
}

class SiteTablesAtOpening : public HomeTest, public ::testing::WithParamInterface<TTablesCase> {};

// An opening compares the site's tables with what the program uses: a site it can use opens (with
// what later versions added, added), any other is refused with each difference named, before a
// list could show it as empty. The wizard's look at a server database finds the same, types
// included.
TEST_P(SiteTablesAtOpening, OpensAFitSiteAndNamesEveryDifferenceOfAnother) {
    const TTablesCase& c = GetParam();
    QStringList probedDifferences;
    CreateDataFolders();
    TVYRStandProfile profile(DataDirectory() + "/profiles/site.ini");
    profile.ProfileName = "Site";
    if (c.Server) {
        TTestCluster& cluster = TTestCluster::Shared();
        profile.ServerConnection = cluster.NewDatabase();
        ASSERT_FALSE(profile.ServerConnection.isEmpty()) << cluster.Error().toStdString();
        const QString schema = ReadmeSchema();
        ASSERT_FALSE(schema.isEmpty()) << "the README shows no site schema";
        const QString search =
            "SET search_path = " +
            profile.ServerConnection.section("search_path=", 1).section('\'', 0, 0) + "; ";
        ASSERT_EQ(cluster.Sql("postgres", search + schema), "");
        for (const QString& statement : c.Statements)
            ASSERT_EQ(cluster.Sql("postgres", search + statement), "");
        // The wizard's look at the database finds what the opening below finds.
        const TServerDatabaseInfo probe = ProbeServer(profile.ServerConnection);
        ASSERT_TRUE(probe.Ok) << probe.Error.toStdString();
        EXPECT_EQ(probe.Differences.isEmpty(), c.Said.isEmpty());
        if (c.Said.isEmpty()) {
            EXPECT_EQ(probe.Kind, TServerDatabaseKind::Site);
        }
        const QString text = ServerProbeText(probe);
        EXPECT_EQ(text.contains("it is used as it is"), c.Said.isEmpty()) << text.toStdString();
        for (const QString& said : c.Said)
            EXPECT_THAT(text.toStdString(), HasSubstr(said.toStdString()));
        probedDifferences = probe.Differences;
    } else {
        profile.DBFileName = "data/site.accdb";
        ASSERT_EQ(MakeDatabase(DataDirectory() + "/data/site.accdb", c.Statements), "");
    }
    profile.SaveToINI(profile.ProfileFileName);

    TSessionOpening opening = OpenProfileSession(profile, Desktop);
    if (c.Said.isEmpty()) {
        ASSERT_TRUE(opening.Session) << opening.Problem.toStdString();
        const TSiteTablesCheck check = CheckSiteTables(opening.Session->Database());
        EXPECT_EQ(check.Error, "");
        EXPECT_EQ(check.Differences, QStringList());
        EXPECT_EQ(check.Missing, QStringList()) << "what later versions need is added";
        return;
    }
    EXPECT_FALSE(opening.Session);
    EXPECT_THAT(opening.Problem.toStdString(), HasSubstr("differ from what this program uses"));
    if (c.Server) {
        EXPECT_EQ(opening.Problem, SiteTablesRefusal(probedDifferences))
            << "the wizard names the differences the opening refuses";
    }
    for (const QString& said : c.Said)
        EXPECT_THAT(opening.Problem.toStdString(), HasSubstr(said.toStdString()));
}

const char* const FileCardHolders =
    "CREATE TABLE CardHolders (CardNumber %1, CardHolder TEXT, CardCustom1 TEXT, CardCustom2 "
    "TEXT, CardCustom3 TEXT, CardCustom4 TEXT, CardInactive TEXT, CardAdded TEXT, CardLastEdit "
    "TEXT, Deleted %2)";

QString FileCardHoldersWith(const char* cardNumber, const char* deleted) {
    return QString::fromLatin1(FileCardHolders).arg(cardNumber, deleted);
}

INSTANTIATE_TEST_SUITE_P(
    Sites, SiteTablesAtOpening,
    ::testing::Values(
        TTablesCase{"ServerAsTheReadmeMakesIt", true, {}, {}},
        TTablesCase{"ServerMadeBeforeTheMarksAndTheJournal",
                    true,
                    {"DROP TABLE PendingChanges; DROP TABLE Journal"},
                    {}},
        TTablesCase{
            "ServerMarksWithoutStamps", true, {"ALTER TABLE PendingChanges DROP COLUMN Stamp"}, {}},
        // An older description: every list would read no cardholder at all.
        TTablesCase{"ServerDeletedAsInteger",
                    true,
                    {"ALTER TABLE CardHolders ALTER COLUMN Deleted DROP DEFAULT, ALTER COLUMN "
                     "Deleted TYPE integer USING 0"},
                    {"The column CardHolders.Deleted is of type integer; the program needs "
                     "boolean."}},
        TTablesCase{"ServerTwoColumnsOfAnotherType",
                    true,
                    {"ALTER TABLE CardHolders ALTER COLUMN Deleted DROP DEFAULT, ALTER COLUMN "
                     "Deleted TYPE integer USING 0, ALTER COLUMN CardNumber TYPE bigint USING 0"},
                    {"CardHolders.Deleted is of type integer", "CardHolders.CardNumber is of type "
                                                               "bigint; the program needs text."}},
        TTablesCase{"ServerColumnMissing",
                    true,
                    {"ALTER TABLE Controllers DROP COLUMN ConByte2"},
                    {"The column Controllers.ConByte2 is missing."}},
        TTablesCase{"ServerTableMissing",
                    true,
                    {"DROP TABLE CardZones"},
                    {"The table CardZones is missing."}},
        TTablesCase{"FileAsTheTemplateMakesIt", false, {}, {}},
        TTablesCase{"FileMadeBeforeTheMarksAndTheJournal",
                    false,
                    {"DROP TABLE Journal", "DROP TABLE PendingChanges"},
                    {}},
        TTablesCase{"FileMarksWithoutStamps",
                    false,
                    {"DROP TABLE PendingChanges",
                     "CREATE TABLE PendingChanges (ConID INTEGER PRIMARY KEY)"},
                    {}},
        // Digits only would turn into a number and lose their leading zeros.
        TTablesCase{"FileCardNumberAsInteger",
                    false,
                    {"DROP TABLE CardHolders", FileCardHoldersWith("INTEGER", "INTEGER")},
                    {"The column CardHolders.CardNumber is of type INTEGER; the program needs "
                     "TEXT."}},
        TTablesCase{"FileDeletedAsText",
                    false,
                    {"DROP TABLE CardHolders", FileCardHoldersWith("TEXT", "TEXT")},
                    {"The column CardHolders.Deleted is of type TEXT; the program needs "
                     "INTEGER."}},
        TTablesCase{"FileColumnMissing",
                    false,
                    {"DROP TABLE CardZones",
                     "CREATE TABLE CardZones (ConID INTEGER, CardNumber TEXT COLLATE NOCASE)"},
                    {"The column CardZones.ZoneID is missing."}},
        TTablesCase{"FileTableMissing",
                    false,
                    {"DROP TABLE Controllers"},
                    {"The table Controllers is missing."}}),
    [](const ::testing::TestParamInfo<TTablesCase>& info) { return info.param.Name; });

} // namespace
