#include "cardholders/cardholdermodel.h"

#include "cardholders/cardholdersave.h"
#include "cardholders/cardholderstatements.h"
#include "cardholders/cardnumber.h"
#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QHash>
#include <QLocale>

#include <algorithm>
#include <numeric>

namespace {

// Card numbers compare in the database ignoring the case of A-Z (and of nothing else), so the
// zones of "0a1b2c3d4e" belong to the cardholder "0A1B2C3D4E"; the join in memory does the same.
QString CardNumberKey(const QString& cardNumber) {
    QString key = cardNumber;
    for (QChar& c : key)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
    return key;
}

// Every card's zones by its number key, each entry in controller-list order. A zone row whose
// controller is not in the list is passed over; where several rows name the same controller the
// one read last counts, as the statement returns them (by number, controller and zone).
QHash<QString, QVector<int32_t>>
ReadAllZones(TMyDBConnector& database,
             const std::vector<std::unique_ptr<TStandController>>& controllers) {
    QHash<int, int> controllerIndex;
    for (int i = int(controllers.size()) - 1; i >= 0; --i)
        controllerIndex.insert(controllers[size_t(i)]->ConID, i); // the first of equal IDs wins
    QHash<QString, QVector<int32_t>> zones;
    if (const std::unique_ptr<TMyResultSet> rows = database.Query(AllCardZonesStatement())) {
        QString lastKey;
        QVector<int32_t>* cardZones = nullptr;
        for (rows->First(); !rows->Eof(); rows->Next()) {
            const auto index = controllerIndex.constFind(rows->Fields(1).AsInteger());
            if (index == controllerIndex.constEnd())
                continue;
            const QString number = rows->Fields(0).AsString();
            if (!cardZones || number != lastKey) {
                lastKey = number;
                auto card = zones.find(CardNumberKey(number));
                if (card == zones.end())
                    card = zones.insert(CardNumberKey(number),
                                        QVector<int32_t>(qsizetype(controllers.size()), 0));
                cardZones = &card.value();
            }
            (*cardZones)[index.value()] = rows->Fields(2).AsInteger();
        }
    }
    return zones;
}

QCollator TextCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates); // as the database orders names
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

const QString& SortText(const TCardHolder& record, int column) {
    switch (column) {
    case 0:
        return record.CardNumber;
    case 1:
        return record.CardHolder;
    case 2:
        return record.CardCustom1;
    default:
        return record.CardCustom2;
    }
}

} // namespace

bool ReadCardHolders(TMyDBConnector& database, const TCardHolderFilter& filter,
                     const std::vector<std::unique_ptr<TStandController>>& controllers,
                     std::vector<std::unique_ptr<TCardHolder>>& records) {
    records.clear();
    const std::unique_ptr<TMyResultSet> rows = database.Query(
        CardHolderListStatement(filter.CardHolder, filter.CardCustom1, filter.CardCustom2));
    if (!rows)
        return false;
    records.reserve(size_t(rows->RecordCount()));
    // The columns in the order the statement selects them.
    for (rows->First(); !rows->Eof(); rows->Next()) {
        auto record = std::make_unique<TCardHolder>();
        record->CardNumber = rows->Fields(0).AsString();
        record->CardHolder = CardText(rows->Fields(1).AsString());
        record->CardCustom1 = CardText(rows->Fields(2).AsString());
        record->CardCustom2 = CardText(rows->Fields(3).AsString());
        record->CardCustom3 = CardText(rows->Fields(4).AsString());
        record->CardCustom4 = CardText(rows->Fields(5).AsString());
        record->CardInactive = rows->Fields(6).AsDateTime();
        records.push_back(std::move(record));
    }

    const QHash<QString, QVector<int32_t>> zones = ReadAllZones(database, controllers);
    const QVector<int32_t> none(qsizetype(controllers.size()), 0);
    for (auto& record : records)
        record->CardZones = zones.value(CardNumberKey(record->CardNumber), none);
    return true;
}

TCardHolderModel::TCardHolderModel(std::vector<std::unique_ptr<TStandController>>& controllers,
                                   QObject* parent)
    : QAbstractTableModel(parent), FControllers(controllers),
      FControllerCount(int(controllers.size())) {}

int TCardHolderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(FRecords.size());
}

int TCardHolderModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FirstZoneColumn + FControllerCount;
}

QVariant TCardHolderModel::data(const QModelIndex& index, int role) const {
    const TCardHolder* record = Record(index.row());
    if (!record || index.column() < 0 || index.column() >= columnCount())
        return {};
    if (index.column() >= FirstZoneColumn) {
        if (role != ZoneRole)
            return {};
        const int controller = index.column() - FirstZoneColumn;
        return controller < record->CardZones.size() ? record->CardZones[controller] : 0;
    }
    if (role != Qt::DisplayRole)
        return {};
    return SortText(*record, index.column());
}

QVariant TCardHolderModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= FHeaders.size())
        return {};
    return FHeaders[section];
}

void TCardHolderModel::SetHeaders(const QStringList& titles) {
    FHeaders = titles;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

bool TCardHolderModel::Load(TMyDBConnector* database, const TCardHolderFilter& filter) {
    std::vector<std::unique_ptr<TCardHolder>> records;
    const bool loaded = database && ReadCardHolders(*database, filter, FControllers, records);
    Replace(std::move(records));
    return loaded;
}

void TCardHolderModel::Replace(std::vector<std::unique_ptr<TCardHolder>> records) {
    beginResetModel();
    FRecords = std::move(records);
    endResetModel();
}

int TCardHolderModel::RowOf(const QString& cardNumber) const {
    for (size_t row = 0; row < FRecords.size(); ++row)
        if (FRecords[row]->CardNumber == cardNumber)
            return int(row);
    return -1;
}

void TCardHolderModel::Clear() {
    beginResetModel();
    FRecords.clear();
    endResetModel();
}

TCardHolder* TCardHolderModel::Record(int row) const {
    return row >= 0 && size_t(row) < FRecords.size() ? FRecords[size_t(row)].get() : nullptr;
}

int TCardHolderModel::CycleZone(int row, int controllerIndex, TMyDBConnector* database,
                                const TJournalAuthor& author) {
    TCardHolder* record = Record(row);
    if (!record || !database || controllerIndex < 0 || controllerIndex >= FControllerCount ||
        size_t(controllerIndex) >= FControllers.size())
        return ZoneFailed;
    TStandController& controller = *FControllers[size_t(controllerIndex)];
    const int next = CycleCardZone(*database, record->CardNumber, controller.ConID, author);
    if (next < 0)
        return next;
    if (record->CardZones.size() < FControllerCount)
        record->CardZones.resize(FControllerCount, 0);
    record->CardZones[controllerIndex] = next;
    controller.ChangesMade = true;
    const QModelIndex cell = index(row, FirstZoneColumn + controllerIndex);
    emit dataChanged(cell, cell);
    return next;
}

TCardHolderDelete TCardHolderModel::DeleteCardHolder(int row, TMyDBConnector* database,
                                                     const TJournalAuthor& author) {
    TCardHolder* record = Record(row);
    if (!record || !database)
        return TCardHolderDelete::Failed;
    const TCardHolderDelete deleted =
        DeleteCardHolderAndZones(*database, record->CardNumber, FControllers, author);
    // A cardholder deleted elsewhere leaves the list as well.
    if (deleted == TCardHolderDelete::Failed)
        return deleted;
    beginRemoveRows({}, row, row);
    FRecords.erase(FRecords.begin() + row);
    endRemoveRows();
    return deleted;
}

void TCardHolderModel::UpdateCardHolder(int row, const TCardHolder& saved) {
    TCardHolder* record = Record(row);
    if (!record)
        return;
    if (saved.CardNumber != record->CardNumber)
        record->CardZones.fill(0);
    record->CardNumber = saved.CardNumber;
    record->CardHolder = CardText(saved.CardHolder);
    record->CardCustom1 = CardText(saved.CardCustom1);
    record->CardCustom2 = CardText(saved.CardCustom2);
    record->CardCustom3 = CardText(saved.CardCustom3);
    record->CardCustom4 = CardText(saved.CardCustom4);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void TCardHolderModel::Sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= FirstZoneColumn || FRecords.size() < 2)
        return;
    // One sort key per row instead of a locale comparison per pair: a list of thousands sorts in
    // a blink that way.
    const QCollator collator = TextCollator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(FRecords.size());
    for (const auto& record : FRecords)
        keys.push_back(collator.sortKey(SortText(*record, column)));
    std::vector<size_t> sorted(FRecords.size());
    std::iota(sorted.begin(), sorted.end(), size_t(0));
    if (order == Qt::AscendingOrder)
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    else
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](size_t a, size_t b) { return keys[b].compare(keys[a]) < 0; });

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRow(FRecords.size());
    std::vector<std::unique_ptr<TCardHolder>> records(FRecords.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        newRow[sorted[i]] = int(i);
        records[i] = std::move(FRecords[sorted[i]]);
    }
    FRecords = std::move(records);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after << index(newRow[size_t(old.row())], old.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
