#pragma once

#include "db/MyDBConnector.h"
#include "shared/publictypes.h"

#include "testenv.h"

#include <QStringList>

#include <memory>
#include <ostream>

// Readable failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// A connector in front of the real one that keeps every statement it was given and can be told
// to fail those that contain a piece of text, as an engine error would.
class TRecordingConnector : public TMyDBConnector {
public:
    explicit TRecordingConnector(std::unique_ptr<TMyDBConnector> inner) : Inner(std::move(inner)) {}

    bool Connect() override { return Inner->Connect(); }
    void Disconnect() override { Inner->Disconnect(); }
    bool IsConnected() const override { return Inner->IsConnected(); }
    bool ReConnect() override { return Inner->ReConnect(); }
    QString GetLastError() const override { return Failing ? FailedText : Inner->GetLastError(); }
    bool ExecuteQuery(const QString& sql) override;
    bool Query(const QString& sql, TMyResultSet*& QObject) override;
    void DestroyQuery(TMyResultSet*& QObject) override { Inner->DestroyQuery(QObject); }

    // The statements sent so far that start with `start` (all of them for an empty start).
    QStringList Sent(const QString& start = {}) const;

    QStringList Statements;
    QString FailWhenContaining; // empty: nothing fails
    std::unique_ptr<TMyDBConnector> Inner;

private:
    bool Fails(const QString& sql);
    bool Failing = false;
    QString FailedText;
};

// A fresh profile database from the template, connected as the run's DBConnection (behind a
// recorder), and an empty ControllerList. Beeps are counted instead of sounded.
class CardholderTest : public HomeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    TRecordingConnector& Database() const;
    // Sends a statement straight to the engine; fails the test when it affects no row.
    void Exec(const QString& sql) const;
    // The first field of every row, as text.
    QStringList Column(const QString& sql) const;
    int Count(const QString& sql) const;

    // A controller in the database and at the end of ControllerList.
    TStandController& AddController(const QString& name);
    void AddCardHolder(const QString& number, const QString& name, const QString& custom1 = {},
                       const QString& custom2 = {}, bool deleted = false) const;
    void AddZone(const TStandController& controller, const QString& number, int zone) const;
    // The card's zone rows at the controller, as "zone" texts in row order.
    QStringList Zones(const TStandController& controller, const QString& number) const;
    QStringList MarkedControllers() const;

    int Beeps = 0;
    QString DatabaseFile;
};
