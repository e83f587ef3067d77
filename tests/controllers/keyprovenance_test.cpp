#include "controllers/keyprovenance.h"

#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const TKeyProvenance& provenance, std::ostream* out) {
    *out << '{' << provenance.Written.toStdString() << " | " << provenance.By.toStdString() << " | "
         << provenance.Key.toStdString() << '}';
}

namespace {

constexpr int32_t FrontDoor = 7;
constexpr int32_t BackDoor = 8;

// The front door's key was written at a quarter past nine, local time, on the 4th of March.
QHash<int32_t, TJournalEntry> FrontDoorWritten() {
    TJournalEntry write;
    write.Action = TJournalAction::KeyWritten;
    write.ConID = FrontDoor;
    write.Time = QDateTime(QDate(2026, 3, 4), QTime(9, 15, 2)).toUTC();
    write.Operator = "anna";
    write.Workstation = "reception";
    return {{FrontDoor, write}};
}

TEST(KeyProvenance, SaysWhenAndByWhomAndWhetherTheControllerChangedSince) {
    const std::optional<QHash<int32_t, TJournalEntry>> none;
    const std::optional<QHash<int32_t, TJournalEntry>> noWrites = QHash<int32_t, TJournalEntry>();
    const std::optional<QHash<int32_t, TJournalEntry>> written = FrontDoorWritten();
    struct TCase {
        const char* What;
        const std::optional<QHash<int32_t, TJournalEntry>>& Writes;
        int32_t ConID;
        bool Marked;
        TKeyProvenance Expected;
    };
    const TCase cases[] = {
        {"written, nothing since",
         written,
         FrontDoor,
         false,
         {"2026-03-04 09:15:02", "anna on reception", "Key up to date"}},
        {"written, changed since",
         written,
         FrontDoor,
         true,
         {"2026-03-04 09:15:02", "anna on reception", "Changed since the key was written"}},
        // Another controller's write says nothing about this one.
        {"another's key written", written, BackDoor, false, {"No verified write recorded", "", ""}},
        {"never written, marked",
         written,
         BackDoor,
         true,
         {"No verified write recorded", "", "Changes not yet on a key"}},
        {"an empty journal", noWrites, FrontDoor, false, {"No verified write recorded", "", ""}},
        // An unreadable journal proves no write absent.
        {"journal unreadable", none, FrontDoor, false, {"Unknown", "", ""}},
        {"journal unreadable, marked",
         none,
         FrontDoor,
         true,
         {"Unknown", "", "Changes not yet on a key"}},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(DescribeKeyProvenance(c.Writes, c.ConID, c.Marked), c.Expected) << c.What;
}

} // namespace
