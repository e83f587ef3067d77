// The cardholder list takes another workstation's changes into the rows it shows, reading only the
// cards the change named or the whole list again; either way the rows must be exactly what a
// fresh load of the list shows, sorted and filtered as the operator left it.

#include "cardholders/cardholdermodel.h"
#include "cardholders/cardholdersave.h"
#include "cardholders/cardholderstatements.h"
#include "db/MyDBConnector.h"
#include "db/changehint.h"
#include "journal/journal.h"

#include "profiledb.h"

#include <QSignalSpy>

#include <gmock/gmock.h>

#include <functional>

namespace {

// The other workstation's operator.
const TJournalAuthor OtherDesk{"other", "desk-2"};

QString CardOf(int i) {
    return QStringLiteral("20000000%1").arg(i, 2, 10, QChar(u'0'));
}

class ListRefresh : public EngineProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        if (HasFatalFailure())
            return;
        auto other = NewConnectorOfKind(Database().GetDBTypeName(), Database().ConnectionString);
        ASSERT_TRUE(other && other->Connect()) << other->GetLastError().toStdString();
        Other = std::make_unique<TRecordingConnector>(std::move(other));
        Front = AddController("Front");
        Back = AddController("Back");
        for (int i = 0; i < 30; ++i) {
            AddCardHolder(CardOf(i), QStringLiteral("Holder %1").arg(i, 2, 10, QChar(u'0')),
                          QStringLiteral("team %1").arg(i % 3), QStringLiteral("x%1").arg(29 - i));
            if (i % 4 == 0)
                AddZone(Front, CardOf(i), 1);
            if (i % 5 == 0)
                AddZone(Back, CardOf(i), 2);
        }
        Session->LoadControllers();
    }
    void TearDown() override {
        Other.reset();
        ProfileDbTest::TearDown();
    }

    struct TView {
        TCardHolderFilter Filter;
        int Column = TCardHolderModel::CardHolderColumn;
        Qt::SortOrder Order = Qt::AscendingOrder;
    };
    // The list's model as a load leaves it, sorted as the operator asked.
    std::unique_ptr<TCardHolderModel> Loaded(const TView& view) {
        auto model = std::make_unique<TCardHolderModel>(Session->Controllers());
        EXPECT_TRUE(model->Load(&Database(), view.Filter));
        if (view.Column != TCardHolderModel::CardHolderColumn || view.Order != Qt::AscendingOrder)
            model->Sort(view.Column, view.Order);
        return model;
    }
    static QStringList Rows(const TCardHolderModel& model) {
        QStringList rows;
        for (int row = 0; row < model.rowCount(); ++row) {
            const TCardHolder& record = *model.Record(row);
            QStringList zones;
            for (const int32_t zone : record.CardZones)
                zones << QString::number(zone);
            rows << QStringList{record.CardNumber,  record.CardHolder,  record.CardCustom1,
                                record.CardCustom2, record.CardCustom3, record.CardCustom4,
                                zones.join(u' ')}
                        .join(u'|');
        }
        return rows;
    }
    // The number keys of the cards the other workstation's statements named since the last call;
    // nothing when one of them could not name its cards.
    std::optional<QSet<QString>> NamedCards() {
        TChangedCards cards = TChangedCards::None();
        for (const TMyStatement& statement : std::as_const(Other->Statements)) {
            if (statement.Sql.startsWith("SELECT"))
                continue;
            const std::optional<QStringList> numbers = ChangedCardNumbers(statement);
            cards.Add(numbers ? TChangedCards{true, {numbers->begin(), numbers->end()}}
                              : TChangedCards());
        }
        Other->Statements.clear();
        if (!cards.Known)
            return std::nullopt;
        QSet<QString> keys;
        for (const QString& number : std::as_const(cards.Numbers))
            keys.insert(CardNumberKey(number));
        return keys;
    }

public: // for the rounds' steps
    TCardHolder Holder(const QString& number) const { return *LoadCardHolder(*Other, number); }
    void Rename(const QString& number, const QString& name, const QString& newNumber = {},
                const QString& custom2 = {}) {
        const TCardHolder loaded = Holder(number);
        TCardHolder record = loaded;
        record.CardHolder = name;
        if (!custom2.isEmpty())
            record.CardCustom2 = custom2;
        if (!newNumber.isEmpty())
            record.CardNumber = newNumber;
        TControllerRecords marks;
        EXPECT_EQ(SaveEditedCardHolder(*Other, record, loaded, marks, OtherDesk).Outcome,
                  TCardHolderSave::Saved)
            << number.toStdString();
    }
    void Add(const QString& number, const QString& name, const QString& custom1 = "team 0") {
        TCardHolder record;
        record.CardNumber = number;
        record.CardHolder = name;
        record.CardCustom1 = custom1;
        TControllerRecords marks;
        EXPECT_EQ(SaveNewCardHolder(*Other, record, std::nullopt, marks, OtherDesk).Outcome,
                  TCardHolderSave::Saved);
    }
    void Delete(const QString& number) {
        TControllerRecords marks;
        EXPECT_EQ(
            DeleteCardHolderAndZones(*Other, *LoadCardHolder(*Other, number), marks, OtherDesk),
            TCardHolderDelete::Deleted);
    }

    std::unique_ptr<TRecordingConnector> Other;
    int32_t Front = 0;
    int32_t Back = 0;
};

// Rounds of changes from the other workstation; after each, the list as it refreshes by the named
// cards and as it refreshes by the whole list must both equal a fresh load.
TEST_P(ListRefresh, AfterEachRoundOfChangesTheListEqualsAFreshLoad) {
    const struct {
        const char* what;
        std::function<void(ListRefresh&)> change;
    } rounds[] = {
        {"cardholders added, one before all and one after all",
         [](ListRefresh& t) {
             t.Add("3000000001", "Aaron");
             t.Add("3000000002", "Zora");
             t.Add("3000000003", "Holder 10b");
         }},
        {"renames that move rows, one into the filter and one out of it",
         [](ListRefresh& t) {
             t.Rename(CardOf(3), "Abel");
             t.Rename(CardOf(20), "Holder 05b");
             t.Rename(CardOf(7), "Zeno");
         }},
        {"many rows moving at once, crossing each other",
         [](ListRefresh& t) {
             for (int i = 12; i < 22; ++i)
                 t.Rename(CardOf(i), QStringLiteral("Holder %1x").arg(33 - i), {},
                          QStringLiteral("y%1").arg(i % 4));
         }},
        {"a card replaced, its zones going with the old card",
         [](ListRefresh& t) { t.Rename(CardOf(8), "Holder 08", "30000000AB"); }},
        {"deletes, one of a card with zones",
         [](ListRefresh& t) {
             t.Delete(CardOf(0));
             t.Delete(CardOf(11));
         }},
        {"zone clicks, a new row and a changed one",
         [](ListRefresh& t) {
             EXPECT_EQ(CycleCardZone(*t.Other, CardOf(1), t.Front, OtherDesk), 1);
             EXPECT_EQ(CycleCardZone(*t.Other, CardOf(4), t.Front, OtherDesk), 2);
             EXPECT_EQ(CycleCardZone(*t.Other, CardOf(5), t.Back, OtherDesk), 0);
         }},
        {"a card number given again after its holder was deleted",
         [](ListRefresh& t) { t.Add(CardOf(11), "Holder 11 again", "team 2"); }},
        {"a number's letters in the other case",
         [](ListRefresh& t) { t.Rename("30000000AB", "Holder 08", "30000000ab"); }},
    };
    const struct {
        const char* what;
        TView view;
    } views[] = {
        {"by name", {}},
        {"by second custom text, descending",
         {{}, TCardHolderModel::CardHolderColumn + 2, Qt::DescendingOrder}},
        {"by number, filtered", {{"", "team 0", ""}, TCardHolderModel::CardNumberColumn}},
        {"by name descending, filtered by name", {{"Holder", "", ""}, 1, Qt::DescendingOrder}},
    };
    std::vector<std::unique_ptr<TCardHolderModel>> byCards;
    std::vector<std::unique_ptr<TCardHolderModel>> byList;
    for (const auto& v : views) {
        byCards.push_back(Loaded(v.view));
        byList.push_back(Loaded(v.view));
    }
    for (const auto& round : rounds) {
        SCOPED_TRACE(round.what);
        round.change(*this);
        const std::optional<QSet<QString>> named = NamedCards();
        ASSERT_TRUE(named) << "these saves name their cards";
        for (size_t i = 0; i < std::size(views); ++i) {
            SCOPED_TRACE(views[i].what);
            const TView& view = views[i].view;
            QSignalSpy resets(byCards[i].get(), &QAbstractItemModel::modelReset);
            std::vector<std::unique_ptr<TCardHolder>> records;
            ASSERT_TRUE(ReadCardHoldersOf(Database(), view.Filter, Session->Controllers(), *named,
                                          records));
            EXPECT_FALSE(byCards[i]->Merge(std::move(records), named));
            ASSERT_TRUE(ReadCardHolders(Database(), view.Filter, Session->Controllers(), records));
            EXPECT_FALSE(byList[i]->Merge(std::move(records), std::nullopt));
            EXPECT_TRUE(resets.isEmpty());

            const QStringList fresh = Rows(*Loaded(view));
            EXPECT_EQ(Rows(*byCards[i]), fresh);
            EXPECT_EQ(Rows(*byList[i]), fresh);
        }
    }
}

// A change over every card names none, and the list reads everything; one too big for single
// steps replaces the rows, sorted as they were.
TEST_P(ListRefresh, AChangeOverAllCardsIsReadAsAWhole) {
    const TView view{{}, TCardHolderModel::CardNumberColumn, Qt::DescendingOrder};
    const std::unique_ptr<TCardHolderModel> model = Loaded(view);
    const auto refresh = [&] {
        std::vector<std::unique_ptr<TCardHolder>> records;
        EXPECT_TRUE(ReadCardHolders(Database(), view.Filter, Session->Controllers(), records));
        return model->Merge(std::move(records), std::nullopt);
    };

    ASSERT_GT(Other->ExecuteCounted({"UPDATE CardHolders SET CardCustom2 = ? WHERE (NOT Deleted)",
                                     {QStringLiteral("all")}}),
              0);
    EXPECT_FALSE(NamedCards());
    EXPECT_FALSE(refresh());
    EXPECT_EQ(Rows(*model), Rows(*Loaded(view)));

    {
        TBulkWork bulk(Other.get());
        for (int i = 0; i < 2100; ++i) {
            TCardHolder record;
            record.CardNumber = QStringLiteral("4%1").arg(i, 9, 10, QChar(u'0'));
            record.CardHolder = QStringLiteral("Bulk %1").arg(i);
            ASSERT_TRUE(Other->ExecuteQuery(InsertCardHolderStatement(record)));
        }
    }
    EXPECT_TRUE(refresh());
    EXPECT_EQ(Rows(*model), Rows(*Loaded(view)));
}

INSTANTIATE_TEST_SUITE_P(Engines, ListRefresh, ::testing::ValuesIn(BothEngines), EngineCaseName);

} // namespace
