#pragma once

#include "journal/journal.h"

#include <QDialog>

#include <cstdint>
#include <utility>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class TDesktop;
class TMyDBConnector;

// Whose history a window shows.
enum class THistoryScope { Site, CardHolder, Controller };

// A history from the change journal, newest first, as a list an assistive tool reads row by row.
// It loads a page at a time (the next when the operator scrolls to the end or presses More), so
// that a journal of any length opens at once. The site-wide history filters by period, operator,
// controller and card; a cardholder's or controller's shows that subject only. Export writes the
// rows shown as CSV.
class TfrmHistory : public QDialog {
    Q_OBJECT
public:
    // `subject` picks the cardholder's card or the controller (ignored for the site); `name` is
    // how the title names the subject. `controllers` (ConID, name) fill the site-wide filter.
    TfrmHistory(TMyDBConnector& database, TDesktop& desktop, THistoryScope scope,
                const TJournalFilter& subject, const QString& name,
                const QList<std::pair<int32_t, QString>>& controllers = {},
                QWidget* parent = nullptr);
    ~TfrmHistory() override;

    static constexpr int PageSize = 200;

private:
    QWidget* BuildFilters();
    QTreeWidget* BuildList();
    QHBoxLayout* BuildButtonRow();
    void FormCreate(const QString& name, const QList<std::pair<int32_t, QString>>& controllers);

    TJournalFilter ChosenFilter() const;
    // A server vouches for each entry's database role, which the list then shows.
    bool ServerSite() const;
    void Reload();
    void LoadMore();
    void Export();

    TMyDBConnector& FDatabase;
    TDesktop& FDesktop;
    const THistoryScope FScope;
    TJournalFilter FFilter; // what the shown rows were read with
    int64_t FOldestShown = 0;
    bool FAtEnd = false;

    QCheckBox* chkFrom = nullptr;
    QDateEdit* dtpFrom = nullptr;
    QCheckBox* chkUntil = nullptr;
    QDateEdit* dtpUntil = nullptr;
    QComboBox* cboOperator = nullptr;
    QComboBox* cboController = nullptr;
    QLineEdit* txtCard = nullptr;
    QPushButton* cmdApply = nullptr;
    QLabel* lblEntries;
    QTreeWidget* lstEntries;
    QLabel* lblStatusText;
    QPushButton* cmdMore;
    QPushButton* cmdExport;
    QPushButton* cmdClose;
};

// The histories as the menus open them, modal over `parent`.
void ShowCardHolderHistory(QWidget* parent, TMyDBConnector& database, TDesktop& desktop,
                           const QString& cardNumber, const QString& cardHolder);
void ShowControllerHistory(QWidget* parent, TMyDBConnector& database, TDesktop& desktop,
                           int32_t conId, const QString& conName);
void ShowSiteHistory(QWidget* parent, TMyDBConnector& database, TDesktop& desktop,
                     const QList<std::pair<int32_t, QString>>& controllers);
