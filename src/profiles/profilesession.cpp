#include "profiles/profilesession.h"

#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"
#include "db/changewatch.h"

TProfileSession::TProfileSession(TVYRStandProfile profile, std::unique_ptr<TMyDBConnector> database)
    : FProfile(std::move(profile)), FDatabase(std::move(database)) {}

TProfileSession::~TProfileSession() {
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

bool TProfileSession::IsConnected() const {
    return FDatabase->IsConnected();
}

void TProfileSession::LoadControllers(const QSet<int32_t>& alsoMarked) {
    FMarks = CarriedMarks(FMarks, FControllers) + alsoMarked;
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
    return ::ChangedControllerCount(FControllers);
}

TStandController* TProfileSession::Controller(int index) const {
    if (index < 0 || size_t(index) >= FControllers.size())
        return nullptr;
    return FControllers[size_t(index)].get();
}

void TProfileSession::KeyWritten(TStandController& controller) {
    controller.ChangesMade = false;
    FMarks.remove(controller.ConID);
    DropStoredMark(*FDatabase, controller.ConID);
}
