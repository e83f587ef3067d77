#pragma once

#include "db/changehint.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

// Tells the windows of an open site that its data changed on another connection: another
// workstation, or another copy of the program on the same file. Changed arrives on the thread that
// made the watch, by a queued call, never from inside a statement of the program's own.
//
// What one change brings in quick succession (a burst of saves on the other side) arrives as one
// Changed, after the watch saw nothing new for a short while. The tables are those the changes
// touched, in lower case, as far as the engine tells; empty when it does not (then any table may
// have changed). The cards are those whose holders or zones the burst changed, when the engine
// tells; unknown otherwise, and whenever one change of the burst did not say.
//
// This base watches nothing: it is what an engine without a way to learn of others' changes gives.
class TChangeWatch : public QObject {
    Q_OBJECT
public:
    explicit TChangeWatch(QObject* parent = nullptr);
    ~TChangeWatch() override;

    // True once the watch began to hear of changes: one that listens on a connection of its own
    // is not ready the moment it is made. What changed before (or while its connection was
    // broken) is told as a change of any table once it listens, so nothing goes unshown.
    virtual bool Listening() const { return true; }
    // True once it listens and has told all it learnt: what came before it listened included.
    bool Settled() const { return Listening() && !FSettle.isActive(); }

    // True when `tables` (as Changed gives them) may include one of `wanted` (lower case).
    static bool Touches(const QStringList& tables, const QStringList& wanted);

signals:
    void Changed(const QStringList& tables, const TChangedCards& cards);

protected:
    // An engine's watch reports what it learnt here; `tables` empty for "unknown".
    void Noticed(const QStringList& tables, const TChangedCards& cards = {});
    // How long the watch waits for the rest of a burst before it tells.
    void SetSettleTime(int milliseconds) { FSettle.setInterval(milliseconds); }

private:
    void Tell();

    QTimer FSettle;
    QSet<QString> FTables;
    bool FAnyTable = false;
    TChangedCards FCards = TChangedCards::None();
};
