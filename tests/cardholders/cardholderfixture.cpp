#include "cardholderfixture.h"

TStandController& CardholderTest::AddController(const QString& name) {
    auto controller = std::make_unique<TStandController>();
    controller->ConID = ProfileDbTest::AddController(name, "123456", 0, 0);
    controller->ConType = "VYR292";
    controller->ConName = name;
    controller->ConCode = "123456";
    ControllerList.push_back(std::move(controller));
    return *ControllerList.back();
}

QStringList CardholderTest::MarkedControllers() const {
    QStringList marked;
    QStringList stored;
    const QStringList storedIds = Column("SELECT ConID FROM PendingChanges");
    for (const auto& controller : ControllerList) {
        if (controller->ChangesMade)
            marked << controller->ConName;
        if (storedIds.contains(QString::number(controller->ConID)))
            stored << controller->ConName;
    }
    // Whatever marked a record stored its mark with the change; nothing else stored one.
    EXPECT_EQ(stored, marked) << "stored marks";
    return marked;
}

#include "reader/MaximReader.h"
#include "readerfixture.h"

void CardReaderTest::SetUp() {
    CardholderTest::SetUp();
    ASSERT_TRUE(Fake.Loaded());
    TMaximReader::SetLibraryName(FakeTmex::FileName);
    Fake.Reset();
    SavedSettings = AppSettings;
    AppSettings = {"32", 5, 1};
}

void CardReaderTest::TearDown() {
    AppSettings = SavedSettings;
    TMaximReader::SetLibraryName({});
    CardholderTest::TearDown();
}

void CardReaderTest::Present(const RomBytes* card) {
    Fake.ClearBus();
    if (card)
        Fake.AddDevice(*card);
}
