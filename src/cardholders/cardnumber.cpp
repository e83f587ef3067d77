#include "cardholders/cardnumber.h"

#include "db/MyDBConnector.h"
#include "shared/errors.h"
#include "shared/settings.h"
#include "shared/translation.h"

bool IsCardNumberCharacter(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'F') || (u >= u'a' && u <= u'f');
}

bool IsCardNumberText(const QString& text) {
    if (text.size() != CardNumberLength)
        return false;
    for (QChar c : text)
        if (!IsCardNumberCharacter(c))
            return false;
    return true;
}

bool SavableCardNumber(const QString& number, const QString& loadedNumber) {
    return number.size() == CardNumberLength || (!loadedNumber.isNull() && number == loadedNumber);
}

QString ReversedCardNumber(const QString& number) {
    QString reversed;
    reversed.reserve(number.size());
    for (qsizetype group = number.size() - 2; group >= 0; group -= 2)
        reversed += number.mid(group, 2);
    return reversed;
}

TTypedCardNumber NormaliseTypedNumber(const QString& fieldText, bool reverse) {
    TTypedCardNumber typed;
    if (fieldText.size() != CardNumberLength)
        return typed;
    typed.Accepted = true;
    typed.FieldText = fieldText.toUpper();
    typed.Number = reverse ? ReversedCardNumber(typed.FieldText) : typed.FieldText;
    return typed;
}

bool ReadReverseOption() {
    return Settings::ReverseUserInput();
}

QString WriteReverseOption(bool reverse) {
    try {
        Settings::SetReverseUserInput(reverse);
    } catch (const VyrError& error) {
        return FormatText(_("The Reverse choice could not be saved: %s"), {error.Message()});
    }
    return QString();
}

QString CustomFieldCaption(int field) {
    return Settings::CustomCaption(field);
}

QString CardText(const QString& text) {
    qsizetype characters = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate())
            continue; // the second half of a character already counted
        if (++characters > CardTextLimit)
            return text.left(i);
    }
    return text;
}

QString FitCardText(const QString& text, int& cursor) {
    qsizetype characters = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (!(text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()))
            ++characters;
    if (characters <= CardTextLimit)
        return text;
    QString fitted = text;
    qsizetype end = qBound(qsizetype(0), qsizetype(cursor), fitted.size());
    // Never start inside a pair: the cursor sits between characters.
    if (end > 0 && end < fitted.size() && fitted[end].isLowSurrogate() &&
        fitted[end - 1].isHighSurrogate())
        ++end;
    for (; characters > CardTextLimit; --characters) {
        if (end == 0) { // nothing before the cursor left: cut from the end instead
            fitted = CardText(fitted);
            cursor = int(qMin(qsizetype(cursor), fitted.size()));
            return fitted;
        }
        const qsizetype width =
            end > 1 && fitted[end - 1].isLowSurrogate() && fitted[end - 2].isHighSurrogate() ? 2
                                                                                             : 1;
        fitted.remove(end - width, width);
        end -= width;
    }
    cursor = int(end);
    return fitted;
}

TMyStatement CardHolderByNumberStatement(const QString& number) {
    return {"SELECT CardHolder FROM CardHolders WHERE (CardNumber = ?) AND (NOT Deleted)",
            {number}};
}

TCardLookup LookUpCardNumber(TMyDBConnector* database, const QString& number) {
    TCardLookup lookup;
    if (!database)
        return lookup;
    const std::unique_ptr<TMyResultSet> rows = database->Query(CardHolderByNumberStatement(number));
    if (!rows)
        return lookup;
    lookup.Answered = true;
    lookup.Found = rows->RecordCount() == 1;
    if (lookup.Found)
        lookup.CardHolder = rows->FieldByName("CardHolder").AsString();
    return lookup;
}

bool CardNumberInDatabase(TMyDBConnector* database, const QString& number) {
    return LookUpCardNumber(database, number).Found;
}
