#include "shared/translation.h"

#include <gtest/gtest.h>

TEST(FormatText, FillsPlaceholdersInOrderAndLeavesValuesAlone) {
    EXPECT_EQ(FormatText("Currently listing %d controllers", {"3"}),
              "Currently listing 3 controllers");
    EXPECT_EQ(FormatText("%s and %d", {"100%d", "2"}), "100%d and 2");
    EXPECT_EQ(FormatText("no placeholder", {"x"}), "no placeholder");
    EXPECT_EQ(FormatText("%s / %s", {"a"}), "a / %s");
}

TEST(Translate, SwitchesCatalogueAtRunTime) {
    UseLanguage("nl");
    const QString dutch = Translate("&Language");
    UseLanguage("en");
    EXPECT_EQ(Translate("&Language"), "&Language");
    EXPECT_NE(dutch, "&Language") << "the Dutch catalogue was not found beside the program";
    UseLanguage("xx");
    EXPECT_EQ(Translate("&Language"), "&Language") << "a language without catalogue shows English";
    UseLanguage("en");
}
