#pragma once

#include "profiledb.h"

// A profile database with rows in it, and beeps counted instead of sounded.
class CardholderTest : public ProfileDbTest {
protected:
    void SetUp() override;
    void TearDown() override;

    using ProfileDbTest::AddController;
    // A controller in the database and at the end of ControllerList.
    TStandController& AddController(const QString& name);
    // The names of the marked records, in list order; fails the test unless the database has
    // stored exactly these marks.
    QStringList MarkedControllers() const;

    int Beeps = 0;
};
