#pragma once

#include "shared/publictypes.h"

#include "testenv.h"

#include <QString>
#include <QStringList>

#include <vector>

// A test with the program's database connection on a fresh copy of the template database, in the
// test's private home. The helpers write rows the way other parts of the program do.
class ControllerDbTest : public HomeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Inserts a controller of type VYR292 and returns its ConID.
    int32_t AddController(const QString& name, const QString& code = "000000", int conByte1 = 2,
                          int conByte2 = 4);
    void AddCardHolder(const QString& cardNumber, const QString& holder, bool deleted = false);
    void AddZone(int32_t conId, const QString& cardNumber, int zone);
    // A record as the controller list would hold it.
    TStandController Record(int32_t conId);

    // Every row of a query as texts, or one row with the error.
    std::vector<QStringList> Rows(const QString& sql);
    int Count(const QString& sql);

    QString DatabaseFile;
};

// A card number that begins with the given four characters (the part a key holds).
QString CardStartingWith(const QString& firstFour, int serial = 0);
