#include "shared/translation.h"

#include <gtest/gtest.h>

TEST(FormatText, FillsPlaceholdersInOrderAndLeavesValuesAlone) {
    EXPECT_EQ(FormatText("Currently listing %d controllers", {"3"}),
              "Currently listing 3 controllers");
    EXPECT_EQ(FormatText("%s and %d", {"100%d", "2"}), "100%d and 2");
    EXPECT_EQ(FormatText("no placeholder", {"x"}), "no placeholder");
    EXPECT_EQ(FormatText("%s / %s", {"a"}), "a / %s");
}

TEST(TranslatePlural, PicksTheFormThatFitsTheCountInEachLanguage) {
    struct Case {
        const char* language;
        unsigned long count;
        const char* controllers;
        const char* cardholders;
    };
    const Case cases[] = {
        {"en", 0, "Currently listing 0 controllers", "Loaded 0 cardholders"},
        {"en", 1, "Currently listing 1 controller", "Loaded 1 cardholder"},
        {"en", 2, "Currently listing 2 controllers", "Loaded 2 cardholders"},
        {"nl", 0, "Er worden 0 controllers getoond", "0 kaarthouders geladen"},
        {"nl", 1, "Er wordt 1 controller getoond", "1 kaarthouder geladen"},
        {"nl", 2, "Er worden 2 controllers getoond", "2 kaarthouders geladen"},
        {"xx", 1, "Currently listing 1 controller", "Loaded 1 cardholder"},
        {"xx", 2, "Currently listing 2 controllers", "Loaded 2 cardholders"},
    };
    for (const Case& c : cases) {
        UseLanguage(c.language);
        const QStringList count{QString::number(c.count)};
        EXPECT_EQ(FormatText(TranslatePlural("Currently listing %d controller",
                                             "Currently listing %d controllers", c.count),
                             count),
                  c.controllers)
            << c.language;
        EXPECT_EQ(
            FormatText(TranslatePlural("Loaded %d cardholder", "Loaded %d cardholders", c.count),
                       count),
            c.cardholders)
            << c.language;
    }
    UseLanguage("en");
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
