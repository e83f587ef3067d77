#include "db/sqlitetext.h"

#include <QCollator>
#include <QLocale>

#include <sqlite3.h>

namespace {

QCollator* NewTextCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    auto* collator = new QCollator(locale);
    collator->setCaseSensitivity(Qt::CaseInsensitive);
    collator->setNumericMode(false);
    collator->setIgnorePunctuation(false);
    return collator;
}

int CompareByLocale(void* collator, int size1, const void* text1, int size2, const void* text2) {
    // UTF-16 in native order, as registered: the text arrives ready for QCollator.
    const QStringView first(static_cast<const char16_t*>(text1), size1 / 2);
    const QStringView second(static_cast<const char16_t*>(text2), size2 / 2);
    const int order = static_cast<QCollator*>(collator)->compare(first, second);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void DeleteCollator(void* collator) {
    delete static_cast<QCollator*>(collator);
}

QString ValueText(sqlite3_value* value) {
    const auto* text = static_cast<const char16_t*>(sqlite3_value_text16(value));
    return QString::fromUtf16(text, sqlite3_value_bytes16(value) / 2);
}

// like(pattern, text [, escape]): what SQLite calls for `text LIKE pattern [ESCAPE escape]`.
void LikeFunction(sqlite3_context* context, int argc, sqlite3_value** argv) {
    char16_t escape = 0;
    if (argc == 3) {
        if (sqlite3_value_type(argv[2]) == SQLITE_NULL) {
            sqlite3_result_null(context);
            return;
        }
        const QString escapeText = ValueText(argv[2]);
        if (escapeText.size() != 1) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = escapeText[0].unicode();
    }
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    sqlite3_result_int(context, LikeMatches(ValueText(argv[0]), ValueText(argv[1]), escape));
}

// The length of the character at `pos`: one code unit, two for a surrogate pair.
qsizetype CharLength(QStringView text, qsizetype pos) {
    if (text[pos].isHighSurrogate() && pos + 1 < text.size() && text[pos + 1].isLowSurrogate())
        return 2;
    return 1;
}

} // namespace

bool LikeMatches(QStringView patternText, QStringView subjectText, char16_t escape) {
    const QString pattern = patternText.toString().toCaseFolded();
    const QString text = subjectText.toString().toCaseFolded();
    qsizetype p = 0;
    qsizetype t = 0;
    qsizetype retryPattern = -1; // just after the last %, where a failed match resumes
    qsizetype retryText = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            const char16_t c = pattern[p].unicode();
            qsizetype literal = p;
            if (escape != 0 && c == escape) {
                literal = p + 1; // a trailing escape matches nothing
            } else if (c == u'%') {
                retryPattern = ++p;
                retryText = t;
                continue;
            } else if (c == u'_') {
                ++p;
                t += CharLength(text, t);
                continue;
            }
            if (literal < pattern.size()) {
                const qsizetype length = CharLength(pattern, literal);
                if (t + length <= text.size() && QStringView(pattern).sliced(literal, length) ==
                                                     QStringView(text).sliced(t, length)) {
                    p = literal + length;
                    t += length;
                    continue;
                }
            }
        }
        if (retryPattern < 0)
            return false;
        p = retryPattern;
        retryText += CharLength(text, retryText);
        t = retryText;
    }
    while (p < pattern.size() && pattern[p] == u'%' && pattern[p] != escape)
        ++p;
    return p == pattern.size();
}

bool RegisterTextRules(sqlite3* database, QString* error) {
    QCollator* collator = NewTextCollator();
    int rc = sqlite3_create_collation_v2(database, LocaleCollationName, SQLITE_UTF16, collator,
                                         CompareByLocale, DeleteCollator);
    if (rc != SQLITE_OK)
        delete collator; // unlike its other interfaces, SQLite leaves this one to us on failure
    for (int argc = 2; rc == SQLITE_OK && argc <= 3; ++argc) {
        rc = sqlite3_create_function_v2(database, "like", argc, SQLITE_UTF16 | SQLITE_DETERMINISTIC,
                                        nullptr, LikeFunction, nullptr, nullptr, nullptr);
    }
    if (rc != SQLITE_OK && error)
        *error = QString::fromUtf8(sqlite3_errmsg(database));
    return rc == SQLITE_OK;
}
