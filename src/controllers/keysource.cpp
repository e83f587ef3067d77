#include "controllers/keysource.h"

#include "controllers/controllerrecords.h"
#include "controllers/controllerstatements.h"
#include "db/MyDBConnector.h"
#include "journal/journal.h"

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

TJournalEntry KeyWrittenEntry(int32_t conId, const QString& conName, const TKeyImageInput& input,
                              const TKeyImage& image) {
    TJournalEntry entry;
    entry.Action = TJournalAction::KeyWritten;
    entry.ConID = conId;
    entry.ConName = conName;
    entry.Changes = {
        {"CRC8", QString(),
         QStringLiteral("%1").arg(image[KeyCrcOffset], 2, 16, QLatin1Char('0')).toUpper()},
        {"Zone1Cards", QString(), QString::number(input.Zone1Cards.size())},
        {"Zone2Cards", QString(), QString::number(input.Zone2Cards.size())}};
    return entry;
}
