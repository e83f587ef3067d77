#include "controllers/keysource.h"

#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"

TKeyImageSource ReadKeyImageSource(TMyDBConnector& database, int32_t conId) {
    TKeyImageSource source;
    // No transaction: the order of the reads is what keeps the mark honest (keysource.h), and a
    // read-only look takes no write lock from the other workstations.
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
    if (!zone2)
        return source;
    source.Input.Zone1Cards = std::move(*zone1);
    source.Input.Zone2Cards = std::move(*zone2);
    source.Outcome = TKeyImageSource::Read;
    return source;
}
