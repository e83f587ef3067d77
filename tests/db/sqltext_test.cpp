#include "db/sqlitetext.h"
#include "db/statement.h"

#include <gtest/gtest.h>

namespace {

TEST(LikeContains, EscapesWildcardsOnlyWhenTheValueHasThem) {
    struct TCase {
        const char* Typed;
        const char* Sql;
        const char* Pattern;
    };
    for (const TCase& c : {TCase{"Jan", "?", "%Jan%"}, TCase{"a\"b", "?", "%a\"b%"},
                           TCase{"", "?", "%%"}, TCase{"50%", "? ESCAPE \"\\\"", "%50\\%%"},
                           TCase{"a_b\\c", "? ESCAPE \"\\\"", "%a\\_b\\\\c%"}}) {
        const TLikeOperand like = LikeContains(c.Typed);
        EXPECT_EQ(like.Sql, c.Sql) << c.Typed;
        EXPECT_EQ(like.Pattern, c.Pattern) << c.Typed;
    }
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
