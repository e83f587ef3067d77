#include "db/statement.h"

TLikeOperand LikeContains(const QString& value) {
    static constexpr char16_t Escape = u'\\';
    TLikeOperand operand;
    operand.Sql = QStringLiteral("?");
    operand.Pattern.reserve(value.size() + 4);
    operand.Pattern += u'%';
    bool needsEscape = false;
    for (QChar c : value) {
        if (c == u'%' || c == u'_' || c == Escape) {
            operand.Pattern += Escape;
            needsEscape = true;
        }
        operand.Pattern += c;
    }
    operand.Pattern += u'%';
    if (needsEscape)
        operand.Sql += QStringLiteral(" ESCAPE \"\\\"");
    return operand;
}
