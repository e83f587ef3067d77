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

// Every card's zones by its number key, each entry in controller-list order. A zone row whose
// controller is not in the list is passed over; where several rows name the same controller the
// one read last counts, as the statement returns them (by number, controller and zone). Nothing
// when the query failed: zone 0 everywhere would read as "no access" at every door.
std::optional<QHash<QString, QVector<int32_t>>>
ReadZones(TMyDBConnector& database,
          const std::vector<std::unique_ptr<TStandController>>& controllers,
          const TMyStatement& statement) {
    QHash<int, int> controllerIndex;
    for (int i = int(controllers.size()) - 1; i >= 0; --i)
        controllerIndex.insert(controllers[size_t(i)]->ConID, i); // the first of equal IDs wins
    const std::unique_ptr<TMyResultSet> rows = database.Query(statement);
    if (!rows)
        return std::nullopt;
    QHash<QString, QVector<int32_t>> zones;
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

namespace {

bool ReadCardHolderRows(TMyDBConnector& database, const TMyStatement& statement,
                        std::vector<std::unique_ptr<TCardHolder>>& records) {
    records.clear();
    const std::unique_ptr<TMyResultSet> rows = database.Query(statement);
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
    return true;
}

// False, and the records dropped, when the zones could not be read.
bool JoinZones(std::vector<std::unique_ptr<TCardHolder>>& records,
               const std::optional<QHash<QString, QVector<int32_t>>>& zones,
               size_t controllerCount) {
    if (!zones) {
        records.clear();
        return false;
    }
    const QVector<int32_t> none(qsizetype(controllerCount), 0);
    for (auto& record : records)
        record->CardZones = zones->value(CardNumberKey(record->CardNumber), none);
    return true;
}

bool SameRecord(const TCardHolder& a, const TCardHolder& b) {
    return a.CardNumber == b.CardNumber && a.CardHolder == b.CardHolder &&
           a.CardCustom1 == b.CardCustom1 && a.CardCustom2 == b.CardCustom2 &&
           a.CardCustom3 == b.CardCustom3 && a.CardCustom4 == b.CardCustom4 &&
           a.CardInactive == b.CardInactive && a.CardAdded == b.CardAdded &&
           a.CardLastEdit == b.CardLastEdit && a.CardZones == b.CardZones;
}

// Beyond this many rows coming, going or moving, one reset costs the view less than the single
// steps.
constexpr size_t MostSingleSteps = 2000;

} // namespace

QString CardNumberKey(const QString& cardNumber) {
    // Most numbers are their own key: those share the text instead of copying it, which counts
    // when a list of tens of thousands is matched against a fresh read.
    const auto lower = [](QChar c) { return c >= u'a' && c <= u'z'; };
    if (std::none_of(cardNumber.begin(), cardNumber.end(), lower))
        return cardNumber;
    QString key = cardNumber;
    for (QChar& c : key)
        if (lower(c))
            c = QChar(c.unicode() - u'a' + u'A');
    return key;
}

bool ReadCardHolders(TMyDBConnector& database, const TCardHolderFilter& filter,
                     const std::vector<std::unique_ptr<TStandController>>& controllers,
                     std::vector<std::unique_ptr<TCardHolder>>& records) {
    if (!ReadCardHolderRows(
            database,
            CardHolderListStatement(filter.CardHolder, filter.CardCustom1, filter.CardCustom2),
            records))
        return false;
    return JoinZones(records, ReadZones(database, controllers, AllCardZonesStatement()),
                     controllers.size());
}

bool ReadCardHoldersOf(TMyDBConnector& database, const TCardHolderFilter& filter,
                       const std::vector<std::unique_ptr<TStandController>>& controllers,
                       const QSet<QString>& keys,
                       std::vector<std::unique_ptr<TCardHolder>>& records) {
    records.clear();
    if (keys.isEmpty())
        return true;
    QStringList numbers = keys.values();
    numbers.sort();
    if (!ReadCardHolderRows(database,
                            CardHolderListStatement(filter.CardHolder, filter.CardCustom1,
                                                    filter.CardCustom2, numbers),
                            records))
        return false;
    // The server folds the case of more letters than the key does: what it found beyond the
    // keys is no part of the read.
    std::erase_if(records, [&](const std::unique_ptr<TCardHolder>& record) {
        return !keys.contains(CardNumberKey(record->CardNumber));
    });
    return JoinZones(records, ReadZones(database, controllers, CardZonesOfCardsStatement(numbers)),
                     controllers.size());
}

TCardHolderModel::TCardHolderModel(std::vector<std::unique_ptr<TStandController>>& controllers,
                                   QObject* parent)
    : QAbstractTableModel(parent), FControllers(controllers), FCollator(TextCollator()) {
    for (const auto& controller : controllers)
        FColumns.append({controller->ConID, controller->ConName});
}

int TCardHolderModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(FRecords.size());
}

int TCardHolderModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FirstZoneColumn + int(FColumns.size());
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
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0)
        return {};
    if (section >= FirstZoneColumn && section < columnCount())
        return FColumns[section - FirstZoneColumn].ConName;
    return section < FHeaders.size() ? FHeaders[section] : QVariant();
}

void TCardHolderModel::SetHeaders(const QStringList& titles) {
    FHeaders = titles;
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

bool TCardHolderModel::Load(TMyDBConnector* database, const TCardHolderFilter& filter) {
    // The zones at the controllers of the columns, which may have followed other workstations'
    // changes ahead of the main window's records.
    std::vector<std::unique_ptr<TStandController>> columns;
    for (const TZoneColumn& column : FColumns) {
        columns.push_back(std::make_unique<TStandController>());
        columns.back()->ConID = column.ConID;
    }
    std::vector<std::unique_ptr<TCardHolder>> records;
    if (!database || !ReadCardHolders(*database, filter, columns, records))
        return false;
    Replace(std::move(records));
    return true;
}

void TCardHolderModel::Replace(std::vector<std::unique_ptr<TCardHolder>> records) {
    beginResetModel();
    FRecords = std::move(records);
    FSortColumn = CardHolderColumn;
    FSortOrder = Qt::AscendingOrder;
    endResetModel();
}

void TCardHolderModel::SetZoneColumns(const QVector<TZoneColumn>& columns) {
    QSet<int32_t> kept;
    for (const TZoneColumn& column : columns)
        kept.insert(column.ConID);
    for (int i = int(FColumns.size()) - 1; i >= 0; --i) {
        if (kept.contains(FColumns[i].ConID))
            continue;
        beginRemoveColumns({}, FirstZoneColumn + i, FirstZoneColumn + i);
        FColumns.remove(i);
        for (auto& record : FRecords)
            if (i < record->CardZones.size())
                record->CardZones.remove(i);
        endRemoveColumns();
    }
    for (int target = 0; target < columns.size(); ++target) {
        int at = target;
        while (at < FColumns.size() && FColumns[at].ConID != columns[target].ConID)
            ++at;
        if (at == FColumns.size()) {
            beginInsertColumns({}, FirstZoneColumn + target, FirstZoneColumn + target);
            FColumns.insert(target, columns[target]);
            for (auto& record : FRecords)
                if (target <= record->CardZones.size())
                    record->CardZones.insert(target, 0);
            endInsertColumns();
            continue;
        }
        FColumns[at].ConName = columns[target].ConName;
        if (at == target)
            continue;
        beginMoveColumns({}, FirstZoneColumn + at, FirstZoneColumn + at, {},
                         FirstZoneColumn + target);
        FColumns.move(at, target);
        for (auto& record : FRecords)
            if (at < record->CardZones.size() && target < record->CardZones.size())
                record->CardZones.move(at, target);
        endMoveColumns();
    }
    if (!FColumns.isEmpty())
        emit headerDataChanged(Qt::Horizontal, FirstZoneColumn, columnCount() - 1);
}

int TCardHolderModel::SortedPosition(const TCardHolder& record, int count) const {
    const QString& text = SortText(record, FSortColumn);
    int low = 0;
    int high = count;
    while (low < high) {
        const int middle = (low + high) / 2;
        const TCardHolder& other = *FRecords[size_t(middle)];
        const int order = FCollator.compare(text, SortText(other, FSortColumn));
        bool before = FSortOrder == Qt::AscendingOrder ? order < 0 : order > 0;
        // A sort is stable over rows loaded by name: among equal texts the names go up.
        if (order == 0 && FSortColumn != CardHolderColumn)
            before = FCollator.compare(record.CardHolder, other.CardHolder) < 0;
        if (before)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

void TCardHolderModel::MoveRow(int from, int to) {
    if (from == to)
        return;
    // The view counts the destination among the rows before the move.
    beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
    std::unique_ptr<TCardHolder> taken = std::move(FRecords[size_t(from)]);
    FRecords.erase(FRecords.begin() + from);
    FRecords.insert(FRecords.begin() + to, std::move(taken));
    endMoveRows();
}

void TCardHolderModel::RemoveRows(std::vector<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (size_t i = 0; i < rows.size();) {
        // One step per run of neighbouring rows.
        size_t end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] - 1)
            ++end;
        const int first = rows[end - 1];
        const int last = rows[i];
        beginRemoveRows({}, first, last);
        FRecords.erase(FRecords.begin() + first, FRecords.begin() + last + 1);
        endRemoveRows();
        i = end;
    }
}

bool TCardHolderModel::Merge(std::vector<std::unique_ptr<TCardHolder>> records,
                             const std::optional<QSet<QString>>& within) {
    const auto inScope = [&](const QString& key) { return !within || within->contains(key); };
    // Each key's record (or row), or Twice when it has more than one.
    constexpr qsizetype Twice = -1;
    constexpr qsizetype Absent = -2;
    QHash<QString, qsizetype> fresh;
    fresh.reserve(qsizetype(records.size()));
    std::vector<bool> inRead(records.size(), false);
    for (size_t i = 0; i < records.size(); ++i) {
        const QString key = CardNumberKey(records[i]->CardNumber);
        if (!inScope(key))
            continue;
        inRead[i] = true;
        const auto found = fresh.find(key);
        if (found == fresh.end())
            fresh.insert(key, qsizetype(i));
        else
            found.value() = Twice;
    }
    std::vector<QString> keys(FRecords.size());
    QHash<QString, qsizetype> shown;
    shown.reserve(qsizetype(FRecords.size()));
    for (size_t row = 0; row < FRecords.size(); ++row) {
        keys[row] = CardNumberKey(FRecords[row]->CardNumber);
        if (!inScope(keys[row]))
            continue;
        const auto found = shown.find(keys[row]);
        if (found == shown.end())
            shown.insert(keys[row], qsizetype(row));
        else
            found.value() = Twice;
    }

    // A card on one row before and after changes in place; any other card's rows go and its new
    // ones come, which also covers a number held twice in an older database.
    std::vector<std::pair<int, size_t>> updates;
    std::vector<int> gone;
    std::vector<bool> placed(records.size(), false);
    for (size_t row = 0; row < FRecords.size(); ++row) {
        if (!inScope(keys[row]))
            continue;
        const qsizetype coming = fresh.value(keys[row], Absent);
        if (shown.value(keys[row]) != Twice && coming >= 0) {
            updates.emplace_back(int(row), size_t(coming));
            placed[size_t(coming)] = true;
        } else {
            gone.push_back(int(row));
        }
    }
    std::vector<TCardHolder*> moving;
    std::vector<int> changed;
    for (const auto& [row, i] : updates) {
        if (SameRecord(*FRecords[size_t(row)], *records[i]))
            continue;
        const TCardHolder& before = *FRecords[size_t(row)];
        if (SortText(before, FSortColumn) != SortText(*records[i], FSortColumn) ||
            before.CardHolder != records[i]->CardHolder)
            moving.push_back(FRecords[size_t(row)].get());
        changed.push_back(row);
    }
    size_t coming = 0;
    for (size_t i = 0; i < records.size(); ++i)
        if (!placed[i] && inRead[i])
            ++coming;
    if (gone.size() + coming + moving.size() > MostSingleSteps) {
        // Only a read of the whole list gets this far.
        std::vector<std::unique_ptr<TCardHolder>> all;
        if (within)
            for (auto& record : FRecords)
                if (!inScope(CardNumberKey(record->CardNumber)))
                    all.push_back(std::move(record));
        for (size_t i = 0; i < records.size(); ++i)
            if (inRead[i])
                all.push_back(std::move(records[i]));
        const int column = FSortColumn;
        const Qt::SortOrder order = FSortOrder;
        Replace(std::move(all));
        if (within || column != CardHolderColumn || order != Qt::AscendingOrder)
            Sort(column, order);
        return true;
    }

    for (const auto& [row, i] : updates)
        if (!SameRecord(*FRecords[size_t(row)], *records[i]))
            *FRecords[size_t(row)] = std::move(*records[i]);
    for (const int row : changed)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    RemoveRows(gone);
    // Rows whose place changed go to the end first, so that the rows before them are in order
    // while each finds its place; moves keep the view's hold on a row (its selection).
    for (TCardHolder* record : moving) {
        const auto found = std::find_if(FRecords.begin(), FRecords.end(),
                                        [&](const auto& row) { return row.get() == record; });
        MoveRow(int(found - FRecords.begin()), int(FRecords.size()) - 1);
    }
    for (int sorted = int(FRecords.size() - moving.size()); sorted < int(FRecords.size()); ++sorted)
        MoveRow(sorted, SortedPosition(*FRecords[size_t(sorted)], sorted));
    for (size_t i = 0; i < records.size(); ++i) {
        if (placed[i] || !inRead[i])
            continue;
        const int row = SortedPosition(*records[i], int(FRecords.size()));
        beginInsertRows({}, row, row);
        FRecords.insert(FRecords.begin() + row, std::move(records[i]));
        endInsertRows();
    }
    return false;
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

void TCardHolderModel::ZoneWritten(const TZoneClickWrite& click) {
    if (click.Zone < 0)
        return;
    for (const auto& controller : FControllers)
        if (click.Marked.contains(controller->ConID))
            controller->ChangesMade = true;
    // The rows may have moved while the click was being written: the card is found again.
    const int row = RowOf(click.CardNumber);
    qsizetype column = -1;
    for (qsizetype i = 0; i < FColumns.size(); ++i)
        if (FColumns[i].ConID == click.ConID)
            column = i;
    TCardHolder* record = Record(row);
    if (!record || column < 0)
        return;
    if (record->CardZones.size() < FColumns.size())
        record->CardZones.resize(FColumns.size(), 0);
    record->CardZones[column] = click.Zone;
    const QModelIndex cell = index(row, FirstZoneColumn + int(column));
    emit dataChanged(cell, cell);
}

void TCardHolderModel::DeleteWritten(const TCardHolderDeleteWrite& deletion) {
    for (const auto& controller : FControllers)
        if (deletion.Marked.contains(controller->ConID))
            controller->ChangesMade = true;
    // A cardholder deleted elsewhere leaves the list as well; one changed elsewhere stays, to be
    // shown as it is now.
    if (deletion.Deleted != TCardHolderDelete::Deleted &&
        deletion.Deleted != TCardHolderDelete::AlreadyGone)
        return;
    const TCardHolder& chosen = deletion.Chosen;
    for (size_t row = 0; row < FRecords.size(); ++row) {
        const TCardHolder& record = *FRecords[row];
        if (record.CardNumber == chosen.CardNumber && record.CardHolder == chosen.CardHolder &&
            record.CardCustom1 == chosen.CardCustom1 && record.CardCustom2 == chosen.CardCustom2 &&
            record.CardCustom3 == chosen.CardCustom3 && record.CardCustom4 == chosen.CardCustom4) {
            beginRemoveRows({}, int(row), int(row));
            FRecords.erase(FRecords.begin() + qsizetype(row));
            endRemoveRows();
            return;
        }
    }
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
    if (column < 0 || column >= FirstZoneColumn)
        return;
    FSortColumn = column;
    FSortOrder = order;
    if (FRecords.size() < 2)
        return;
    // One sort key per row instead of a locale comparison per pair: a list of thousands sorts in
    // a blink that way.
    const QCollator& collator = FCollator;
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
