#include "profiles/profilesession.h"

#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "db/readagain.h"
#include "db/reconnect.h"
#include "db/sitewriter.h"

TProfileSession::TProfileSession(TVYRStandProfile profile, std::unique_ptr<TMyDBConnector> database)
    : FProfile(std::move(profile)), FAuthor(CurrentJournalAuthor()),
      FDatabase(std::move(database)) {
    FDatabase->ReconnectOnUse = false;
    FDatabase->OnConnectionLost() = [this] { Reconnection().Start(); };
}

TProfileSession::~TProfileSession() {
    FDatabase->OnConnectionLost() = nullptr;
    FWrites.reset();
    FReconnect.reset();
    FChanges.reset();
    FControllers.clear();
    if (FDatabase)
        FDatabase->Disconnect();
}

TChangeWatch& TProfileSession::Changes() {
    if (!FChanges)
        FChanges = FDatabase->WatchChanges();
    return *FChanges;
}

TReconnect& TProfileSession::Reconnection() {
    if (!FReconnect)
        FReconnect = std::make_unique<TReconnect>(*FDatabase);
    return *FReconnect;
}

TSiteWriter& TProfileSession::Writes() {
    if (!FWrites) {
        FWrites = std::make_unique<TSiteWriter>(*FDatabase);
        QObject::connect(FWrites.get(), &TSiteWriter::Written, FWrites.get(),
                         [this](const std::shared_ptr<TSiteWrite>& write) {
                             for (const auto& controller : FControllers)
                                 if (write->Marked.contains(controller->ConID))
                                     controller->ChangesMade = true;
                         });
    }
    return *FWrites;
}

bool TProfileSession::IsConnected() const {
    return FDatabase->IsConnected();
}

bool TProfileSession::LoadControllers(const QSet<int32_t>& alsoMarked) {
    // All of it or nothing: a list with its marks but without its counts would show every door
    // without cards.
    std::optional<TControllerRecords> controllers =
        ReadAgainOnFailure([&]() -> std::optional<TControllerRecords> {
            std::optional<TControllerRecords> read = ReadControllers(FDatabase.get(), alsoMarked);
            if (read && !CountControllerCards(FDatabase.get(), *read))
                return std::nullopt;
            return read;
        });
    if (controllers) {
        FControllers = std::move(*controllers);
        return true;
    }
    for (const auto& controller : FControllers)
        if (alsoMarked.contains(controller->ConID))
            controller->ChangesMade = true;
    return false;
}

bool TProfileSession::CountCards() {
    return ReadAgainOnFailure(
        [this] { return CountControllerCards(FDatabase.get(), FControllers); });
}

void TProfileSession::FreeControllers() {
    FControllers.clear();
}

std::optional<int> TProfileSession::ChangedControllerCount() const {
    if (const std::optional<QSet<int32_t>> stored =
            ReadAgainOnFailure([this] { return ReadStoredMarks(*FDatabase); }))
        return int(stored->size());
    return std::nullopt;
}

TStandController* TProfileSession::Controller(int index) const {
    if (index < 0 || size_t(index) >= FControllers.size())
        return nullptr;
    return FControllers[size_t(index)].get();
}

TMarkClear TProfileSession::KeyWritten(TStandController& controller, const TMarkState& built,
                                       const TJournalEntry& written) {
    const TMarkClear cleared =
        ClearMarkAfterWrite(*FDatabase, controller.ConID, built, written, FAuthor);
    // A controller deleted meanwhile has no mark to keep.
    controller.ChangesMade = cleared != TMarkClear::Cleared && cleared != TMarkClear::Gone;
    return cleared;
}
