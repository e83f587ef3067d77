#pragma once

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

// A TCP proxy in front of the test cluster, for the faults a real network and a real server bring
// about: a server that refuses, one that stops answering, a connection that breaks, and one that
// breaks just after COMMIT went out, so that the change is stored but the client never hears.
//
// It listens on 127.0.0.1 (a free port), forwards each connection to the cluster's Unix socket
// and reads the PostgreSQL protocol's framing on both ways (the startup and its SSL/GSS requests,
// then a type byte and a length per message), so it knows where a statement ends even inside a
// pipeline. It runs on a thread of its own; the test changes its mode at any moment, and its
// destruction closes everything. It keeps at most 64 connections and 1 MB unsent each way of one.
class TFaultProxy {
public:
    enum class TMode {
        Pass,   // forwards everything
        Refuse, // new connections are refused (nothing listens); open ones carry on
        Hold,   // nothing moves, sockets stay open: a server that went silent
        // The next COMMIT (or END) any connection sends, as a simple query or as the Parse of the
        // extended protocol, goes to the server with what follows it up to the next Sync; the
        // proxy waits for the server's ReadyForQuery (so the commit has happened or failed) and
        // then closes both sides, and the client never sees the answer. Then it passes again.
        CutAtCommit,
        // The same cut, and then new connections are refused: a server that went away with the
        // answer, so the client cannot ask it what became of the commit.
        CutAtCommitThenRefuse,
        // What the server sends reaches the proxy but goes no further; the clients get it all at
        // once when the mode changes. Clients' messages still go to the server.
        HoldToClients,
    };

    // Forwards to the Unix socket at `socketPath` (the cluster's .s.PGSQL.5432).
    explicit TFaultProxy(QString socketPath);
    ~TFaultProxy();
    TFaultProxy(const TFaultProxy&) = delete;
    TFaultProxy& operator=(const TFaultProxy&) = delete;

    // False when it could not listen; Error() says why.
    bool Listening() const { return FPort > 0; }
    QString Error() const;
    int Port() const { return FPort; }
    // A libpq connection text of the cluster's ("host=/tmp/... port=5432 ...") made to go through
    // the proxy instead.
    QString Through(const QString& connection) const;

    void SetMode(TMode mode);
    TMode Mode() const;
    // Closes every open connection now, in any mode.
    void CutAll();
    // How many connections were cut at a COMMIT so far; waits up to `milliseconds` for at least
    // `count` of them.
    int CommitCuts() const;
    bool WaitForCommitCuts(int count, int milliseconds) const;
    // Arms a hold: the next simple query or Parse that any connection sends whose text contains
    // `statementText` (ignoring case) stays with the proxy, unsent, and the proxy turns to Hold: a
    // server that goes silent at that very statement. SetMode(Pass) sends it on.
    void HoldAt(const QString& statementText);
    // The notices (NotificationResponse) the server sent to the clients since the proxy was made.
    int Notices() const;
    // Waits up to `milliseconds` until the server sent `count` notices (NotificationResponse) to
    // the clients, counted since the proxy was made, whether or not they went on yet.
    bool WaitForNotices(int count, int milliseconds) const;
    // Whether an armed hold came about; waits up to `milliseconds` for it.
    bool WaitForHold(int milliseconds) const;
    // The connections open now.
    int OpenConnections() const;

private:
    struct TState;
    void Run();

    const QString FSocketPath;
    int FPort = 0;
    std::unique_ptr<TState> FState;
    std::thread FThread;
};
