#pragma once

#include "controllers/accidentaladmits.h"
#include "controllers/controllerrecords.h"
#include "controllers/keycontents.h"

#include <QList>
#include <QString>

#include <optional>

class TMyDBConnector;

// What a key read back means for this site: whose it is, who its entries let in, whether it
// still says what the database says, and whom it admits without a grant.
struct TKeyReport {
    TDecodedKey Key;
    // The controllers of the profile with the key's code (several when codes were given twice);
    // none for a key of another site.
    QList<const TStandController*> Owners;
    // The one the key was compared with: the first owner whose image it matches, else the first.
    const TStandController* Owner = nullptr;
    // Why the database gives the owner no image now (a bad code or card, too many cards); the
    // key cannot be compared then.
    QString ImageProblem;
    std::optional<TKeyComparison> Comparison;

    struct TEntryCards {
        int Zone = 0;
        QString Entry;
        QList<TSiteCard> Cards; // whose number begins with the entry; none: no card of this site
    };
    QList<TEntryCards> Entries; // the key's entries in key order
    QList<TAccidentalAdmit> Admits;
    QList<TSiteCard> Cards; // every card of the site, deleted holders' included
};

// The report for a valid decoded key. Nothing when the database did not answer; the reason is in
// the connector's last error.
std::optional<TKeyReport> MakeKeyReport(TMyDBConnector& database,
                                        const TControllerRecords& controllers,
                                        const TDecodedKey& key);

// The image the database gives a controller now, decoded; or the reason it gives none in
// `problem`. Nothing when the database did not answer.
std::optional<TDecodedKey> ImageFromDatabase(TMyDBConnector& database,
                                             const TStandController& controller, QString& problem);
