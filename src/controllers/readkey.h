#pragma once

#include <QDialog>

#include <memory>

class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTreeWidget;
class QVBoxLayout;
class TCardPollerLink;
class TProfileSession;
struct TRunSettings;
struct TCardOnAdapter;
struct TKeyRead;
struct TKeyReport;

// Shows what a memory key holds: waits until a key lies on the adapter, has the card poller read
// its 512 bytes, and tells whose key it is, whom each entry lets in, whether it still says what
// the database says (and if not, what differs), and which cards it admits without a grant.
// Nothing is ever written, to the key or to the database.
//
//   Waiting  -- a DS1993 -->  Reading  -- read -->  Shown
//      ^                                               |
//      +------------------ Read again -----------------+
//   A device of another family, a key lifted, blank or damaged: a message, then Shown with
//   nothing in the lists. An adapter failure stops the reading for good.
class TfrmReadKey : public QDialog {
    Q_OBJECT
public:
    // With `borrowedPoller` the window reads through a window's link that is already open on the
    // adapter (and leaves it open); without, it opens a link of its own.
    TfrmReadKey(TProfileSession& session, const TRunSettings& settings,
                TCardPollerLink* borrowedPoller = nullptr, QWidget* parent = nullptr);
    ~TfrmReadKey() override;

private:
    QLayout* BuildKeyRows();
    QLayout* BuildLists();
    QHBoxLayout* BuildButtonRow();
    void FormCreate();

    void Wait();
    void CardRead(const TCardOnAdapter& card);
    void KeyRead(int result);
    void ReaderFailed();
    void NothingShown(const QString& status);
    void ShowReport(const TKeyReport& report);

    QLabel* lblStatusText;
    QLabel* lblKey;
    QLabel* lblController;
    QLabel* lblMatch;
    QLabel* lblEntries;
    QTreeWidget* lstEntries;
    QLabel* lblDifferences;
    QTreeWidget* lstDifferences;
    QLabel* lblAdmits;
    QTreeWidget* lstAdmits;
    QPushButton* cmdReadAgain;
    QPushButton* cmdClose;

    TProfileSession& FSession;
    const TRunSettings& FSettings;
    TCardPollerLink* FPoller = nullptr; // none when the reader could not be made
    std::shared_ptr<TKeyRead> FRead;
};
