#pragma once

#include "profiledb.h"

// A profile database with rows in it; the fixture's desktop counts the beeps instead of sounding
// them.
class CardholderTest : public ProfileDbTest {
protected:
    using ProfileDbTest::AddController;
    // A controller in the database and at the end of the session's records.
    TStandController& AddController(const QString& name);
    // The names of the marked records, in list order; fails the test unless the database has
    // stored exactly these marks.
    QStringList MarkedControllers() const;
};
