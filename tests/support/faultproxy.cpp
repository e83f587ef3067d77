#include "faultproxy.h"

#include <QRegularExpression>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <string>
#include <utility>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr size_t MaxConnections = 64;
constexpr size_t MaxUnsent = 1 << 20;
// A message longer than this is no PostgreSQL message we send: the stream is passed on unread.
constexpr quint32 MaxMessage = 256u << 20;
// How long a cut at COMMIT waits for the server to finish the commit.
constexpr auto CommitWait = std::chrono::seconds(10);

constexpr quint32 SslRequest = 80877103;
constexpr quint32 GssRequest = 80877104;
constexpr quint32 CancelRequest = 80877102;

quint32 BigEndian(const std::string& bytes, size_t at) {
    const auto byte = [&](size_t i) { return quint32(static_cast<unsigned char>(bytes[at + i])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

// The text of a simple query or of a Parse message (after its statement's name).
std::string StatementText(const std::string& message) {
    size_t at = 5;
    if (message[0] == 'P')
        at = message.find('\0', at) + 1;
    if (at == 0 || at >= message.size())
        return {};
    return std::string(message.c_str() + at);
}

bool EndsWithCommit(const std::string& message) {
    static const QRegularExpression commit(
        QStringLiteral("(^|;)\\s*(COMMIT|END)(\\s+(WORK|TRANSACTION))?[\\s;]*$"),
        QRegularExpression::CaseInsensitiveOption);
    return commit.match(QString::fromUtf8(StatementText(message))).hasMatch();
}

void NonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// One client's connection and the proxy's own connection to the server for it.
struct TPair {
    enum TStage { Open, Committing, Draining };

    int Client = -1;
    int Server = -1;
    std::string FromClient, ToServer, FromServer, ToClient;
    bool ClientTyped = false;  // past the startup message: every message has a type byte
    int ServerSingleBytes = 0; // answers to SSL or GSS requests due (one byte, no framing)
    bool Opaque = false;       // encrypted or not understood: passed on unread
    int ReadyDue = 0;          // ReadyForQuery messages the server still owes
    TStage Stage = Open;
    TClock::time_point Deadline;
    bool Closed = false;
    bool CutAtCommit = false;

    void Close() {
        if (Client >= 0)
            close(Client);
        if (Server >= 0)
            close(Server);
        Client = Server = -1;
        Closed = true;
    }
};

} // namespace

struct TFaultProxy::TState {
    mutable std::mutex Lock;
    mutable std::condition_variable Changed;
    TMode Mode = TMode::Pass;
    bool CutAll = false;
    bool Stop = false;
    int CommitCuts = 0;
    int Open = 0;
    int Notices = 0;
    // HoldAt's text while it waits for its statement, and how many holds it set off.
    std::string HoldAt;
    int Holds = 0;
    // Changes asked for and changes the proxy's thread has made: a change takes effect before
    // SetMode or CutAll returns, so that the test's next step meets it.
    quint64 Asked = 0;
    quint64 Applied = 0;
    QString Error;
    int Wake[2] = {-1, -1};
    int Listener = -1;
    sockaddr_in Address{};

    void Poke() const {
        const char byte = 0;
        [[maybe_unused]] const auto written = write(Wake[1], &byte, 1);
    }

    // Called with Lock held by `lock`.
    void AskAndWait(std::unique_lock<std::mutex>& lock) {
        const quint64 asked = ++Asked;
        Poke();
        Changed.wait_for(lock, std::chrono::seconds(10), [&] { return Applied >= asked || Stop; });
    }

    bool StartListening() {
        Listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int yes = 1;
        setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (Listener < 0 || bind(Listener, reinterpret_cast<sockaddr*>(&Address), sizeof Address) ||
            listen(Listener, 16)) {
            const QString why = QString::fromLocal8Bit(strerror(errno));
            std::lock_guard lock(Lock);
            Error = QStringLiteral("the proxy cannot listen: %1").arg(why);
            if (Listener >= 0)
                close(Listener);
            Listener = -1;
            return false;
        }
        socklen_t size = sizeof Address;
        getsockname(Listener, reinterpret_cast<sockaddr*>(&Address), &size);
        return true;
    }
};

TFaultProxy::TFaultProxy(QString socketPath)
    : FSocketPath(std::move(socketPath)), FState(std::make_unique<TState>()) {
    if (pipe2(FState->Wake, O_CLOEXEC | O_NONBLOCK)) {
        FState->Error = QStringLiteral("the proxy cannot make its wake-up pipe");
        return;
    }
    FState->Address.sin_family = AF_INET;
    FState->Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    FState->Address.sin_port = 0;
    if (!FState->StartListening())
        return;
    FPort = ntohs(FState->Address.sin_port);
    FThread = std::thread([this] { Run(); });
}

TFaultProxy::~TFaultProxy() {
    if (FThread.joinable()) {
        {
            std::lock_guard lock(FState->Lock);
            FState->Stop = true;
        }
        FState->Poke();
        FThread.join();
    }
    if (FState->Listener >= 0)
        close(FState->Listener);
    for (int fd : FState->Wake)
        if (fd >= 0)
            close(fd);
}

QString TFaultProxy::Error() const {
    std::lock_guard lock(FState->Lock);
    return FState->Error;
}

QString TFaultProxy::Through(const QString& connection) const {
    QString text = connection;
    static const QRegularExpression host(QStringLiteral("\\bhost=\\S+"));
    static const QRegularExpression port(QStringLiteral("\\bport=\\S+"));
    text.replace(host, QStringLiteral("host=127.0.0.1"));
    text.replace(port, QStringLiteral("port=%1").arg(FPort));
    return text;
}

void TFaultProxy::SetMode(TMode mode) {
    std::unique_lock lock(FState->Lock);
    FState->Mode = mode;
    FState->AskAndWait(lock);
}

TFaultProxy::TMode TFaultProxy::Mode() const {
    std::lock_guard lock(FState->Lock);
    return FState->Mode;
}

void TFaultProxy::CutAll() {
    std::unique_lock lock(FState->Lock);
    FState->CutAll = true;
    FState->AskAndWait(lock);
}

int TFaultProxy::CommitCuts() const {
    std::lock_guard lock(FState->Lock);
    return FState->CommitCuts;
}

bool TFaultProxy::WaitForCommitCuts(int count, int milliseconds) const {
    std::unique_lock lock(FState->Lock);
    return FState->Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return FState->CommitCuts >= count; });
}

void TFaultProxy::HoldAt(const QString& statementText) {
    std::unique_lock lock(FState->Lock);
    FState->HoldAt = statementText.toLower().toStdString();
    FState->AskAndWait(lock);
}

int TFaultProxy::Notices() const {
    std::lock_guard lock(FState->Lock);
    return FState->Notices;
}

bool TFaultProxy::WaitForNotices(int count, int milliseconds) const {
    std::unique_lock lock(FState->Lock);
    return FState->Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return FState->Notices >= count; });
}

bool TFaultProxy::WaitForHold(int milliseconds) const {
    std::unique_lock lock(FState->Lock);
    return FState->Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                    [&] { return FState->Holds > 0; });
}

int TFaultProxy::OpenConnections() const {
    std::lock_guard lock(FState->Lock);
    return FState->Open;
}

void TFaultProxy::Run() {
    TState& state = *FState;
    std::list<TPair> pairs;
    int notices = 0; // from the server since the last count

    // Moves whole messages from the client's bytes to the server's, watching for COMMIT, and for
    // the statement to hold at, which stays with the client's bytes.
    const auto frameFromClient = [&](TPair& pair, bool& armed, std::string& holdAt) {
        while (pair.Stage != TPair::Draining) {
            std::string& in = pair.FromClient;
            if (pair.Opaque) {
                pair.ToServer += in;
                in.clear();
                return;
            }
            const size_t header = pair.ClientTyped ? 5 : 8;
            if (in.size() < header)
                return;
            const quint32 length = BigEndian(in, pair.ClientTyped ? 1 : 0);
            if (length < (pair.ClientTyped ? 4u : 8u) || length > MaxMessage) {
                pair.Opaque = true;
                continue;
            }
            const size_t total = length + (pair.ClientTyped ? 1 : 0);
            if (in.size() < total)
                return;
            if (!holdAt.empty() && pair.ClientTyped && (in[0] == 'Q' || in[0] == 'P') &&
                QString::fromStdString(StatementText(in.substr(0, total)))
                    .toLower()
                    .contains(QString::fromStdString(holdAt))) {
                holdAt.clear();
                return;
            }
            const std::string message = in.substr(0, total);
            in.erase(0, total);
            pair.ToServer += message;
            if (!pair.ClientTyped) {
                const quint32 code = BigEndian(message, 4);
                if (code == SslRequest || code == GssRequest)
                    ++pair.ServerSingleBytes;
                else if (code != CancelRequest) {
                    pair.ClientTyped = true;
                    ++pair.ReadyDue; // the end of the startup
                }
                continue;
            }
            const char type = message[0];
            if (type == 'Q' || type == 'S' || type == 'F')
                ++pair.ReadyDue;
            if (pair.Stage == TPair::Committing) {
                // The extended protocol's COMMIT runs with its Execute; the Sync ends it.
                if (type == 'S' || type == 'X')
                    pair.Stage = TPair::Draining;
                continue;
            }
            if (armed && (type == 'Q' || type == 'P') && EndsWithCommit(message)) {
                armed = false;
                pair.CutAtCommit = true;
                pair.Stage = type == 'Q' ? TPair::Draining : TPair::Committing;
                pair.Deadline = TClock::now() + CommitWait;
            }
        }
    };
    // Moves whole messages from the server's bytes to the client's; after a COMMIT that is to be
    // cut nothing more reaches the client.
    const auto frameFromServer = [&](TPair& pair) {
        for (;;) {
            std::string& in = pair.FromServer;
            const bool forward = pair.Stage == TPair::Open;
            if (pair.Opaque) {
                if (forward)
                    pair.ToClient += in;
                in.clear();
                return;
            }
            if (pair.ServerSingleBytes > 0) {
                if (in.empty())
                    return;
                --pair.ServerSingleBytes;
                // 'S' or 'G': encryption follows, which the proxy cannot read.
                pair.Opaque = in[0] != 'N';
                if (forward)
                    pair.ToClient += in[0];
                in.erase(0, 1);
                continue;
            }
            if (in.size() < 5)
                return;
            const quint32 length = BigEndian(in, 1);
            if (length < 4 || length > MaxMessage) {
                pair.Opaque = true;
                continue;
            }
            if (in.size() < length + 1)
                return;
            if (in[0] == 'Z' && pair.ReadyDue > 0)
                --pair.ReadyDue;
            if (in[0] == 'A')
                ++notices;
            if (forward)
                pair.ToClient.append(in, 0, length + 1);
            in.erase(0, length + 1);
        }
    };
    // Reads what there is; false at the end of the stream or on an error.
    const auto readInto = [](int fd, std::string& buffer) {
        char chunk[65536];
        for (;;) {
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got > 0) {
                buffer.append(chunk, size_t(got));
                if (buffer.size() >= MaxUnsent)
                    return true;
                continue;
            }
            if (got == 0)
                return false;
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        }
    };
    const auto writeFrom = [](int fd, std::string& buffer) {
        while (!buffer.empty()) {
            const ssize_t put = send(fd, buffer.data(), buffer.size(), MSG_NOSIGNAL);
            if (put > 0) {
                buffer.erase(0, size_t(put));
                continue;
            }
            return put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        }
        return true;
    };
    const auto accept = [&] {
        const int client = accept4(state.Listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = FSocketPath.toLocal8Bit();
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        if (server < 0 ||
            connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (server >= 0)
                close(server);
            close(client);
            return;
        }
        NonBlocking(server);
        TPair& pair = pairs.emplace_back();
        pair.Client = client;
        pair.Server = server;
    };

    for (;;) {
        TMode mode;
        bool cutAll;
        quint64 asked;
        std::string holdAt;
        bool holdArmed;
        {
            std::lock_guard lock(state.Lock);
            if (state.Stop)
                break;
            mode = state.Mode;
            holdAt = state.HoldAt;
            holdArmed = !holdAt.empty();
            cutAll = std::exchange(state.CutAll, false);
            asked = state.Asked;
        }
        if (cutAll)
            for (TPair& pair : pairs)
                pair.Close();
        if (mode == TMode::Refuse && state.Listener >= 0) {
            close(state.Listener);
            state.Listener = -1;
        } else if (mode != TMode::Refuse && state.Listener < 0 && !state.StartListening()) {
            std::lock_guard lock(state.Lock);
            state.Mode = TMode::Refuse;
        }

        std::vector<TPair*> cut;
        const auto now = TClock::now();
        for (TPair& pair : pairs) {
            const bool done =
                pair.Stage == TPair::Draining &&
                ((pair.ReadyDue == 0 && pair.ToServer.empty()) || now > pair.Deadline);
            if (done && !pair.Closed)
                cut.push_back(&pair);
        }
        if (!cut.empty()) {
            // Counted before the client can see its connection end: whoever finds the connection
            // cut finds the cut counted.
            std::lock_guard lock(state.Lock);
            state.CommitCuts += int(cut.size());
        }
        for (TPair* pair : cut)
            pair->Close();
        pairs.remove_if([](const TPair& pair) { return pair.Closed; });
        {
            std::lock_guard lock(state.Lock);
            state.Open = int(pairs.size());
            state.Applied = asked;
        }
        state.Changed.notify_all();

        const bool moving = mode != TMode::Hold;
        std::vector<pollfd> polled{{state.Wake[0], POLLIN, 0}};
        const bool accepting = state.Listener >= 0 && pairs.size() < MaxConnections;
        if (accepting)
            polled.push_back({state.Listener, POLLIN, 0});
        bool draining = false;
        for (TPair& pair : pairs) {
            short client = 0, server = 0;
            if (moving) {
                if (pair.Stage != TPair::Draining && pair.ToServer.size() < MaxUnsent)
                    client |= POLLIN;
                if (!pair.ToClient.empty() && mode != TMode::HoldToClients)
                    client |= POLLOUT;
                if (pair.ToClient.size() < MaxUnsent)
                    server |= POLLIN;
                if (!pair.ToServer.empty())
                    server |= POLLOUT;
            }
            draining = draining || pair.Stage == TPair::Draining;
            // Held, a connection is not even looked at: a hang-up would wake the loop for ever.
            polled.push_back({moving ? pair.Client : -1, client, 0});
            polled.push_back({moving ? pair.Server : -1, server, 0});
        }
        if (poll(polled.data(), polled.size(), draining ? 100 : -1) < 0 && errno != EINTR)
            break;
        if (polled[0].revents) {
            char bytes[64];
            while (read(state.Wake[0], bytes, sizeof bytes) > 0) {
            }
        }
        size_t at = 1;
        if (accepting && polled[at++].revents & POLLIN)
            accept();
        const bool cutting = mode == TMode::CutAtCommit || mode == TMode::CutAtCommitThenRefuse;
        bool armed = cutting;
        for (TPair& pair : pairs) {
            if (at >= polled.size() || !moving)
                break; // accepted just now, polled next time; or held
            const pollfd& client = polled[at++];
            const pollfd& server = polled[at++];
            bool open = true;
            if (client.revents & (POLLIN | POLLHUP | POLLERR))
                open = readInto(pair.Client, pair.FromClient) && open;
            if (server.revents & (POLLIN | POLLHUP | POLLERR))
                open = readInto(pair.Server, pair.FromServer) && open;
            frameFromClient(pair, armed, holdAt);
            frameFromServer(pair);
            open = writeFrom(pair.Server, pair.ToServer) && open;
            if (mode != TMode::HoldToClients)
                open = writeFrom(pair.Client, pair.ToClient) && open;
            if (!open) {
                if (pair.Stage == TPair::Draining) {
                    std::lock_guard lock(state.Lock);
                    ++state.CommitCuts;
                    state.Changed.notify_all();
                }
                pair.Close();
            }
        }
        if (notices > 0) {
            std::lock_guard lock(state.Lock);
            state.Notices += std::exchange(notices, 0);
            state.Changed.notify_all();
        }
        if (holdArmed && holdAt.empty()) {
            // Held before its statement went out: nothing moves until the test says so.
            std::lock_guard lock(state.Lock);
            state.HoldAt.clear();
            state.Mode = TMode::Hold;
            ++state.Holds;
            state.Changed.notify_all();
        }
        if (cutting && !armed) {
            // Before the cut connection closes: the client that finds it cut meets the new mode.
            std::lock_guard lock(state.Lock);
            if (state.Mode == mode)
                state.Mode = mode == TMode::CutAtCommit ? TMode::Pass : TMode::Refuse;
        }
    }
    for (TPair& pair : pairs)
        pair.Close();
}
