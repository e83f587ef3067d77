#include "db/sqlitetext.h"
#include "db/sqlquote.h"

#include <gtest/gtest.h>

namespace {

TEST(SqlQuoted, DoublesEveryQuoteAndNothingElse) {
    EXPECT_EQ(SqlQuoted("0000ABCDEF"), "\"0000ABCDEF\"");
    EXPECT_EQ(SqlQuoted(""), "\"\"");
    EXPECT_EQ(SqlQuoted("\""), "\"\"\"\"");
    EXPECT_EQ(SqlQuoted("say \"hi\" it's 50% \\ ;"), "\"say \"\"hi\"\" it's 50% \\ ;\"");
}

TEST(SqlLikeContains, EscapesWildcardsOnlyWhenTheValueHasThem) {
    EXPECT_EQ(SqlLikeContains("Jan"), "\"%Jan%\"");
    EXPECT_EQ(SqlLikeContains("a\"b"), "\"%a\"\"b%\"");
    EXPECT_EQ(SqlLikeContains("50%"), "\"%50\\%%\" ESCAPE \"\\\"");
    EXPECT_EQ(SqlLikeContains("a_b\\c"), "\"%a\\_b\\\\c%\" ESCAPE \"\\\"");
}

struct TLikeCase {
    const char* Pattern;
    const char* Text;
    bool Matches;
};

class LikeMatcher : public ::testing::TestWithParam<TLikeCase> {};

TEST_P(LikeMatcher, FollowsLikeWithUnicodeCaseFolding) {
    EXPECT_EQ(LikeMatches(QString::fromUtf8(GetParam().Pattern), QString::fromUtf8(GetParam().Text),
                          u'\\'),
              GetParam().Matches);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, LikeMatcher,
    ::testing::Values(TLikeCase{"%b%", "abc", true}, TLikeCase{"%B%", "abc", true},
                      TLikeCase{"abc", "abcd", false}, TLikeCase{"%", "", true},
                      TLikeCase{"_", "", false}, TLikeCase{"a_c", "abc", true},
                      TLikeCase{"a_c", "a😀c", true}, TLikeCase{"a%b%c", "aXbYc", true},
                      TLikeCase{"a%b%c", "acb", false}, TLikeCase{"%%x", "x", true},
                      TLikeCase{"%ab%", "aab", true}, TLikeCase{"%ÉMILE%", "Zoë Émile", true},
                      TLikeCase{"%émile%", "ÉMILE", true}, TLikeCase{"%e%", "é", false},
                      TLikeCase{"%\\%%", "50%", true}, TLikeCase{"%\\%%", "50", false},
                      TLikeCase{"a\\_c", "abc", false}, TLikeCase{"a\\_c", "a_c", true},
                      TLikeCase{"%\\\\%", "a\\b", true}, TLikeCase{"%\\\\%", "ab", false},
                      TLikeCase{"ab\\", "ab", false}));

} // namespace
