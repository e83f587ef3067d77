#include "controllers/keyimage.h"

#include "onewire/crc8.h"
#include "shared/translation.h"

namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool AllHex(const QString& text, qsizetype count) {
    if (text.size() < count)
        return false;
    for (qsizetype i = 0; i < count; ++i)
        if (HexDigit(text[i]) < 0)
            return false;
    return true;
}

// The byte of the hexadecimal pair at `at`; 0 when it is no pair (callers check first).
uint8_t HexPair(const QString& text, qsizetype at) {
    if (text.size() < at + 2)
        return 0;
    const int high = HexDigit(text[at]);
    const int low = HexDigit(text[at + 1]);
    return high < 0 || low < 0 ? 0 : static_cast<uint8_t>(high * 16 + low);
}

} // namespace

bool IsControllerCode(const QString& code) {
    return code.size() == 6 && AllHex(code, 6);
}

bool IsCardEntrySource(const QString& cardNumber) {
    return AllHex(cardNumber, 4);
}

QString KeyImageProblem(const TKeyImageInput& input) {
    if (!IsControllerCode(input.ConCode))
        return FormatText(_("The controller code \"%s\" is not six hexadecimal characters. Correct "
                            "it in the controller's properties; nothing was written to the key."),
                          {input.ConCode});
    const qsizetype entries = input.Zone1Cards.size() + input.Zone2Cards.size();
    if (entries > MaxKeyCardEntries)
        return FormatText(TranslatePlural("This controller gives %d card access, but a memory key "
                                          "holds at most %d. Nothing was written to the key.",
                                          "This controller gives %d cards access, but a memory key "
                                          "holds at most %d. Nothing was written to the key.",
                                          entries),
                          {QString::number(entries), QString::number(MaxKeyCardEntries)});
    for (const QStringList* zone : {&input.Zone1Cards, &input.Zone2Cards})
        for (const QString& card : *zone)
            if (!IsCardEntrySource(card))
                return FormatText(_("The card number \"%s\" does not begin with four hexadecimal "
                                    "characters. Nothing was written to the key."),
                                  {card});
    return QString();
}

TKeyImage BuildKeyImage(const TKeyImageInput& input) {
    TKeyImage image{};
    for (int i = 0; i < 3; ++i)
        image[size_t(i)] = HexPair(input.ConCode, 2 * i);
    image[3] = 0x00;
    image[4] = 0x01;
    image[6] = input.ConByte1;
    image[7] = input.ConByte2;

    // Entries never reach the CRC byte, whatever the caller failed to check.
    size_t position = KeyFirstEntryOffset;
    auto append = [&](const QStringList& cards) {
        for (const QString& card : cards) {
            if (position + 2 > size_t(KeyCrcOffset))
                return;
            image[position++] = HexPair(card, 0);
            image[position++] = HexPair(card, 2);
        }
    };
    append(input.Zone1Cards);
    // Byte 5 is where zone 2 begins, counted in entries from 1; the controller reads it that way.
    image[5] = static_cast<uint8_t>(1 + (position - KeyFirstEntryOffset) / 2);
    append(input.Zone2Cards);

    image[KeyCrcOffset] = onewire::crc8(std::span<const uint8_t>(image.data(), KeyCrcOffset));
    return image;
}

std::span<const uint8_t, KeyPageSize> KeyImagePage(const TKeyImage& image, int page) {
    return std::span<const uint8_t, KeyPageSize>(image.data() + size_t(page) * KeyPageSize,
                                                 KeyPageSize);
}
