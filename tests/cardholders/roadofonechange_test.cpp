// A new card, from the adapter to a controller's memory key: the list, the cardholder dialog,
// a zone, the main window's mark and count, and the programming of the key, all on the real
// 1-Wire library and the virtual adapter.
#include "cardholderfixture.h"

#include "app/main.h"
#include "cardholders/cardholder.h"
#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholders.h"
#include "controllers/controllerrecords.h"
#include "controllers/programdevice.h"
#include "reader/CodeReaderInterface.h"
#include "reader/MaximReader.h"
#include "reader/cardpoller.h"

#include "modal.h"
#include "virtualadapter.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class RoadOfOneChangeTest : public CardholderTest {
protected:
    void SetUp() override {
        CardholderTest::SetUp();
        TMaximReader::SetLibraryName({});
        Adapter = std::make_unique<VirtualAdapter>();
        ASSERT_TRUE(Adapter->Ready()) << Adapter->Problem().toStdString();
        Main = std::make_unique<TfrmMain>(Desktop, Adapter->Settings);
        Main->OpenSession(TakeSession());
    }
    void TearDown() override {
        Main.reset();
        // The windows' adapter sessions end before the adapter goes.
        WaitForAdapterThread();
        Adapter.reset();
        CardholderTest::TearDown();
    }
    static QStringList MarkedNames(const TControllerRecords& controllers) {
        QStringList names;
        for (const auto& controller : controllers)
            if (controller->ChangesMade)
                names << controller->ConName;
        return names;
    }
    int IndexOf(const QString& controllerName) const {
        for (size_t i = 0; i < Controllers().size(); ++i)
            if (Controllers()[i]->ConName == controllerName)
                return int(i);
        return -1;
    }

    std::unique_ptr<VirtualAdapter> Adapter;
    std::unique_ptr<TfrmMain> Main;
};

TEST_F(RoadOfOneChangeTest, ACardFromTheAdapterGetsZoneOneAndLandsInTheControllersKey) {
    Exec("INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) "
         "VALUES(\"VYR292\", \"Front door\", \"A1B2C3\", 2, 4)");
    Exec("INSERT INTO Controllers (ConType, ConName, ConCode, ConByte1, ConByte2) "
         "VALUES(\"VYR292\", \"Back door\", \"D4E5F6\", 0, 0)");
    Main->ReloadControllers();
    Main->resize(689, 447);
    Main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Main.get()));
    const int front = IndexOf("Front door");
    ASSERT_GE(front, 0);

    const QString card = VirtualAdapter::RomOf(0x01, QByteArray::fromHex("5A6B7C8D9E01"));
    const QString number = VirtualAdapter::CardNumberOf(card);
    ASSERT_TRUE(Adapter->Put(card));

    // 1-4: "Cardholders", "Add cardholder..." with the card on the adapter, a click in the
    // card's cell of the controller's column, and the list closed again.
    bool added = false;
    bool zoned = false;
    WhenModal([&](QWidget* modal) {
        auto* list = qobject_cast<TfrmCardHolders*>(modal);
        ASSERT_TRUE(list);
        WhenModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<TfrmCardHolder*>(modal);
            ASSERT_TRUE(dialog);
            // The dialog's card poller finds the card.
            added = QTest::qWaitFor(
                [&] { return Control<QLabel>(*dialog, "lblCardNumberVal").text() == number; },
                15000);
            EXPECT_EQ(Control<QLabel>(*dialog, "lblCardStatusVal").text(), "OK");
            // Lying on for several more looks, the card is not taken again.
            QTest::qWait(450);
            EXPECT_EQ(Desktop.Beeps(), 1);
            Control<QLineEdit>(*dialog, "txtCardHolder").setText("Road Tester");
            QTest::mouseClick(&Control<QPushButton>(*dialog, "cmdOK"), Qt::LeftButton);
            EXPECT_TRUE(WritesDone());
            if (dialog->isVisible())
                dialog->reject();
        });
        QTest::mouseClick(&Control<QPushButton>(*list, "cmdCardHoldersNew"), Qt::LeftButton);
        TCardHolderModel* model = &Control<TCardHolderModel>(*list, "CardHolders");
        for (int row = 0; row < model->rowCount(); ++row)
            if (model->Record(row)->CardNumber == number) {
                const QModelIndex cell =
                    model->index(row, TCardHolderModel::FirstZoneColumn + front);
                const QTreeView& view = Control<QTreeView>(*list, "VSTCardHolders");
                QTest::mouseClick(view.viewport(), Qt::LeftButton, {},
                                  view.visualRect(cell).center());
                EXPECT_TRUE(WritesDone());
                zoned = model->Record(row)->CardZones.value(front) == 1;
            }
        list->close();
    });
    QTest::mouseClick(&Control<QPushButton>(*Main, "cmdCardholders"), Qt::LeftButton);
    ASSERT_TRUE(added);
    ASSERT_TRUE(zoned);
    EXPECT_EQ(Column("SELECT CardHolder FROM CardHolders WHERE CardNumber = \"" + number + "\""),
              QStringList{"Road Tester"});
    EXPECT_TRUE(Controllers()[size_t(front)]->ChangesMade);
    EXPECT_FALSE(Controllers()[size_t(1 - front)]->ChangesMade);
    EXPECT_EQ(Control<QTreeWidget>(*Main, "VSTControllers").topLevelItem(front)->text(3), "1");
    // The program closed now would still find the key to write when it opens the profile again.
    EXPECT_THAT(MarkedNames(ReadControllers(&Session->Database(), {}).value()),
                ElementsAre("Front door"));

    // 5-6: the controller's "Load programmer" with a memory key on the adapter.
    ASSERT_TRUE(Adapter->Remove(card));
    const QString key = VirtualAdapter::RomOf(0x06, QByteArray::fromHex("0102030405A6"));
    ASSERT_TRUE(Adapter->SetMemory(key, QByteArray(512, char(0x5A))));
    ASSERT_TRUE(Adapter->Put(key));
    QTreeWidget& controllers = Control<QTreeWidget>(*Main, "VSTControllers");
    controllers.setCurrentItem(controllers.topLevelItem(front));
    QTest::qWait(30);
    bool programmed = false;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TfrmProgramDevice*>(modal);
        ASSERT_TRUE(dialog);
        QTimer::singleShot(30000, dialog, &QDialog::reject); // a guard, never reached when it works
        programmed = true;
    });
    QTest::mouseClick(Main->RowButton(front), Qt::LeftButton);
    ASSERT_TRUE(programmed);
    EXPECT_FALSE(Controllers()[size_t(front)]->ChangesMade);
    EXPECT_THAT(MarkedNames(ReadControllers(&Session->Database(), {}).value()), IsEmpty());

    // The key's memory file: the controller's code, one zone-1 card (its first two bytes) and
    // the CRC-8 of everything before it.
    const QByteArray memory = Adapter->Memory(key);
    ASSERT_EQ(memory.size(), 512);
    EXPECT_EQ(memory.left(3).toHex().toUpper(), "A1B2C3");
    EXPECT_EQ(uint8_t(memory[5]), 2);
    EXPECT_EQ(memory.mid(8, 2).toHex().toUpper(), number.left(4).toLatin1());
    EXPECT_EQ(memory.mid(10, 501), QByteArray(501, 0));
    uint8_t crc = 0;
    for (int i = 0; i < 511; ++i)
        TReaderInterface::CalcCRC(uint8_t(memory[i]), crc);
    EXPECT_EQ(uint8_t(memory[511]), crc);
}

} // namespace
