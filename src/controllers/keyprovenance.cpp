#include "controllers/keyprovenance.h"

#include "journal/journaltext.h"
#include "shared/translation.h"

TKeyProvenance DescribeKeyProvenance(const std::optional<QHash<int32_t, TJournalEntry>>& writes,
                                     int32_t conId, bool marked) {
    TKeyProvenance provenance;
    const auto write =
        writes ? writes->constFind(conId) : QHash<int32_t, TJournalEntry>::const_iterator();
    const bool written = writes && write != writes->cend();
    if (!writes)
        // Not "no write": the journal may well hold one.
        provenance.Written = _("Unknown");
    else if (!written)
        // The journal may begin after the key's last write, so this does not claim that the key
        // was never written.
        provenance.Written = _("No verified write recorded");
    else {
        provenance.Written = JournalTimeText(*write);
        provenance.By = FormatText(_("%s on %s"), {write->Operator, write->Workstation});
    }
    if (marked)
        provenance.Key =
            written ? _("Changed since the key was written") : _("Changes not yet on a key");
    else if (written)
        provenance.Key = _("Key up to date");
    return provenance;
}
