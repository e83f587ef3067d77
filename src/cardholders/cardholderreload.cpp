#include "cardholders/cardholderreload.h"

#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"
#include "db/readagain.h"

#include <QPointer>

// Lives on the reload's thread, where its connection is made, used and closed.
class TCardHolderReload::TReader : public QObject {
public:
    TReader(QString typeName, QString connectionString)
        : FTypeName(std::move(typeName)), FConnectionString(std::move(connectionString)) {}
    ~TReader() override {
        if (FDatabase)
            FDatabase->Disconnect();
    }

    std::shared_ptr<TCardHolderRows> Read(const TCardHolderRead& request) {
        std::shared_ptr<TCardHolderRows> rows;
        if (!ReadAgainOnFailure([&] {
                rows = ReadRows(request);
                return rows->Ok;
            }) &&
            FDatabase)
            rows->Error = FDatabase->GetLastError();
        return rows;
    }

private:
    std::shared_ptr<TCardHolderRows> ReadRows(const TCardHolderRead& request) {
        auto rows = std::make_shared<TCardHolderRows>();
        if (!FDatabase)
            FDatabase = NewConnectorOfKind(FTypeName, FConnectionString);
        if (!FDatabase || (!FDatabase->IsConnected() && !FDatabase->Connect()))
            return rows;
        // The zone join needs only the controllers' IDs; the window's records stay on its thread.
        std::vector<std::unique_ptr<TStandController>> controllers;
        if (request.Columns) {
            // The whole list goes with new columns: every row gets zones for them.
            // In the order of the controller list, which reads them alike.
            const std::unique_ptr<TMyResultSet> found =
                FDatabase->Query(SelectControllersStatement());
            if (!found)
                return rows;
            rows->Columns.emplace();
            for (found->First(); !found->Eof(); found->Next()) {
                controllers.push_back(std::make_unique<TStandController>());
                controllers.back()->ConID = found->FieldByName("ConID").AsInteger();
                controllers.back()->ConName = found->FieldByName("ConName").AsString();
                rows->Columns->append({controllers.back()->ConID, controllers.back()->ConName});
            }
        } else {
            for (const int32_t conId : request.ConIDs) {
                controllers.push_back(std::make_unique<TStandController>());
                controllers.back()->ConID = conId;
            }
        }
        if (request.Cards && !request.Columns) {
            rows->Within = request.Cards;
            rows->Ok = ReadCardHoldersOf(*FDatabase, request.Filter, controllers, *request.Cards,
                                         rows->Records);
        } else {
            rows->Ok = ReadCardHolders(*FDatabase, request.Filter, controllers, rows->Records);
        }
        return rows;
    }

    const QString FTypeName;
    const QString FConnectionString;
    std::unique_ptr<TMyDBConnector> FDatabase;
};

TCardHolderReload::TCardHolderReload(QString typeName, QString connectionString, QObject* parent)
    : QObject(parent), FReader(new TReader(std::move(typeName), std::move(connectionString))) {
    FReader->moveToThread(&FThread);
    TReader* reader = FReader;
    connect(
        &FThread, &QThread::finished, reader, [reader] { delete reader; }, Qt::DirectConnection);
    FThread.start();
}

TCardHolderReload::~TCardHolderReload() {
    FThread.quit();
    FThread.wait();
}

void TCardHolderReload::Load(const TCardHolderRead& request) {
    if (FBusy)
        return;
    FBusy = true;
    QPointer<TCardHolderReload> self(this);
    TReader* reader = FReader;
    QMetaObject::invokeMethod(
        FReader,
        [self, reader, request] {
            std::shared_ptr<TCardHolderRows> rows = reader->Read(request);
            // Back on the window's thread; dropped when the window went meanwhile.
            QMetaObject::invokeMethod(
                self.data(),
                [self, rows] {
                    if (!self)
                        return;
                    self->FBusy = false;
                    emit self->Loaded(rows);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}
