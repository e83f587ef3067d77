// The main window's controller list.
#include "app/main.h"

#include "db/MyDBConnector.h"
#include "shared/messagebox.h"
#include "shared/publictypes.h"
#include "shared/translation.h"

#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

void TfrmMain::BuildControllerList() {
    VSTControllers->setColumnCount(6);
    VSTControllers->setHeaderLabels(
        {QString(), N_("Controller"), N_("Type"), N_("Number of cards"), QString(), QString()});
    VSTControllers->setRootIsDecorated(false);
    VSTControllers->setSelectionMode(QAbstractItemView::SingleSelection);
    VSTControllers->setSelectionBehavior(QAbstractItemView::SelectRows);
    VSTControllers->header()->setSectionsMovable(true);
    VSTControllers->setColumnWidth(1, 130);
    VSTControllers->setColumnWidth(2, 60);
    VSTControllers->setColumnWidth(4, 25);
    VSTControllers->setColumnWidth(5, 100);
}

void TfrmMain::LoadControllers() {
    FreeControllers();
    TMyResultSet* rows = nullptr;
    if (DBConnection && DBConnection->Query("SELECT * FROM Controllers ORDER BY ConName ASC", rows)) {
        for (rows->First(); !rows->Eof(); rows->Next()) {
            auto controller = std::make_unique<TStandController>();
            controller->ConID = rows->FieldByName("ConID").AsInteger();
            controller->ConType = rows->FieldByName("ConType").AsString();
            controller->ConName = rows->FieldByName("ConName").AsString();
            controller->ConCode = rows->FieldByName("ConCode").AsString();
            controller->ConByte1 = uint8_t(rows->FieldByName("ConByte1").AsInteger());
            controller->ConByte2 = uint8_t(rows->FieldByName("ConByte2").AsInteger());
            ControllerList.push_back(std::move(controller));
        }
    }
    if (DBConnection)
        DBConnection->DestroyQuery(rows);
    lblSubTitle->setText(FormatText(_("Currently listing %d controllers"),
                                    {QString::number(ControllerList.size())}));
}

void TfrmMain::ShowControllers() {
    VSTControllers->clear();
    for (size_t i = 0; i < ControllerList.size(); ++i) {
        TStandController& controller = *ControllerList[i];
        controller.ListNum = int32_t(i + 1);
        auto* row = new QTreeWidgetItem(VSTControllers);
        row->setText(0, QString::number(controller.ListNum));
        row->setText(1, controller.ConName);
        row->setText(2, controller.ConType);
    }
}

void TfrmMain::CountCards() {
    for (size_t i = 0; i < ControllerList.size(); ++i) {
        TStandController& controller = *ControllerList[i];
        controller.CardCount = 0;
        TMyResultSet* rows = nullptr;
        if (DBConnection &&
            DBConnection->Query("SELECT COUNT(*) FROM CardZones WHERE (ConID = " +
                                    QString::number(controller.ConID) + ") AND (ZoneID > 0)",
                                rows) &&
            rows->RecordCount() > 0)
            controller.CardCount = rows->Fields(0).AsInteger();
        if (DBConnection)
            DBConnection->DestroyQuery(rows);
        if (QTreeWidgetItem* row = VSTControllers->topLevelItem(int(i)))
            row->setText(3, QString::number(controller.CardCount));
    }
}

void TfrmMain::FreeControllers() {
    VSTControllers->clear();
    ControllerList.clear();
}

int TfrmMain::ChangedControllerCount() const {
    int count = 0;
    for (const auto& controller : ControllerList)
        count += controller->ChangesMade ? 1 : 0;
    return count;
}

void TfrmMain::cmdAddControllerClick() {}

void TfrmMain::cmdCardholdersClick() {
    CountCards();
}

bool TfrmMain::FormCloseQuery() {
    const int changed = ChangedControllerCount();
    if (changed == 0)
        return true;
    return MessageBoxes::Confirm(
        this, FormatText(_("There are controllers (%d) that need to be updated, are you sure you "
                           "want to close the application?"),
                         {QString::number(changed)}));
}
