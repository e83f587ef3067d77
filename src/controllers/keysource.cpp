#include "controllers/keysource.h"

#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"

TKeyImageSource ReadKeyImageSource(TMyDBConnector& database, int32_t conId) {
    TKeyImageSource source;
    // One transaction, so that on a file the reads see one moment.
    TTransaction transaction(database);
    if (!transaction.Started())
        return source;
    const std::optional<TMarkState> mark = ReadMarkState(database, conId);
    if (!mark)
        return source;
    source.Mark = *mark;
    const std::unique_ptr<TMyResultSet> rows = database.Query(KeyOfControllerStatement(conId));
    if (!rows)
        return source;
    if (rows->RecordCount() == 0) {
        source.Outcome = TKeyImageSource::Gone;
        return source;
    }
    source.Input.ConCode = rows->Fields(0).AsString();
    source.Input.ConByte1 = uint8_t(rows->Fields(1).AsInteger());
    source.Input.ConByte2 = uint8_t(rows->Fields(2).AsInteger());
    std::optional<QStringList> zone1 = ReadZoneCards(database, conId, 1);
    std::optional<QStringList> zone2 = zone1 ? ReadZoneCards(database, conId, 2) : std::nullopt;
    if (!zone2 || !transaction.Commit())
        return source;
    source.Input.Zone1Cards = std::move(*zone1);
    source.Input.Zone2Cards = std::move(*zone2);
    source.Outcome = TKeyImageSource::Read;
    return source;
}
