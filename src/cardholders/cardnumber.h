#pragma once

#include "db/statement.h"

#include <QString>

class TMyDBConnector;

// A card number is the text of ten hexadecimal characters that the reader makes of ROM bytes 1
// to 5 of an iButton. Operators may also type one, read off the button or a list; these are the
// rules every window applies to such a number.

inline constexpr int CardNumberLength = 10;
// Names and custom texts are kept to this many characters (not bytes, not UTF-16 units).
inline constexpr int CardTextLimit = 50;

// What a typed-number field lets through: the hexadecimal digits in either case. Anything else,
// control characters included, is refused (and the window beeps).
bool IsCardNumberCharacter(QChar c);

// Ten characters that are all hexadecimal digits.
bool IsCardNumberText(const QString& text);

// Whether a cardholder may be saved under `number`. A new or replaced card needs ten characters.
// A cardholder edited under the number it was loaded with (`loadedNumber`, null for a new one)
// keeps that number whatever its length: an imported list stores numbers as they were decoded,
// and the holder's name and texts must stay editable.
bool SavableCardNumber(const QString& number, const QString& loadedNumber);

// The number with its five two-character groups in the opposite order; the characters inside a
// group keep theirs (0A1B2C3D4E -> 4E3D2C1B0A). Some operators copy numbers from printouts that
// list the bytes the other way round.
QString ReversedCardNumber(const QString& number);

// A typed number as submitted: accepted only at exactly ten characters. FieldText is what the
// field shows afterwards (upper case), Number what is looked up or stored (reversed on request).
struct TTypedCardNumber {
    bool Accepted = false;
    QString FieldText;
    QString Number;
};
TTypedCardNumber NormaliseTypedNumber(const QString& fieldText, bool reverse);

// The Reverse box's shared setting: whatever one window last submitted, the next one opens with.
bool ReadReverseOption();
// Stores the option. When the settings file cannot be written, returns what the operator is told
// (the number is used all the same: only the next window's starting state is lost), else an
// empty text.
QString WriteReverseOption(bool reverse);

// The operator's caption of custom field 1 to 4 from the settings, as typed there.
QString CustomFieldCaption(int field);

// A name or custom text as it is kept and stored: at most CardTextLimit characters, cut without
// splitting a character in two.
QString CardText(const QString& text);

// A card text being edited, with the cursor just after what was typed or pasted: when it holds
// more than CardTextLimit characters, the excess is taken from what came in last (before the
// cursor), whole characters only, the way a length limit cuts a paste. `cursor` follows.
QString FitCardText(const QString& text, int& cursor);

// The lookup that tells whether a number belongs to a (not deleted) cardholder.
TMyStatement CardHolderByNumberStatement(const QString& number);

// What the lookup found. A number is found only when exactly one row answers: an older database
// may hold two, and then neither is the card's holder.
struct TCardLookup {
    bool Answered = false; // false when the lookup failed or there is no database
    bool Found = false;
    QString CardHolder; // when found
};
TCardLookup LookUpCardNumber(TMyDBConnector* database, const QString& number);

// True only when the lookup finds the number; a failed lookup counts as "not there".
bool CardNumberInDatabase(TMyDBConnector* database, const QString& number);
