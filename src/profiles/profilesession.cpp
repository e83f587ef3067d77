#include "profiles/profilesession.h"

#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"
#include "db/reconnect.h"

TProfileSession::TProfileSession(TVYRStandProfile profile, std::unique_ptr<TMyDBConnector> database)
    : FProfile(std::move(profile)), FAuthor(CurrentJournalAuthor()),
      FDatabase(std::move(database)) {
    FDatabase->ReconnectOnUse = false;
    FDatabase->OnConnectionLost() = [this] { Reconnection().Start(); };
}

TProfileSession::~TProfileSession() {
    FDatabase->OnConnectionLost() = nullptr;
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

bool TProfileSession::IsConnected() const {
    return FDatabase->IsConnected();
}

void TProfileSession::LoadControllers(const QSet<int32_t>& alsoMarked) {
    const std::optional<QSet<int32_t>> stored = ReadStoredMarks(*FDatabase);
    FMarks = (stored ? *stored : CarriedMarks(FMarks, FControllers)) + alsoMarked;
    FControllers.clear();
    FControllers = ReadControllers(FDatabase.get(), FMarks);
}

void TProfileSession::CountCards() {
    CountControllerCards(FDatabase.get(), FControllers);
}

void TProfileSession::FreeControllers() {
    FMarks = CarriedMarks(FMarks, FControllers);
    FControllers.clear();
}

int TProfileSession::ChangedControllerCount() const {
    if (const std::optional<QSet<int32_t>> stored = ReadStoredMarks(*FDatabase))
        return int(stored->size());
    return ::ChangedControllerCount(FControllers);
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
    controller.ChangesMade = cleared != TMarkClear::Cleared;
    if (cleared == TMarkClear::Cleared)
        FMarks.remove(controller.ConID);
    return cleared;
}
