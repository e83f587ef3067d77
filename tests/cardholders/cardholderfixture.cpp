#include "cardholderfixture.h"

TStandController& CardholderTest::AddController(const QString& name) {
    auto controller = std::make_unique<TStandController>();
    controller->ConID = ProfileDbTest::AddController(name, "123456", 0, 0);
    controller->ConType = "VYR292";
    controller->ConName = name;
    controller->ConCode = "123456";
    Controllers().push_back(std::move(controller));
    return *Controllers().back();
}

QStringList CardholderTest::MarkedControllers() const {
    QStringList marked;
    QStringList stored;
    const QStringList storedIds = Column("SELECT ConID FROM PendingChanges WHERE Stamp >= 0");
    for (const auto& controller : Controllers()) {
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
#include "reader/cardpoller.h"
#include "readerfixture.h"

#include <QTest>

void CardReaderTest::SetUp() {
    CardholderTest::SetUp();
    ASSERT_TRUE(Fake.Loaded());
    TMaximReader::SetLibraryName(FakeTmex::FileName);
    Fake.Reset();
    RunSettings.Driver = {"32", 5, 1};
}

void CardReaderTest::TearDown() {
    // The pollers of the windows the test closed end their sessions before the fake goes.
    WaitForAdapterThread();
    TMaximReader::SetLibraryName({});
    CardholderTest::TearDown();
}

void CardReaderTest::Present(const RomBytes* card) {
    Fake.ClearBus();
    if (card)
        Fake.AddDevice(*card);
}

TCardPollerLink* CardReaderTest::PollerOf(const QObject* window) {
    return window ? window->findChild<TCardPollerLink*>("CardPoller", Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void CardReaderTest::LookOften(const QObject* window) {
    if (TCardPollerLink* poller = PollerOf(window))
        poller->SetInterval(2);
}

void CardReaderTest::Looks(const QObject* window, int count) {
    TCardPollerLink* poller = PollerOf(window);
    if (!poller || !poller->Polling())
        return;
    // A look that told something is followed by the next one only once the window has handled
    // it: one look more than asked for means every one asked for was handled.
    const int wanted = Fake.CallsOf("TMFirst") + count + 1;
    const bool looked = QTest::qWaitFor(
        [&] { return !poller->Polling() || Fake.CallsOf("TMFirst") >= wanted; }, 10000);
    if (!looked)
        ADD_FAILURE() << "the card poller did not look " << count << " times";
}
