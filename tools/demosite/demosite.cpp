#include "demosite.h"

#include "cardholders/cardholdersave.h"
#include "controllers/controlleroptions.h"
#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "db/MyPostgreSQL.h"
#include "db/MySQLite.h"
#include "journal/journal.h"
#include "profiles/VYRStandProfile.h"
#include "shared/datadir.h"
#include "shared/errors.h"
#include "shared/publictypes.h"
#include "shared/settings.h"
#include "shared/systemdesktop.h"

#include <QFileInfo>

#include <iterator>
#include <vector>

namespace {

struct TDemoController {
    const char* Name;
    const char* Code;
    int RelayQuarterSeconds;
};

// The names are made up; none belongs to a real door or a real person.
const TDemoController Controllers[] = {
    {"Main entrance", "3A7C21", 4},
    {"Server room", "C0FFEE", 2},
    {"Warehouse", "5B19D4", 8},
    {"Workshop", "E2046F", 6},
};

struct TDemoCardholder {
    const char* Number;
    const char* Name;
    const char* Department;
    const char* Phone;
    // Zone at each controller above, in that order.
    int Zones[std::size(Controllers)];
};

const TDemoCardholder Cardholders[] = {
    {DemoCardNumber, "Amber Klaverkamp", "Reception", "201", {1, 0, 0, 0}},
    {"0F3E5D7C9B", "Bram Duinvelder", "Logistics", "214", {1, 0, 2, 1}},
    {"1C2B3A4F5E", "C\u00e9line Moerbeek", "IT", "230", {1, 2, 0, 0}},
    {"2D4C6B8A0F", "Daan Wilgenhof", "Logistics", "215", {1, 0, 1, 0}},
    {"3E5D7C9B1A", "Eline Sterkenburgh", "Finance", "242", {1, 0, 0, 0}},
    {"4F6E8DAC2B", "Finn Varenbroek", "Workshop", "260", {1, 0, 1, 2}},
    {"5A7F9EBD3C", "Gijs Holtermeer", "Workshop", "261", {1, 0, 0, 1}},
    {"6B8A0FCE4D", "H\u00e9l\u00e8ne Brasseur", "Management", "200", {2, 2, 2, 2}},
    {"7C9B1ADF5E", "Isa Korenaar", "IT", "231", {1, 1, 0, 0}},
    {"8DAC2BE06F", "J\u00f6rg Wendelstamm", "Security", "299", {2, 2, 2, 2}},
    {"9EBD3CF17A", "Karlijn Ternooij", "Finance", "243", {1, 0, 0, 0}},
    {"AFCE4D028B", "Zo\u00eb Lindqvar", "Cleaning", "270", {1, 0, 1, 1}},
};

TControllerInput Input(const char* name, const char* code, int relayQuarterSeconds) {
    TControllerOptions options;
    options.RelaisTimeIndex = relayQuarterSeconds - 1;
    return {QString::fromUtf8(name), QString::fromUtf8(code), options.ConByte1(),
            options.ConByte2()};
}

// Into a connected database of either engine.
void Fill(TMyDBConnector& database) {
    auto refused = [&database](const QString& what) {
        return VyrError(what + ": " + database.GetLastError());
    };
    // The demo's history starts with the person who made it.
    const TJournalAuthor author = CurrentJournalAuthor();

    std::vector<int32_t> conIds;
    for (const TDemoController& controller : Controllers) {
        const TControllerSaved saved = AddController(
            database, Input(controller.Name, controller.Code, controller.RelayQuarterSeconds), 0,
            author);
        if (!saved.Saved || saved.ConID <= 0)
            throw refused(controller.Name);
        conIds.push_back(saved.ConID);
    }

    // The records the cardholder list would hold; none is marked by a new cardholder.
    std::optional<TControllerRecords> read = ReadControllers(&database, {});
    if (!read)
        throw refused("Controllers");
    TControllerRecords records = std::move(*read);
    for (const TDemoCardholder& cardholder : Cardholders) {
        TCardHolder record;
        record.CardNumber = cardholder.Number;
        record.CardHolder = QString::fromUtf8(cardholder.Name);
        record.CardCustom1 = cardholder.Department;
        record.CardCustom2 = cardholder.Phone;
        const TCardHolderSave saved =
            SaveNewCardHolder(database, record, std::nullopt, records, author);
        if (saved.Outcome != TCardHolderSave::Saved)
            throw refused(record.CardHolder);
        // These keys were written after the zones were given: nothing is pending for them. The
        // zones are journaled as the clicks that gave them would be.
        for (size_t i = 0; i < conIds.size(); ++i) {
            if (cardholder.Zones[i] <= 0)
                continue;
            TJournalEntry given;
            given.Action = TJournalAction::ZoneChanged;
            given.ConID = conIds[i];
            given.ConName = QString::fromUtf8(Controllers[i].Name);
            given.CardNumber = record.CardNumber;
            given.CardHolder = record.CardHolder;
            given.Changes = {{"ZoneID", "0", QString::number(cardholder.Zones[i])}};
            if (!database.ExecuteQuery(
                    InsertCardZoneStatement(conIds[i], record.CardNumber, cardholder.Zones[i])) ||
                !AppendJournal(database, given, author))
                throw refused(record.CardHolder);
        }
    }

    // A barrier put in last, every cardholder granted at once: its key is still to be written,
    // and the controller list shows it marked.
    const TControllerSaved barrier =
        AddController(database, Input(DemoMarkedController, "7D31A9", 12), 1, author);
    if (!barrier.Saved || !barrier.KeyOutdated)
        throw refused(DemoMarkedController);
}

void FillFile(const QString& databaseFile) {
    TMySQLite database;
    database.ConnectionString = JetConnectionString(databaseFile);
    if (!database.Connect())
        throw VyrError(database.GetLastError());
    Fill(database);
    database.Disconnect();
}

void Chosen(const TProfilePaths& paths) {
    Settings::SetLastProfile(QFileInfo(paths.ProfileFile).fileName());
    Settings::SetCustomCaptions({"Department", "Phone", "Custom 3", "Custom 4"});
}

} // namespace

TProfilePaths MakeDemoSite() {
    CreateDataFolders();
    TProfileCreation creation;
    creation.ProfileName = DemoProfileName;
    creation.SourceDatabase = ProgramDirectory() + "/default.accdb";
    creation.FillDatabase = FillFile;
    // A new name never replaces a leftover database, so the trash is never asked for; the real
    // desktop keeps the creation exactly as the wizard runs it.
    TSystemDesktop desktop;
    const TProfilePaths paths = CreateProfile(creation, desktop);
    Chosen(paths);
    return paths;
}

TProfilePaths MakeServerDemoSite(const QString& connection) {
    CreateDataFolders();
    TProfilePaths paths;
    paths.ProfileFile = DataDirectory() + "/profiles/" + ProfileFileStem(DemoProfileName) + ".ini";
    if (QFileInfo::exists(paths.ProfileFile))
        throw VyrError("a demo profile is there already: " + paths.ProfileFile);
    {
        TMyPostgreSQL database;
        database.ConnectionString = connection;
        if (!database.ConnectMakingSite())
            throw VyrError(database.GetLastError());
        Fill(database);
        database.Disconnect();
    }
    TVYRStandProfile profile(paths.ProfileFile);
    profile.ProfileName = DemoProfileName;
    profile.ServerConnection = connection;
    profile.SaveToINI(paths.ProfileFile);
    Chosen(paths);
    return paths;
}
