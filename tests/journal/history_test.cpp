#include "db/MyDBConnector.h"
#include "journal/history.h"
#include "journal/journal.h"
#include "journal/journaltext.h"
#include "shared/messagebox.h"

#include "modal.h"
#include "profiledb.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTreeWidget>

#include <gmock/gmock.h>

namespace {

using ::testing::ElementsAre;

// A journal of 450 changes: zone clicks by two operators on two doors, a day apart each.
class HistoryWindowTest : public ProfileDbTest {
protected:
    void SetUp() override {
        ProfileDbTest::SetUp();
        TBulkWork bulk(Database().Inner.get());
        for (int i = 0; i < 450; ++i) {
            TJournalEntry entry;
            entry.Action = TJournalAction::ZoneChanged;
            entry.ConID = 1 + i % 2;
            entry.ConName = i % 2 ? "Back door" : "Front door";
            entry.CardNumber = QString("%1").arg(i, 10, 10, QChar('0'));
            entry.CardHolder = "Holder " + QString::number(i);
            entry.Changes = {{"ZoneID", "0", "1"}};
            const QDateTime at(QDate(2026, 1, 1).addDays(i), QTime(12, 0), Qt::UTC);
            Exec(AppendJournalStatement(entry, {i % 3 ? "anna" : "bert", "reception"}, at));
        }
    }
    std::unique_ptr<TfrmHistory> Open(THistoryScope scope, const TJournalFilter& subject = {}) {
        auto window = std::make_unique<TfrmHistory>(
            *Database().Inner, Desktop, scope, subject, "Front door",
            QList<std::pair<int32_t, QString>>{{1, "Front door"}, {2, "Back door"}});
        window->show();
        return window;
    }
    static QTreeWidget& List(TfrmHistory& window) {
        return Control<QTreeWidget>(window, "lstEntries");
    }
    static QStringList Cards(TfrmHistory& window) {
        QStringList cards;
        for (int i = 0; i < List(window).topLevelItemCount(); ++i)
            cards << List(window).topLevelItem(i)->text(4);
        return cards;
    }
};

TEST_F(HistoryWindowTest, TheSiteHistoryOpensOnItsNewestPageAndLoadsOnAsTheOperatorGoesOn) {
    auto window = Open(THistoryScope::Site);
    EXPECT_EQ(window->windowTitle(), "Site history");
    ASSERT_EQ(List(*window).topLevelItemCount(), TfrmHistory::PageSize);
    EXPECT_EQ(Cards(*window).first(), "0000000449");
    EXPECT_EQ(List(*window).topLevelItem(0)->text(5),
              "Card 0000000449 (Holder 449) at Back door: zone 1, before no access");
    EXPECT_EQ(List(*window).topLevelItem(0)->text(1), "anna");
    EXPECT_EQ(Control<QLabel>(*window, "lblStatusText").text(),
              "200 changes shown, more with More");

    // Scrolling to the end brings the next page, More the one after; then there is no more.
    QScrollBar* scroll = List(*window).verticalScrollBar();
    scroll->setValue(scroll->maximum());
    EXPECT_EQ(List(*window).topLevelItemCount(), 400);
    QPushButton& more = Control<QPushButton>(*window, "cmdMore");
    QTest::mouseClick(&more, Qt::LeftButton);
    EXPECT_EQ(List(*window).topLevelItemCount(), 450);
    EXPECT_FALSE(more.isEnabled());
    EXPECT_EQ(Cards(*window).last(), "0000000000");
    EXPECT_EQ(Cards(*window).removeDuplicates(), 0);
    EXPECT_EQ(Control<QLabel>(*window, "lblStatusText").text(), "450 changes");
}

TEST_F(HistoryWindowTest, TheFiltersNarrowTheSiteHistory) {
    auto window = Open(THistoryScope::Site);
    QPushButton& show = Control<QPushButton>(*window, "cmdApply");

    Control<QComboBox>(*window, "cboOperator").setCurrentText("bert");
    Control<QComboBox>(*window, "cboController").setCurrentText("Back door");
    show.click();
    // Every sixth change is bert's at the back door.
    EXPECT_EQ(List(*window).topLevelItemCount(), 75);
    EXPECT_EQ(Cards(*window).first(), "0000000447");

    Control<QComboBox>(*window, "cboOperator").setCurrentIndex(0);
    Control<QComboBox>(*window, "cboController").setCurrentIndex(0);
    Control<QCheckBox>(*window, "chkFrom").setChecked(true);
    Control<QDateEdit>(*window, "dtpFrom").setDate(QDate(2026, 1, 3));
    Control<QCheckBox>(*window, "chkUntil").setChecked(true);
    Control<QDateEdit>(*window, "dtpUntil").setDate(QDate(2026, 1, 5));
    show.click();
    EXPECT_THAT(Cards(*window), ElementsAre("0000000004", "0000000003", "0000000002"));

    Control<QCheckBox>(*window, "chkFrom").setChecked(false);
    Control<QCheckBox>(*window, "chkUntil").setChecked(false);
    Control<QLineEdit>(*window, "txtCard").setText("0000000123");
    QTest::keyClick(&Control<QLineEdit>(*window, "txtCard"), Qt::Key_Return);
    EXPECT_THAT(Cards(*window), ElementsAre("0000000123"));
}

TEST_F(HistoryWindowTest, AControllersHistoryShowsThatControllerOnly) {
    TJournalFilter front;
    front.ConID = 1;
    auto window = Open(THistoryScope::Controller, front);
    EXPECT_EQ(window->windowTitle(), "History of controller Front door");
    EXPECT_EQ(window->findChild<QWidget*>("pnlFilters"), nullptr);
    QTest::mouseClick(&Control<QPushButton>(*window, "cmdMore"), Qt::LeftButton);
    EXPECT_EQ(List(*window).topLevelItemCount(), 225);
    for (int i = 0; i < List(*window).topLevelItemCount(); ++i)
        ASSERT_EQ(List(*window).topLevelItem(i)->text(3), "Front door") << i;
}

// Tab reaches every control of a history, and a screen reader has a name for each, and for each of
// the list's columns.
TEST_F(HistoryWindowTest, TabReachesEveryControlAndAScreenReaderNamesEach) {
    for (const THistoryScope scope : {THistoryScope::Site, THistoryScope::Controller}) {
        auto window = Open(scope);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The period's dates take part once their bounds are on.
        for (const char* bound : {"chkFrom", "chkUntil"})
            if (auto* box = window->findChild<QCheckBox*>(bound))
                box->setChecked(true);
        QList<QWidget*> controls;
        for (QWidget* widget : window->findChildren<QWidget*>())
            if (widget->isVisible() && widget->isEnabled() &&
                (widget->focusPolicy() & Qt::TabFocus))
                controls << widget;
        // A control's inner parts (a date field's text) stand for the control.
        const auto controlOf = [&](QWidget* widget) {
            for (QWidget* at = widget; at; at = at->parentWidget())
                if (controls.contains(at) && !controls.contains(at->parentWidget()))
                    return at;
            return widget;
        };
        controls.removeIf([&](QWidget* widget) { return controlOf(widget) != widget; });

        QSet<QWidget*> reached;
        for (int press = 0; press < 60; ++press) {
            reached.insert(controlOf(QApplication::focusWidget()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        for (QWidget* control : controls) {
            SCOPED_TRACE(control->objectName().toStdString());
            EXPECT_TRUE(reached.contains(control)) << "not reached with Tab";
            EXPECT_FALSE(
                QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).isEmpty());
        }
        EXPECT_TRUE(controls.contains(&List(*window)));
        // Each field says which caption it goes with: by its name, or (a choice box on Linux is
        // named by its choice) by the label relation.
        for (QLabel* caption : window->findChildren<QLabel*>()) {
            if (!caption->buddy())
                continue;
            const QString captionText = QString(caption->text()).remove(u'&');
            QAccessibleInterface* field = QAccessible::queryAccessibleInterface(caption->buddy());
            QStringList labels;
            for (const auto& [label, relation] : field->relations(QAccessible::Label))
                labels << label->text(QAccessible::Name);
            EXPECT_TRUE(field->text(QAccessible::Name) == captionText ||
                        labels.contains(captionText))
                << caption->objectName().toStdString() << ": "
                << field->text(QAccessible::Name).toStdString();
        }

        QStringList headers;
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&List(*window));
        for (int i = 0; i < list->childCount(); ++i)
            if (QAccessibleInterface* child = list->child(i);
                child && child->role() == QAccessible::ColumnHeader)
                headers << child->text(QAccessible::Name);
        EXPECT_EQ(headers, JournalColumnTitles(false));
        EXPECT_EQ(QAccessible::queryAccessibleInterface(&List(*window))->text(QAccessible::Name),
                  "Changes, newest first:");
    }
}

// The reviewer's spreadsheet gets the rows as the window shows them, the titles first.
TEST_F(HistoryWindowTest, ExportWritesTheShownRowsAsCsv) {
    TJournalFilter card;
    card.CardNumber = "0000000007";
    auto window = Open(THistoryScope::CardHolder, card);
    const QString file = Home->Path() + "/history.csv";
    Desktop.AnswerFile(file);
    QTest::mouseClick(&Control<QPushButton>(*window, "cmdExport"), Qt::LeftButton);
    const QTreeWidgetItem* row = List(*window).topLevelItem(0);
    QStringList shown;
    for (int column = 0; column < 6; ++column)
        shown << row->text(column);
    EXPECT_EQ(ReadWholeFile(file), CsvDocument({JournalColumnTitles(false), shown}));
    EXPECT_TRUE(MessageBoxes::ShownMessages().isEmpty());

    // A file that cannot be written is said so, and nothing is left half-written.
    Desktop.AnswerFile(Home->Path() + "/no such folder/history.csv");
    QTest::mouseClick(&Control<QPushButton>(*window, "cmdExport"), Qt::LeftButton);
    ASSERT_EQ(MessageBoxes::ShownMessages().size(), 1);
    EXPECT_EQ(MessageBoxes::ShownMessages()[0].kind, MessageBoxes::Error);
}

// On a server site the history shows, and exports, the database role the server vouches for
// beside what the workstation said: who was signed in there, and where.
class ServerHistoryWindowTest : public ProfileDbTest {
protected:
    TEngine Engine() const override { return TEngine::PostgreSQL; }
};

TEST_F(ServerHistoryWindowTest, ShowsTheDatabaseRoleBesideTheWorkstationsWord) {
    TJournalEntry entry;
    entry.Action = TJournalAction::ControllerAdded;
    entry.ConID = 1;
    entry.ConName = "Front door";
    Exec(AppendJournalStatement(entry, {"anna", "reception"}, QDateTime::currentDateTimeUtc()));
    TfrmHistory window(*Database().Inner, Desktop, THistoryScope::Site, {}, QString(), {});
    window.show();
    QTreeWidget& list = Control<QTreeWidget>(window, "lstEntries");
    QStringList headers;
    for (int column = 0; column < list.columnCount(); ++column)
        headers << list.headerItem()->text(column);
    EXPECT_THAT(headers, ElementsAre("Time", "Signed in as", "On", "Database role", "Controller",
                                     "Card", "Change"));
    ASSERT_EQ(list.topLevelItemCount(), 1);
    const QTreeWidgetItem* row = list.topLevelItem(0);
    EXPECT_EQ(row->text(1), "anna");
    EXPECT_EQ(row->text(2), "reception");
    EXPECT_EQ(row->text(3), "postgres");
    EXPECT_EQ(row->text(4), "Front door");

    const QString file = Home->Path() + "/history.csv";
    Desktop.AnswerFile(file);
    QTest::mouseClick(&Control<QPushButton>(window, "cmdExport"), Qt::LeftButton);
    const QList<QByteArray> lines = ReadWholeFile(file).split('\n');
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains("Signed in as,On,Database role,Controller")) << lines[0].data();
    EXPECT_TRUE(lines[1].contains(",anna,reception,postgres,Front door,")) << lines[1].data();
}

} // namespace
