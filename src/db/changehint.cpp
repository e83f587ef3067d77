#include "db/changehint.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// An older program's item naming a card; this one's items pointing to journal entries.
const QString CardItem = QStringLiteral("#");
const QString JournalItem = QStringLiteral("@");

// The tables whose rows belong to cards.
bool CardTable(const QString& table) {
    return table == QLatin1String("cardholders") || table == QLatin1String("cardzones");
}

// The statement's text with the inside of every literal blanked, so that a `?`, a keyword or a
// parenthesis in a text value counts for nothing.
QString WithoutLiterals(const QString& sql) {
    QString text = sql;
    QChar quote;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quote.isNull()) {
            if (c == u'"' || c == u'\'')
                quote = c;
            continue;
        }
        if (c == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote) {
                text[i] = text[i + 1] = u'x'; // a doubled quote inside the literal
                ++i;
            } else {
                quote = QChar();
            }
            continue;
        }
        text[i] = u'x';
    }
    return text;
}

// The value of the `?` at `position` of the text, if that is one.
std::optional<QString> ValueAt(const TMyStatement& statement, const QString& text,
                               qsizetype position) {
    if (position < 0 || position >= text.size() || text[position] != u'?')
        return std::nullopt;
    const qsizetype index = text.left(position).count(u'?');
    if (index >= statement.Values.size())
        return std::nullopt;
    return statement.Values[index].toString();
}

// Where each item of a comma-separated list begins, counting only the commas outside parentheses;
// the list's end closes the last item.
QList<qsizetype> TopLevelStarts(const QString& text) {
    QList<qsizetype> starts{0};
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'(')
            ++depth;
        else if (text[i] == u')')
            --depth;
        else if (text[i] == u',' && depth == 0)
            starts << i + 1;
    }
    return starts;
}

const QRegularExpression& NumberTest() {
    static const QRegularExpression test(QStringLiteral("\\bCardNumber\\s*=\\s*\\?"),
                                         QRegularExpression::CaseInsensitiveOption);
    return test;
}

// The cards a WHERE clause limits the rows to: it must hold `CardNumber = ?` as a condition that
// every row meets (no OR, no NOT before it, no subquery).
std::optional<QStringList> CardsOfCondition(const TMyStatement& statement, const QString& text,
                                            qsizetype whereAt) {
    const QString condition = text.mid(whereAt);
    static const QRegularExpression widening(QStringLiteral("\\b(OR|SELECT)\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    if (condition.contains(widening))
        return std::nullopt;
    const QRegularExpressionMatch match = NumberTest().match(text, whereAt);
    if (!match.hasMatch())
        return std::nullopt;
    static const QRegularExpression negated(QStringLiteral("\\bNOT[\\s(]*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (text.left(match.capturedStart()).contains(negated))
        return std::nullopt;
    const std::optional<QString> number = ValueAt(statement, text, match.capturedEnd() - 1);
    if (!number)
        return std::nullopt;
    return QStringList{*number};
}

// The values a one-row INSERT ... VALUES gives the named columns, as bound values ("" for NULL);
// nothing when the statement has another form or a named column gets something else than a `?`.
std::optional<QStringList> InsertedValues(const TMyStatement& statement, const QString& text,
                                          const QStringList& wanted) {
    static const QRegularExpression form(
        QStringLiteral(
            "^\\s*INSERT\\s+INTO\\s+\\w+\\s*\\(([^()]*)\\)\\s*VALUES\\s*\\((.*)\\)\\s*$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    const QStringList columns = match.captured(1).split(u',');
    const QString values = match.captured(2);
    const QList<qsizetype> starts = TopLevelStarts(values);
    // One row only: a second row's parentheses would leave an item outside the first.
    if (starts.size() != columns.size())
        return std::nullopt;
    QStringList found;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (!wanted.contains(columns[i].trimmed(), Qt::CaseInsensitive))
            continue;
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] - 1 : values.size();
        const QString value = values.mid(starts[i], end - starts[i]);
        if (value.trimmed() != QLatin1String("?"))
            return std::nullopt;
        const std::optional<QString> number =
            ValueAt(statement, text, match.capturedStart(2) + starts[i] + value.indexOf(u'?'));
        if (!number)
            return std::nullopt;
        found << *number;
    }
    return found;
}

std::optional<QStringList> CardsOfInsert(const TMyStatement& statement, const QString& text) {
    std::optional<QStringList> numbers =
        InsertedValues(statement, text, {QStringLiteral("CardNumber")});
    if (!numbers || numbers->size() != 1)
        return std::nullopt;
    return numbers;
}

bool IsAscii(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() > 0x7F)
            return false;
    return true;
}

// The most journal entries a notice may point a reader to: what one save writes, with room for
// other workstations' entries numbered in between. A wider stretch is read as "any card".
constexpr qint64 MaxNoticedEntries = 5000;

} // namespace

void TChangedCards::Add(const TChangedCards& other) {
    Known = Known && other.Known;
    if (Known)
        Numbers.unite(other.Numbers);
    else
        Numbers.clear();
}

std::optional<QStringList> ChangedCardNumbers(const TMyStatement& statement) {
    const QString text = WithoutLiterals(statement.Sql);
    const QStringList words = QString(text).replace(u'(', u' ').simplified().split(u' ');
    const QString verb = words.value(0).toUpper();
    qsizetype at = -1;
    if (verb == QLatin1String("UPDATE"))
        at = 1;
    else if (verb == QLatin1String("INSERT") || verb == QLatin1String("DELETE"))
        at = words.indexOf(QRegularExpression(QStringLiteral("^(?i)(INTO|FROM)$"))) + 1;
    if (at <= 0)
        return std::nullopt; // not a change this reading knows
    if (!CardTable(words.value(at).remove(u'"').toLower()))
        return QStringList();

    std::optional<QStringList> cards;
    if (verb == QLatin1String("INSERT")) {
        cards = CardsOfInsert(statement, text);
    } else {
        static const QRegularExpression where(QStringLiteral("\\bWHERE\\b"),
                                              QRegularExpression::CaseInsensitiveOption);
        const qsizetype whereAt = text.indexOf(where);
        if (whereAt < 0)
            return std::nullopt;
        cards = CardsOfCondition(statement, text, whereAt);
        if (cards && verb == QLatin1String("UPDATE")) {
            // A new number set by the statement is a card of the change too.
            static const QRegularExpression setsNumber(QStringLiteral("\\bCardNumber\\s*="),
                                                       QRegularExpression::CaseInsensitiveOption);
            const QString assignments = text.left(whereAt);
            if (const QRegularExpressionMatch set = setsNumber.match(assignments); set.hasMatch()) {
                const QRegularExpressionMatch value = NumberTest().match(assignments);
                const std::optional<QString> number =
                    value.hasMatch() && value.capturedStart() == set.capturedStart()
                        ? ValueAt(statement, text, value.capturedEnd() - 1)
                        : std::nullopt;
                if (!number)
                    return std::nullopt;
                cards->prepend(*number);
            }
        }
    }
    if (!cards)
        return std::nullopt;
    for (const QString& number : std::as_const(*cards))
        if (!IsAscii(number))
            return std::nullopt;
    return cards;
}

QByteArray SiteChannelName(const QString& schema) {
    // The server cuts identifiers to 63 bytes, and pg_notify refuses longer names; a cut inside a
    // character would make a name the server refuses altogether.
    QString name = QStringLiteral("vyr_site_") + schema;
    while (name.toUtf8().size() > 63)
        name.chop(name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() ? 2 : 1);
    return name.toUtf8();
}

QString ChangeNoticeText(const QStringList& tables) {
    return tables.join(u',');
}

TChangeNotice ReadChangeNotice(const QString& text) {
    TChangeNotice notice;
    bool cardTables = false;
    for (const QString& item : text.split(u',', Qt::SkipEmptyParts)) {
        if (item.startsWith(JournalItem)) {
            const QString from = item.mid(1).section(u'-', 0, 0);
            const QString to = item.mid(1).section(u'-', 1);
            bool fromOk = false;
            bool toOk = false;
            notice.JournalFrom = from.toLongLong(&fromOk);
            notice.JournalTo = to.toLongLong(&toOk);
            if (!fromOk || !toOk || notice.JournalFrom <= 0 ||
                notice.JournalTo < notice.JournalFrom)
                notice.JournalFrom = notice.JournalTo = 0;
        } else if (!item.startsWith(CardItem)) {
            // Card numbers an older program put into the notice are not taken: anyone who may
            // connect could have sent them.
            notice.Tables << item.toLower();
            cardTables = cardTables || CardTable(notice.Tables.last());
        }
    }
    notice.Cards = cardTables || notice.Tables.isEmpty() ? TChangedCards() : TChangedCards::None();
    return notice;
}

bool TChangeNotice::CardsInJournal() const {
    return !Cards.Known && !Tables.isEmpty() && JournalFrom > 0 &&
           JournalTo - JournalFrom < MaxNoticedEntries;
}

TChangedCards CardsOfJournalEntries(const QStringList& numbers) {
    TChangedCards cards = TChangedCards::None();
    for (const QString& number : numbers) {
        if (number.isEmpty())
            continue;
        if (!IsAscii(number))
            return TChangedCards();
        cards.Numbers.insert(number);
    }
    if (cards.Numbers.size() > MaxNamedCards)
        return TChangedCards();
    return cards;
}

void TNoticeDraft::Note(const QString& table, const TMyStatement& statement) {
    FTables.insert(table);
    if (table == QLatin1String("journal")) {
        const std::optional<QStringList> numbers =
            InsertedValues(statement, WithoutLiterals(statement.Sql),
                           {QStringLiteral("CardNumber"), QStringLiteral("OldCardNumber")});
        if (!numbers)
            FJournalNamesAll = false;
        else
            for (const QString& number : *numbers)
                if (!number.isEmpty())
                    FJournalCards.insert(number.toUpper());
        return;
    }
    const std::optional<QStringList> numbers = ChangedCardNumbers(statement);
    FCards.Add(numbers ? TChangedCards{true, QSet<QString>(numbers->begin(), numbers->end())}
                       : TChangedCards());
    if (FCards.Numbers.size() > MaxNamedCards)
        FCards = TChangedCards(); // told as "any card" anyway: no need to gather more
}

void TNoticeDraft::clear() {
    FTables.clear();
    FCards = TChangedCards::None();
    FJournalCards.clear();
    FJournalNamesAll = true;
}

QString TNoticeDraft::Text() const {
    QStringList tables = FTables.values();
    tables.sort();
    return ChangeNoticeText(tables);
}

bool TNoticeDraft::CardsInJournal() const {
    if (!FCards.Known || !FJournalNamesAll)
        return false;
    for (const QString& number : FCards.Numbers)
        if (!FJournalCards.contains(number.toUpper()))
            return false;
    return true;
}
