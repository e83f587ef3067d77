#include "profiles/profilesession.h"

#include "controllers/pendingchanges.h"
#include "db/MyDBConnector.h"

TProfileSession::TProfileSession(TVYRStandProfile profile, std::unique_ptr<TMyDBConnector> database)
    : FProfile(std::move(profile)), FDatabase(std::move(database)) {}

TProfileSession::~TProfileSession() {
    FControllers.clear();
    if (FDatabase)
        FDatabase->Disconnect();
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
