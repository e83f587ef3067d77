#include "db/sqlquote.h"

QString SqlQuoted(const QString& value) {
    QString quoted;
    quoted.reserve(value.size() + 2);
    quoted += u'"';
    for (QChar c : value) {
        if (c == u'"')
            quoted += u'"';
        quoted += c;
    }
    quoted += u'"';
    return quoted;
}

QString SqlLikeContains(const QString& value) {
    static constexpr char16_t Escape = u'\\';
    bool needsEscape = false;
    QString pattern;
    pattern.reserve(value.size() + 4);
    pattern += u'%';
    for (QChar c : value) {
        if (c == u'%' || c == u'_' || c == Escape) {
            pattern += Escape;
            needsEscape = true;
        }
        pattern += c;
    }
    pattern += u'%';
    QString operand = SqlQuoted(pattern);
    if (needsEscape)
        operand += QStringLiteral(" ESCAPE \"\\\"");
    return operand;
}
