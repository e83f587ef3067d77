#pragma once

#include "cardholders/cardholdersave.h"
#include "shared/publictypes.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

class TMyDBConnector;

// The filters of the cardholder list, as typed (an empty one filters nothing).
struct TCardHolderFilter {
    QString CardHolder;
    QString CardCustom1;
    QString CardCustom2;
};

// Reads the cardholders that are not deleted, in the database's order by name, each with one
// zone per controller of `controllers` (0 where the card has no row). False when the cardholder
// query failed; a failed zone query leaves every card without zones.
bool ReadCardHolders(TMyDBConnector& database, const TCardHolderFilter& filter,
                     const std::vector<std::unique_ptr<TStandController>>& controllers,
                     std::vector<std::unique_ptr<TCardHolder>>& records);

// The rows of the cardholder list: one TCardHolder per row, owned by the model. Columns 0 to 3 are
// the number, the name and the first two custom texts; column 4 + i is the card's zone at
// controller i of the list the model was made with (its ZoneRole; no text).
//
// Zone changes and deletions go to the database at once and mark the controllers concerned, so
// the main window knows which memory keys must be written again.
class TCardHolderModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int CardNumberColumn = 0;
    static constexpr int CardHolderColumn = 1;
    static constexpr int FirstZoneColumn = 4;
    static constexpr int ZoneRole = Qt::UserRole + 1;

    // `controllers` must outlive the model and keep its records while the model lives.
    explicit TCardHolderModel(std::vector<std::unique_ptr<TStandController>>& controllers,
                              QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // One title per column.
    void SetHeaders(const QStringList& titles);

    // Replaces all rows; false (and no rows) when the cardholder query failed.
    bool Load(TMyDBConnector* database, const TCardHolderFilter& filter);
    // Replaces all rows with records read elsewhere (each with a zone per controller column).
    void Replace(std::vector<std::unique_ptr<TCardHolder>> records);
    void Clear();
    // The row of the card with exactly this number, or -1.
    int RowOf(const QString& cardNumber) const;

    TCardHolder* Record(int row) const;
    int ControllerCount() const { return FControllerCount; }

    // Moves the card of `row` at controller `controllerIndex` to the zone after the one the
    // database holds (CycleCardZone), and marks the controller as changed. Returns the new zone;
    // ZoneCardGone or ZoneFailed (cardholdersave.h) when nothing changed, not the record, not the
    // mark.
    int CycleZone(int row, int controllerIndex, TMyDBConnector* database,
                  const TJournalAuthor& author);

    // Marks the cardholder of `row` deleted and drops every zone row of its number; the
    // controllers where the database held a zone above 0 are marked as changed and the row goes.
    // A cardholder already deleted elsewhere leaves the list too; a failure changes nothing.
    TCardHolderDelete DeleteCardHolder(int row, TMyDBConnector* database,
                                       const TJournalAuthor& author);

    // Takes over what the cardholder dialog saved for `row`. A replaced card lost its zones in the
    // database, so the row loses them too.
    void UpdateCardHolder(int row, const TCardHolder& saved);

    // Stable in both directions: rows that compare equal keep their order. Columns 0 to 3 compare
    // by the user's locale, ignoring case; other columns leave the rows as they are.
    void Sort(int column, Qt::SortOrder order);

private:
    std::vector<std::unique_ptr<TStandController>>& FControllers;
    int FControllerCount; // the columns are made once, when the window opens
    std::vector<std::unique_ptr<TCardHolder>> FRecords;
    QStringList FHeaders;
};
