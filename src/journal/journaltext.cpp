#include "journal/journaltext.h"

#include "journal/journal.h"
#include "shared/translation.h"

namespace {

// A stored field name as the operator knows the field.
QString FieldTitle(const QString& field) {
    static const struct {
        const char* Field;
        const char* Title;
    } titles[] = {
        {"CardNumber", N_("Card number")},     {"CardHolder", N_("Name")},
        {"CardCustom1", N_("Custom field 1")}, {"CardCustom2", N_("Custom field 2")},
        {"CardCustom3", N_("Custom field 3")}, {"CardCustom4", N_("Custom field 4")},
        {"CardInactive", N_("Inactive from")}, {"ConName", N_("Name")},
        {"ConCode", N_("Controller code")},    {"ConByte1", N_("Option byte 1")},
        {"ConByte2", N_("Option byte 2")},
    };
    for (const auto& title : titles)
        if (field == QLatin1String(title.Field))
            return _(title.Title);
    return field;
}

QString ZoneText(const QString& zone) {
    if (zone.isEmpty() || zone == QLatin1String("0"))
        return _("no access");
    return FormatText(_("zone %s"), {zone});
}

QString ChangeList(const QList<TJournalChange>& changes) {
    QStringList parts;
    for (const TJournalChange& change : changes)
        parts << FormatText(_("%s from \"%s\" to \"%s\""),
                            {FieldTitle(change.Field), change.Old, change.New});
    return parts.join(QStringLiteral("; "));
}

QString NewValue(const TJournalEntry& entry, const char* field) {
    for (const TJournalChange& change : entry.Changes)
        if (change.Field == QLatin1String(field))
            return change.New;
    return QString();
}

QString OldValue(const TJournalEntry& entry, const char* field) {
    for (const TJournalChange& change : entry.Changes)
        if (change.Field == QLatin1String(field))
            return change.Old;
    return QString();
}

bool RunsAsFormula(const QString& field) {
    if (field.isEmpty())
        return false;
    const QChar first = field.front();
    return first == u'=' || first == u'+' || first == u'-' || first == u'@' ||
           first.unicode() < 0x20;
}

QByteArray CsvField(QString field) {
    if (RunsAsFormula(field))
        field.prepend(u'\'');
    if (field.contains(u',') || field.contains(u'"') || field.contains(u'\r') ||
        field.contains(u'\n')) {
        field.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        field = u'"' + field + u'"';
    }
    return field.toUtf8();
}

} // namespace

QString DescribeJournalEntry(const TJournalEntry& entry) {
    switch (entry.Action) {
    case TJournalAction::CardHolderAdded:
        return FormatText(_("Cardholder %s added with card %s"),
                          {entry.CardHolder, entry.CardNumber});
    case TJournalAction::CardHolderEdited:
        return FormatText(_("Cardholder %s (card %s) edited: %s"),
                          {entry.CardHolder, entry.CardNumber, ChangeList(entry.Changes)});
    case TJournalAction::CardReplaced:
        return FormatText(_("Card %s of %s replaced by card %s"),
                          {entry.OldCardNumber, entry.CardHolder, entry.CardNumber});
    case TJournalAction::CardHolderDeleted:
        return FormatText(_("Cardholder %s (card %s) deleted"),
                          {entry.CardHolder, entry.CardNumber});
    case TJournalAction::ZoneChanged:
        return FormatText(_("Card %s (%s) at %s: %s, before %s"),
                          {entry.CardNumber, entry.CardHolder, entry.ConName,
                           ZoneText(NewValue(entry, "ZoneID")),
                           ZoneText(OldValue(entry, "ZoneID"))});
    case TJournalAction::ControllerAdded:
        return FormatText(_("Controller %s added"), {entry.ConName});
    case TJournalAction::ControllerEdited:
        return FormatText(_("Controller %s edited: %s"),
                          {entry.ConName, ChangeList(entry.Changes)});
    case TJournalAction::ControllerDeleted:
        return FormatText(_("Controller %s deleted"), {entry.ConName});
    case TJournalAction::KeyWritten:
        if (NewValue(entry, "OutOfDate") == QLatin1String("1"))
            return FormatText(_("Memory key of %s written and verified, but already out of date "
                                "(changed meanwhile): check byte %s, %s cards in zone 1, %s cards "
                                "in zone 2"),
                              {entry.ConName, NewValue(entry, "CRC8"),
                               NewValue(entry, "Zone1Cards"), NewValue(entry, "Zone2Cards")});
        return FormatText(_("Memory key of %s written and verified: check byte %s, %s cards in "
                            "zone 1, %s cards in zone 2"),
                          {entry.ConName, NewValue(entry, "CRC8"), NewValue(entry, "Zone1Cards"),
                           NewValue(entry, "Zone2Cards")});
    case TJournalAction::LegacyImport:
        return FormatText(_("Cards of the previous software imported: %s cardholders, %s "
                            "controllers, %s zones"),
                          {NewValue(entry, "CardHolders"), NewValue(entry, "Controllers"),
                           NewValue(entry, "Zones")});
    }
    return QString();
}

QString JournalTimeText(const TJournalEntry& entry) {
    return entry.Time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QList<const char*> JournalColumns(bool server) {
    if (server)
        return {N_("Time"),       N_("Signed in as"), N_("On"),    N_("Database role"),
                N_("Controller"), N_("Card"),         N_("Change")};
    return {N_("Time"),       N_("Operator"), N_("Workstation"),
            N_("Controller"), N_("Card"),     N_("Change")};
}

QStringList JournalColumnTitles(bool server) {
    QStringList titles;
    for (const char* title : JournalColumns(server))
        titles << Translate(title);
    return titles;
}

QStringList JournalRow(const TJournalEntry& entry, bool server) {
    QStringList row{JournalTimeText(entry), entry.Operator, entry.Workstation};
    if (server)
        row << entry.DatabaseRole;
    row << entry.ConName << entry.CardNumber << DescribeJournalEntry(entry);
    return row;
}

QByteArray CsvDocument(const QList<QStringList>& rows) {
    QByteArray document("\xEF\xBB\xBF");
    for (const QStringList& row : rows) {
        QList<QByteArray> fields;
        for (const QString& field : row)
            fields << CsvField(field);
        document += fields.join(',') + "\r\n";
    }
    return document;
}
