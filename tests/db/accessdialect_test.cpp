#include "db/accessdialect.h"

#include <gtest/gtest.h>

namespace {

const QDateTime FixedNow(QDate(2024, 3, 9), QTime(7, 5, 2));

struct TTranslationCase {
    const char* Access;
    const char* SQLite;
};

class DialectTranslation : public ::testing::TestWithParam<TTranslationCase> {};

TEST_P(DialectTranslation, RewritesOnlyOutsideLiterals) {
    const TDialectTranslation result =
        TranslateAccessDialect(QString::fromUtf8(GetParam().Access), FixedNow);
    ASSERT_TRUE(result.Ok) << result.Error.toStdString();
    EXPECT_EQ(result.Sql.toStdString(), GetParam().SQLite);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, DialectTranslation,
    ::testing::Values(
        // Text literals: double quotes become single quotes, with the inner quoting redone.
        TTranslationCase{
            R"(SELECT CardHolder FROM CardHolders WHERE (CardNumber = "0000ABCDEF") AND (NOT Deleted))",
            R"(SELECT CardHolder FROM CardHolders WHERE (CardNumber = '0000ABCDEF') AND (NOT Deleted))"},
        TTranslationCase{R"(SELECT "")", R"(SELECT '')"},
        TTranslationCase{R"(SELECT "it's")", R"(SELECT 'it''s')"},
        TTranslationCase{R"(SELECT "say ""hi""", """")", R"(SELECT 'say "hi"', '"')"},
        // Nothing inside a literal is rewritten, whatever it looks like.
        TTranslationCase{R"(SELECT "50% a_b \ c")", R"(SELECT '50% a_b \ c')"},
        TTranslationCase{R"(SELECT "a; DROP TABLE CardZones")",
                         R"(SELECT 'a; DROP TABLE CardZones')"},
        TTranslationCase{R"(SELECT "x -- y /* z */")", R"(SELECT 'x -- y /* z */')"},
        TTranslationCase{R"(SELECT "DELETE * FROM NOW() @@Identity")",
                         R"(SELECT 'DELETE * FROM NOW() @@Identity')"},
        TTranslationCase{"SELECT \"Émile Zoë 東京 😀\"", "SELECT 'Émile Zoë 東京 😀'"},
        TTranslationCase{R"(SELECT 'NOW() "x" ''y''')", R"(SELECT 'NOW() "x" ''y''')"},
        TTranslationCase{R"(SELECT [NOW()], [a"b], `@@Identity` FROM T)",
                         R"(SELECT [NOW()], [a"b], `@@Identity` FROM T)"},
        // The Access-only forms.
        TTranslationCase{"DELETE * FROM CardZones WHERE ConID = 5",
                         "DELETE FROM CardZones WHERE ConID = 5"},
        TTranslationCase{"delete  *\tfrom CardZones", "delete from CardZones"},
        TTranslationCase{"DELETE FROM CardZones", "DELETE FROM CardZones"},
        TTranslationCase{
            R"(INSERT INTO T VALUES ("a", NOW(), now ( )))",
            R"(INSERT INTO T VALUES ('a', '2024-03-09 07:05:02', '2024-03-09 07:05:02'))"},
        TTranslationCase{"SELECT Nowhere, NOW FROM T", "SELECT Nowhere, NOW FROM T"},
        TTranslationCase{"SELECT @@Identity", "SELECT last_insert_rowid()"},
        TTranslationCase{"select @@IDENTITY;  \n", "select last_insert_rowid()"},
        TTranslationCase{"SELECT COUNT(*) FROM CardZones WHERE (ConID = 3) AND (ZoneID > 0)",
                         "SELECT COUNT(*) FROM CardZones WHERE (ConID = 3) AND (ZoneID > 0)"},
        TTranslationCase{"UPDATE CardHolders SET Deleted = 1 WHERE CardNumber = \"A\"",
                         "UPDATE CardHolders SET Deleted = 1 WHERE CardNumber = 'A'"},
        TTranslationCase{"SELECT 5 - 3 / 1", "SELECT 5 - 3 / 1"}));

// The same statements for the server: numbered places, its own identity, a LIKE that ignores
// case, a boolean Yes/No column, quoted names in its case.
class ServerDialectTranslation : public ::testing::TestWithParam<TTranslationCase> {};

TEST_P(ServerDialectTranslation, RewritesOnlyOutsideLiterals) {
    const TDialectTranslation result = TranslateAccessDialect(QString::fromUtf8(GetParam().Access),
                                                              FixedNow, TSqlTarget::PostgreSQL);
    ASSERT_TRUE(result.Ok) << result.Error.toStdString();
    EXPECT_EQ(result.Sql.toStdString(), GetParam().SQLite);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, ServerDialectTranslation,
    ::testing::Values(
        TTranslationCase{"SELECT CardHolder FROM CardHolders WHERE (CardNumber = ?) AND (NOT "
                         "Deleted) AND (ConID IN (?, ?))",
                         "SELECT CardHolder FROM CardHolders WHERE (CardNumber = $1) AND (NOT "
                         "Deleted) AND (ConID IN ($2, $3))"},
        TTranslationCase{R"(SELECT "?", '?', "it's ?" FROM T WHERE x = ?)",
                         R"(SELECT '?', '?', 'it''s ?' FROM T WHERE x = $1)"},
        TTranslationCase{"SELECT @@Identity", "SELECT lastval()"},
        TTranslationCase{"DELETE * FROM CardZones WHERE ConID = ?",
                         "DELETE FROM CardZones WHERE ConID = $1"},
        TTranslationCase{R"(INSERT INTO T VALUES ("a", NOW()))",
                         R"(INSERT INTO T VALUES ('a', '2024-03-09 07:05:02'))"},
        TTranslationCase{"SELECT x FROM T WHERE (CardHolder LIKE ?) AND (a not  like ? ESCAPE "
                         "'\\')",
                         "SELECT x FROM T WHERE (CardHolder COLLATE \"und-x-icu\" ILIKE $1) AND "
                         "(a COLLATE \"und-x-icu\" NOT ILIKE $2 ESCAPE '\\')"},
        TTranslationCase{"UPDATE CardHolders SET Deleted = 1 WHERE (Deleted<>0) AND (Deleted = "
                         "-1) AND (Deleted = ?)",
                         "UPDATE CardHolders SET Deleted = TRUE WHERE (Deleted<>FALSE) AND "
                         "(Deleted = TRUE) AND (Deleted = $1)"},
        TTranslationCase{R"(SELECT "Deleted = 1", Deleted FROM T)",
                         R"(SELECT 'Deleted = 1', Deleted FROM T)"},
        TTranslationCase{R"(SELECT [Con ID], `Card"Name` FROM T)",
                         R"(SELECT "con id", "card""name" FROM T)"},
        // A literal right after a word stays a plain literal, never an E'' or B'' one.
        TTranslationCase{R"(SELECT E"\n", B"1", U&"x")", R"(SELECT E '\n', B '1', U& 'x')"}));

// What the server would read otherwise than the scanner does.
class RefusedServerStatement : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedServerStatement, IsNeverPassedOn) {
    const TDialectTranslation result =
        TranslateAccessDialect(QString::fromUtf8(GetParam()), {}, TSqlTarget::PostgreSQL);
    EXPECT_FALSE(result.Ok) << result.Sql.toStdString();
    EXPECT_FALSE(result.Error.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Statements, RefusedServerStatement,
                         ::testing::Values("SELECT $1", "SELECT $$a$$", "SELECT ?1", "SELECT ?x",
                                           "SELECT :name", "SELECT @name", "SELECT E'\''",
                                           "SELECT U&'d\0061t'", "SELECT 1; SELECT 2",
                                           "SELECT 1 -- x"));

struct TPlaceholderCase {
    const char* Access;
    int Placeholders;
};

class Placeholders : public ::testing::TestWithParam<TPlaceholderCase> {};

TEST_P(Placeholders, AreCountedOutsideLiteralsAndNamesAndLeftInPlace) {
    const QString statement = QString::fromUtf8(GetParam().Access);
    const TDialectTranslation result = TranslateAccessDialect(statement, FixedNow);
    ASSERT_TRUE(result.Ok) << result.Error.toStdString();
    EXPECT_EQ(result.Placeholders, GetParam().Placeholders);
    EXPECT_EQ(result.Sql.count(u'?'), statement.count(u'?'));
}

INSTANTIATE_TEST_SUITE_P(
    Statements, Placeholders,
    ::testing::Values(
        TPlaceholderCase{"SELECT 1", 0}, TPlaceholderCase{"SELECT ?", 1},
        TPlaceholderCase{"INSERT INTO T (a, b, c) VALUES(?, ?, NOW())", 2},
        TPlaceholderCase{"SELECT ?,?,?", 3},
        TPlaceholderCase{R"(SELECT "?", '?', "a ""?"" b", [?], `?` FROM T WHERE x = ?)", 1},
        TPlaceholderCase{"DELETE * FROM CardZones WHERE (ConID = ?) AND (CardNumber = ?)", 2}));

class RefusedStatement : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedStatement, IsNeverPassedOn) {
    const TDialectTranslation result = TranslateAccessDialect(QString::fromUtf8(GetParam()));
    EXPECT_FALSE(result.Ok);
    EXPECT_FALSE(result.Error.isEmpty());
    EXPECT_TRUE(result.Sql.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Statements, RefusedStatement,
                         ::testing::Values("SELECT 1; DELETE * FROM CardHolders",
                                           "SELECT \"a\";SELECT 2", "SELECT 1;;",
                                           "SELECT 1 -- AND (NOT Deleted)", "SELECT /* x */ 1",
                                           "SELECT \"not closed", "SELECT \"a\"\" still open",
                                           "SELECT 'open", "SELECT [open FROM T"));

TEST(DialectTranslationNow, IsTheCurrentLocalTimeOncePerStatement) {
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const TDialectTranslation result = TranslateAccessDialect("SELECT NOW(), NOW()");
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    ASSERT_TRUE(result.Ok);
    const QStringList parts = result.Sql.mid(7).split(", ");
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0], parts[1]);
    ASSERT_TRUE(parts[0].startsWith(u'\'') && parts[0].endsWith(u'\'')) << parts[0].toStdString();
    const QDateTime now = QDateTime::fromString(parts[0].mid(1, 19), "yyyy-MM-dd HH:mm:ss");
    ASSERT_TRUE(now.isValid()) << parts[0].toStdString();
    EXPECT_LE(before, now);
    EXPECT_GE(after, now);
}

} // namespace
