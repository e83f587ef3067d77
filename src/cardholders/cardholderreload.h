#pragma once

#include "cardholders/cardholdermodel.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QThread>
#include <QVector>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// What a reload is to read.
struct TCardHolderRead {
    TCardHolderFilter Filter;
    // The controllers of the zone columns, in column order.
    QVector<int32_t> ConIDs;
    // Read the controllers too, and give the rows a zone for each of them instead.
    bool Columns = false;
    // Only the cards with these number keys (CardNumberKey); nothing: every card.
    std::optional<QSet<QString>> Cards;
};

// What a reload read: the rows in the database's order by name, or Ok false when a query failed.
struct TCardHolderRows {
    bool Ok = false;
    // Why the read failed: the database's reason.
    QString Error;
    std::vector<std::unique_ptr<TCardHolder>> Records;
    // The cards the read covered (TCardHolderModel::Merge's `within`).
    std::optional<QSet<QString>> Within;
    // The zone columns of the rows, when the read was asked for them.
    std::optional<QVector<TZoneColumn>> Columns;
};

// Reads the cardholder list on a thread of its own, with a connection of its own to the site, so
// that a list of tens of thousands refreshes while the window goes on answering. The connection is
// opened with the first read and kept for the next.
class TCardHolderReload : public QObject {
    Q_OBJECT
public:
    // `typeName` and `connectionString` name the site as its connector does.
    TCardHolderReload(QString typeName, QString connectionString, QObject* parent = nullptr);
    // Returns once a read under way has ended.
    ~TCardHolderReload() override;
    TCardHolderReload(const TCardHolderReload&) = delete;
    TCardHolderReload& operator=(const TCardHolderReload&) = delete;

    // Reads the cardholders that the request's filter lets through, with their zones at its
    // controllers; Loaded follows. One read at a time: not while Busy.
    void Load(const TCardHolderRead& request);
    bool Busy() const { return FBusy; }

signals:
    void Loaded(const std::shared_ptr<TCardHolderRows>& rows);

private:
    class TReader;
    QThread FThread;
    TReader* FReader;
    bool FBusy = false;
};
