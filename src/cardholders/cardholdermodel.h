#pragma once

#include "cardholders/cardholdersave.h"
#include "shared/publictypes.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QSet>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

class TMyDBConnector;

// The filters of the cardholder list, as typed (an empty one filters nothing).
struct TCardHolderFilter {
    QString CardHolder;
    QString CardCustom1;
    QString CardCustom2;
};

// Card numbers compare in the database ignoring the case of A-Z (and of nothing else), so the
// zones of "0a1b2c3d4e" belong to the cardholder "0A1B2C3D4E"; what joins or matches numbers in
// memory goes by this key.
QString CardNumberKey(const QString& cardNumber);

// Reads the cardholders that are not deleted, in the database's order by name, each with one
// zone per controller of `controllers` (0 where the card has no row). False, and no records, when
// a query failed (the reason in the connector's last error).
bool ReadCardHolders(TMyDBConnector& database, const TCardHolderFilter& filter,
                     const std::vector<std::unique_ptr<TStandController>>& controllers,
                     std::vector<std::unique_ptr<TCardHolder>>& records);
// The same, only for the cards whose number key (CardNumberKey) is among `keys`.
bool ReadCardHoldersOf(TMyDBConnector& database, const TCardHolderFilter& filter,
                       const std::vector<std::unique_ptr<TStandController>>& controllers,
                       const QSet<QString>& keys,
                       std::vector<std::unique_ptr<TCardHolder>>& records);

// A zone column of the cardholder list: the controller it shows.
struct TZoneColumn {
    int32_t ConID = 0;
    QString ConName;
    friend bool operator==(const TZoneColumn&, const TZoneColumn&) = default;
};

// The rows of the cardholder list: one TCardHolder per row, owned by the model. Columns 0 to 3 are
// the number, the name and the first two custom texts; column 4 + i is the card's zone at the
// controller of zone column i (its ZoneRole; no text), at first those of the list the model was
// made with.
//
// Zone changes and deletions are written by the open profile's writer; the model shows their
// outcome and marks the controllers concerned, so the main window knows which memory keys must be
// written again.
class TCardHolderModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int CardNumberColumn = 0;
    static constexpr int CardHolderColumn = 1;
    static constexpr int FirstZoneColumn = 4;
    static constexpr int ZoneRole = Qt::UserRole + 1;

    // `controllers` must outlive the model; a zone click marks the record of its controller there,
    // when there is one.
    explicit TCardHolderModel(std::vector<std::unique_ptr<TStandController>>& controllers,
                              QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The titles of the columns before the zones; a zone column is titled with its controller's
    // name.
    void SetHeaders(const QStringList& titles);

    const QVector<TZoneColumn>& ZoneColumns() const { return FColumns; }
    // The zone columns become those of `columns`: the columns of controllers that went leave,
    // new ones come in with zone 0 on every row (the rows' zones come with the next Merge), and
    // the others move along with their zones, so the view keeps what it knows of them.
    void SetZoneColumns(const QVector<TZoneColumn>& columns);

    // Replaces all rows; false, and the rows as they were, when the database could not be read
    // (the reason in its last error).
    bool Load(TMyDBConnector* database, const TCardHolderFilter& filter);
    // Replaces all rows with records read elsewhere (each with a zone per controller column).
    void Replace(std::vector<std::unique_ptr<TCardHolder>> records);
    void Clear();
    // Takes over `records` (a read of the whole list when `within` is nothing, else of the cards
    // whose number key is in `within`): rows of those cards that are gone leave, changed rows
    // change in place and move to where the current sort puts them, and new rows come in there.
    // Rows that did not change stay untouched, so the view keeps its selection and position. Too
    // many changes at once (or card numbers held twice) replace the rows instead, sorted as
    // before; true then.
    bool Merge(std::vector<std::unique_ptr<TCardHolder>> records,
               const std::optional<QSet<QString>>& within);
    // The row of the card with exactly this number, or -1.
    int RowOf(const QString& cardNumber) const;

    TCardHolder* Record(int row) const;
    int ControllerCount() const { return int(FColumns.size()); }

    // Shows a zone click the session's writer ran (CycleCardZone): the card's row gets the new
    // zone and the controller its mark. A click that changed nothing changes nothing here either.
    void ZoneWritten(const TZoneClickWrite& click);

    // Shows a deletion the session's writer ran (DeleteCardHolderAndZones): the chosen cardholder's
    // row goes, also when another workstation deleted them first, and the controllers where the
    // database held a zone above 0 are marked. A failure, or a cardholder changed elsewhere,
    // leaves the list as it is.
    void DeleteWritten(const TCardHolderDeleteWrite& deletion);

    // Takes over what the cardholder dialog saved for `row`. A replaced card lost its zones in the
    // database, so the row loses them too.
    void UpdateCardHolder(int row, const TCardHolder& saved);

    // Stable in both directions: rows that compare equal keep their order. Columns 0 to 3 compare
    // by the user's locale, ignoring case; other columns leave the rows as they are. A load
    // leaves the rows in the database's order by name, which counts as sorted by name ascending.
    void Sort(int column, Qt::SortOrder order);

private:
    // Where the current sort puts `record` among the first `count` rows (which are in order),
    // after those equal to it: by the sorted column, then by name as the load orders them.
    int SortedPosition(const TCardHolder& record, int count) const;
    void MoveRow(int from, int to);
    void RemoveRows(std::vector<int> rows);

    std::vector<std::unique_ptr<TStandController>>& FControllers;
    QVector<TZoneColumn> FColumns;
    std::vector<std::unique_ptr<TCardHolder>> FRecords;
    QStringList FHeaders;
    int FSortColumn = CardHolderColumn;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
    QCollator FCollator;
};
