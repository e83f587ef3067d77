#include "db/accessdialect.h"

#include <array>

namespace {

// What a character means to the scanner. Most of a statement is names, blanks and punctuation
// that need no second look; a table keeps that path short.
enum TCharKind : unsigned char { Other, WordChar, Blank, Special };

constexpr std::array<TCharKind, 128> AsciiKinds = [] {
    std::array<TCharKind, 128> kinds{};
    for (char16_t c = u'a'; c <= u'z'; ++c)
        kinds[c] = WordChar;
    for (char16_t c = u'A'; c <= u'Z'; ++c)
        kinds[c] = WordChar;
    for (char16_t c = u'0'; c <= u'9'; ++c)
        kinds[c] = WordChar;
    kinds[u'_'] = WordChar;
    for (char16_t c : u" \t\r\n\f\v")
        kinds[c] = Blank;
    kinds[0] = Other;
    for (char16_t c : u"\"'[`;-/@?$:")
        kinds[c] = Special;
    kinds[0] = Other;
    return kinds;
}();

TCharKind KindOf(char16_t c) {
    if (c < 128)
        return AsciiKinds[c];
    return QChar(c).isLetterOrNumber() || QChar::isSurrogate(c) ? WordChar : Other;
}

// LIKE ignores case on SQLite (our matcher) and in Access. On the server the columns compare with
// a collation that LIKE cannot use, so the operand takes ICU's plain root order for the match.
constexpr char16_t ServerLike[] = u"COLLATE \"und-x-icu\" ILIKE";
constexpr char16_t ServerNotLike[] = u"COLLATE \"und-x-icu\" NOT ILIKE";

bool IsWordChar(char16_t c) {
    return KindOf(c) == WordChar;
}

// On the server a quote right after a word (E'', B'', X'') or after U& starts a text read by
// other rules than ours.
bool GluedToPrefix(char16_t c) {
    return c == u'&' || IsWordChar(c);
}

bool IsBlank(char16_t c) {
    return c < 128 && AsciiKinds[c] == Blank;
}

bool SameWord(QStringView word, QStringView keyword) {
    return word.size() == keyword.size() && (word[0].unicode() | 0x20) == keyword[0].unicode() &&
           word.compare(keyword, Qt::CaseInsensitive) == 0;
}

void AppendTwoDigits(QString& text, int value) {
    text += QChar(u'0' + value / 10);
    text += QChar(u'0' + value % 10);
}

// Walks a statement once. Unchanged stretches are copied only when something before the end
// needed rewriting, so a statement that needs none comes back as the same shared string.
class TTranslator {
public:
    TTranslator(const QString& statement, const QDateTime& now, TSqlTarget target)
        : FIn(statement), FNow(now), FServer(target == TSqlTarget::PostgreSQL) {}

    TDialectTranslation Run() {
        const qsizetype size = FIn.size();
        qsizetype pos = 0;
        const char16_t* const text = reinterpret_cast<const char16_t*>(FIn.constData());
        while (pos < size) {
            const char16_t c = text[pos];
            const TCharKind kind = KindOf(c);
            if (kind == WordChar) {
                pos = Word(pos);
                continue;
            }
            if (kind != Special) {
                ++pos;
                continue;
            }
            if (c == u'"') {
                if (!TextLiteral(pos))
                    return Refuse(QStringLiteral("A text in the statement is not closed"));
            } else if (c == u'\'') {
                // E'...', U&'...' and B'...' read their text by other rules than ours.
                if (FServer && pos > 0 && GluedToPrefix(FIn[pos - 1].unicode()))
                    return Refuse(QStringLiteral("A text in the statement has a prefix"));
                pos = SkipQuoted(pos, u'\'');
                if (pos < 0)
                    return Refuse(QStringLiteral("A text in the statement is not closed"));
            } else if (c == u'[' || c == u'`') {
                const qsizetype end = SkipQuoted(pos, c == u'[' ? u']' : u'`');
                if (end < 0)
                    return Refuse(QStringLiteral("A name in the statement is not closed"));
                if (FServer)
                    QuotedName(pos, end);
                pos = end;
            } else if (c == u';') {
                for (qsizetype rest = pos + 1; rest < size; ++rest) {
                    if (!IsBlank(FIn[rest].unicode()))
                        return Refuse(QStringLiteral("Only one statement can be sent at a time"));
                }
                Replace(pos, size, {});
                pos = size;
            } else if ((c == u'-' && pos + 1 < size && FIn[pos + 1] == u'-') ||
                       (c == u'/' && pos + 1 < size && FIn[pos + 1] == u'*')) {
                return Refuse(QStringLiteral("A statement cannot contain a comment"));
            } else if (c == u'?') {
                // ?1 or ?name would read as a numbered place followed by more text there.
                if (FServer && pos + 1 < size && IsWordChar(FIn[pos + 1].unicode()))
                    return Refuse(QStringLiteral("The statement marks its values other than by ?"));
                ++FPlaceholders;
                if (FServer)
                    Replace(pos, pos + 1, QString(u'$' + QString::number(FPlaceholders)));
                ++pos;
            } else if (c == u'$' && FServer) {
                return Refuse(QStringLiteral("The statement marks its values other than by ?"));
            } else if (c == u'@' && pos + 1 < size && FIn[pos + 1] == u'@') {
                const qsizetype end = WordEnd(pos + 2);
                if (SameWord(QStringView(FIn).sliced(pos + 2, end - pos - 2), u"identity"))
                    Replace(pos, end, FServer ? u"lastval()" : u"last_insert_rowid()");
                pos = end;
            } else if (FServer && (c == u'@' || c == u':') && pos + 1 < size &&
                       IsWordChar(FIn[pos + 1].unicode())) {
                // SQLite's @name and :name places; the server would read them as an operator on
                // a column or not at all.
                return Refuse(QStringLiteral("The statement marks its values other than by ?"));
            } else {
                ++pos;
            }
        }
        TDialectTranslation result;
        result.Ok = true;
        result.Placeholders = FPlaceholders;
        if (FChanged) {
            FOut += QStringView(FIn).sliced(FCopied);
            result.Sql = std::move(FOut);
        } else {
            result.Sql = FIn;
        }
        return result;
    }

private:
    // Replaces [from, to) of the input with `text`.
    void Replace(qsizetype from, qsizetype to, QStringView text) {
        if (!FChanged) {
            FOut.reserve(FIn.size() + 24);
            FChanged = true;
        }
        FOut += QStringView(FIn).sliced(FCopied, from - FCopied);
        FOut += text;
        FCopied = to;
    }

    TDialectTranslation Refuse(const QString& why) {
        TDialectTranslation result;
        result.Error = why;
        return result;
    }

    qsizetype WordEnd(qsizetype pos) const {
        while (pos < FIn.size() && IsWordChar(FIn[pos].unicode()))
            ++pos;
        return pos;
    }

    qsizetype SkipBlanks(qsizetype pos) const {
        while (pos < FIn.size() && IsBlank(FIn[pos].unicode()))
            ++pos;
        return pos;
    }

    // Past the closing `close` of a quoted stretch opened at `pos` (a doubled closing character
    // stands for itself); -1 when it never closes.
    qsizetype SkipQuoted(qsizetype pos, char16_t close) const {
        for (++pos; pos < FIn.size(); ++pos) {
            if (FIn[pos] == close) {
                if (close != u']' && pos + 1 < FIn.size() && FIn[pos + 1] == close)
                    ++pos;
                else
                    return pos + 1;
            }
        }
        return -1;
    }

    // "..." with "" for a quote becomes '...' with '' for each apostrophe.
    bool TextLiteral(qsizetype& pos) {
        const qsizetype end = SkipQuoted(pos, u'"');
        if (end < 0)
            return false;
        Replace(pos, pos, {});
        if (FServer && pos > 0 && GluedToPrefix(FIn[pos - 1].unicode()))
            FOut += u' ';
        FOut += u'\'';
        for (qsizetype i = pos + 1; i < end - 1; ++i) {
            const QChar c = FIn[i];
            if (c == u'"')
                ++i; // the second of a doubled quote
            else if (c == u'\'')
                FOut += u'\'';
            FOut += c;
        }
        FOut += u'\'';
        FCopied = end;
        pos = end;
        return true;
    }

    qsizetype Word(qsizetype pos) {
        const qsizetype end = WordEnd(pos);
        const QStringView word = QStringView(FIn).sliced(pos, end - pos);
        if (SameWord(word, u"delete")) {
            // DELETE * FROM: SQLite knows no star there.
            qsizetype next = SkipBlanks(end);
            if (next < FIn.size() && FIn[next] == u'*') {
                const qsizetype from = SkipBlanks(next + 1);
                const qsizetype fromEnd = WordEnd(from);
                if (SameWord(QStringView(FIn).sliced(from, fromEnd - from), u"from")) {
                    Replace(end, from, u" ");
                    return fromEnd;
                }
            }
        } else if (FServer && SameWord(word, u"like")) {
            Replace(pos, end, ServerLike);
        } else if (FServer && SameWord(word, u"not")) {
            // NOT LIKE: the collation goes before the NOT, on the operand.
            const qsizetype next = SkipBlanks(end);
            const qsizetype nextEnd = WordEnd(next);
            if (SameWord(QStringView(FIn).sliced(next, nextEnd - next), u"like")) {
                Replace(pos, nextEnd, ServerNotLike);
                return nextEnd;
            }
        } else if (FServer && SameWord(word, u"deleted")) {
            return YesNoComparison(end);
        } else if (SameWord(word, u"now")) {
            qsizetype next = SkipBlanks(end);
            if (next < FIn.size() && FIn[next] == u'(') {
                next = SkipBlanks(next + 1);
                if (next < FIn.size() && FIn[next] == u')') {
                    Replace(pos, next + 1, NowLiteral());
                    return next + 1;
                }
            }
        }
        return end;
    }

    // [Name] or `Name` from `from` to `to`: PostgreSQL folds the schema's unquoted names to lower
    // case, so the quoted form is lower case too.
    void QuotedName(qsizetype from, qsizetype to) {
        const QChar close = FIn[to - 1];
        QString name = FIn.mid(from + 1, to - from - 2);
        name.replace(QString(2, close), QString(close));
        name = name.toLower();
        name.replace(u'"', QStringLiteral("\"\""));
        Replace(from, to, QString(u'"' + name + u'"'));
    }

    // After the Yes/No column's name: "= 1", "<> 0", "= -1" compare a boolean there, so the number
    // becomes TRUE or FALSE. Anything else is left alone.
    qsizetype YesNoComparison(qsizetype end) {
        qsizetype next = SkipBlanks(end);
        if (next < FIn.size() && FIn[next] == u'=')
            ++next;
        else if (next + 1 < FIn.size() && FIn[next] == u'<' && FIn[next + 1] == u'>')
            next += 2;
        else
            return end;
        const qsizetype number = SkipBlanks(next);
        qsizetype digits = number;
        if (digits < FIn.size() && FIn[digits] == u'-')
            ++digits;
        const qsizetype numberEnd = WordEnd(digits);
        bool ok = false;
        const int value = QStringView(FIn).sliced(digits, numberEnd - digits).toInt(&ok);
        if (!ok)
            return end;
        Replace(number, numberEnd, value != 0 ? u"TRUE" : u"FALSE");
        return numberEnd;
    }

    QString NowLiteral() {
        if (FNowText.isEmpty()) {
            const QDateTime now = FNow.isValid() ? FNow : QDateTime::currentDateTime();
            FNowText = u'\'' + DatabaseDateTimeText(now) + u'\'';
        }
        return FNowText;
    }

    const QString& FIn;
    const QDateTime FNow;
    const bool FServer;
    QString FNowText;
    QString FOut;
    qsizetype FCopied = 0;
    int FPlaceholders = 0;
    bool FChanged = false;
};

} // namespace

TDialectTranslation TranslateAccessDialect(const QString& statement, const QDateTime& now,
                                           TSqlTarget target) {
    return TTranslator(statement, now, target).Run();
}

QString DatabaseDateTimeText(const QDateTime& moment) {
    const QDateTime local = moment.toLocalTime();
    const QDate date = local.date();
    const QTime time = local.time();
    QString text = QString::number(date.year()).rightJustified(4, u'0');
    text += u'-';
    AppendTwoDigits(text, date.month());
    text += u'-';
    AppendTwoDigits(text, date.day());
    text += u' ';
    AppendTwoDigits(text, time.hour());
    text += u':';
    AppendTwoDigits(text, time.minute());
    text += u':';
    AppendTwoDigits(text, time.second());
    return text;
}
