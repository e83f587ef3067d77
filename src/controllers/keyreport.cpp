#include "controllers/keyreport.h"

#include "db/MyDBConnector.h"

std::optional<TDecodedKey> ImageFromDatabase(TMyDBConnector& database,
                                             const TStandController& controller, QString& problem) {
    problem.clear();
    TKeyImageInput input;
    input.ConCode = controller.ConCode;
    input.ConByte1 = controller.ConByte1;
    input.ConByte2 = controller.ConByte2;
    std::optional<QStringList> zone1 = ReadZoneCards(database, controller.ConID, 1);
    std::optional<QStringList> zone2 = ReadZoneCards(database, controller.ConID, 2);
    if (!zone1 || !zone2)
        return std::nullopt;
    input.Zone1Cards = *zone1;
    input.Zone2Cards = *zone2;
    problem = KeyImageProblem(input);
    if (!problem.isEmpty())
        return TDecodedKey();
    return DecodeKeyImage(BuildKeyImage(input));
}

std::optional<TKeyReport> MakeKeyReport(TMyDBConnector& database,
                                        const TControllerRecords& controllers,
                                        const TDecodedKey& key) {
    TKeyReport report;
    report.Key = key;
    for (const auto& controller : controllers)
        if (IsControllerCode(controller->ConCode) &&
            controller->ConCode.compare(key.ConCode, Qt::CaseInsensitive) == 0)
            report.Owners << controller.get();

    for (const TStandController* owner : report.Owners) {
        QString problem;
        const std::optional<TDecodedKey> now = ImageFromDatabase(database, *owner, problem);
        if (!now)
            return std::nullopt;
        if (!problem.isEmpty()) {
            if (!report.Owner) {
                report.Owner = owner;
                report.ImageProblem = problem;
            }
            continue;
        }
        const TKeyComparison comparison = CompareKeys(key, *now);
        if (!report.Comparison || (comparison.Matches() && !report.Comparison->Matches())) {
            report.Owner = owner;
            report.ImageProblem.clear();
            report.Comparison = comparison;
        }
        if (comparison.Matches())
            break;
    }

    const std::optional<QList<TSiteCard>> cards = ReadSiteCards(database);
    if (!cards)
        return std::nullopt;
    QList<TCardGrant> grants;
    if (report.Owner) {
        const std::optional<QList<TCardGrant>> read = ReadCardGrants(database, report.Owner->ConID);
        if (!read)
            return std::nullopt;
        grants = *read;
    }
    for (int zone : {1, 2})
        for (const QString& entry : key.Zone(zone))
            report.Entries << TKeyReport::TEntryCards{zone, entry, CardsOfEntry(entry, *cards)};
    report.Admits = KeyAdmitsWithoutGrant(key, grants, *cards);
    report.Cards = *cards;
    return report;
}
