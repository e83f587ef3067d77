#include "profiles/legacyrecords.h"

namespace {

// Field offsets and sizes within a record.
struct TField {
    qsizetype Offset;
    qsizetype Size;
};

constexpr TField ConCodeField{0, 6};
constexpr qsizetype ConByte1Offset = 10;
constexpr qsizetype ConByte2Offset = 12;
constexpr TField ConNameField{34, 20};

constexpr TField HolderField{14, 30};
constexpr TField Custom1Field{44, 30};
constexpr TField Custom2Field{147, 10};
constexpr TField NumberField{157, 10};
constexpr qsizetype Zone1FlagsOffset = 291;
constexpr qsizetype Zone2FlagsOffset = 307;
constexpr qsizetype FlagBytes = LegacyPositions / 8;

QString TextField(QByteArrayView record, TField field) {
    return BytesToText(record.sliced(field.Offset, field.Size));
}

} // namespace

QString BytesToText(QByteArrayView field) {
    QString text;
    text.reserve(field.size());
    for (const char byte : field) {
        if (byte != 0)
            text += QChar(char16_t(static_cast<unsigned char>(byte)));
    }
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    return text.sliced(begin, end - begin);
}

std::optional<TTmpStandalone> DecodeControllerRecord(QByteArrayView record, int recordNum) {
    Q_ASSERT(record.size() >= ControllerRecordSize);
    QString code = TextField(record, ConCodeField);
    if (code.size() != 6)
        return std::nullopt;
    TTmpStandalone controller;
    controller.RecordNum = recordNum;
    controller.ConCode = std::move(code);
    controller.ConName = TextField(record, ConNameField);
    // The option bytes go into the database as they are: their bits mean to the controller what
    // they meant to the older software.
    controller.ConByte1 = static_cast<quint8>(record[ConByte1Offset]);
    controller.ConByte2 = static_cast<quint8>(record[ConByte2Offset]);
    return controller;
}

bool TLegacyCard::HoldsCard() const {
    return !CardNumber.isEmpty() && CardNumber != QLatin1String("0000000000");
}

TLegacyCard DecodeCardRecord(QByteArrayView record) {
    Q_ASSERT(record.size() >= CardRecordSize);
    TLegacyCard card;
    card.CardNumber = TextField(record, NumberField);
    card.CardHolder = TextField(record, HolderField);
    card.CardCustom1 = TextField(record, Custom1Field);
    card.CardCustom2 = TextField(record, Custom2Field);
    // Each flag block is 16 bytes of 8 positions. Within a byte, bit 0 (value 1) is its first
    // position and bit 7 its eighth, so position p sits in byte (p - 1) / 8 at bit (p - 1) % 8;
    // position p stands for record p of autonoom.bst. A position flagged in both blocks is zone 1.
    for (qsizetype byte = 0; byte < FlagBytes; ++byte) {
        const auto zone1 = static_cast<unsigned char>(record[Zone1FlagsOffset + byte]);
        const auto zone2 = static_cast<unsigned char>(record[Zone2FlagsOffset + byte]);
        for (int bit = 0; bit < 8; ++bit) {
            const unsigned mask = 1u << bit;
            card.Zones[size_t(byte * 8 + bit)] = (zone1 & mask) ? 1 : (zone2 & mask) ? 2 : 0;
        }
    }
    return card;
}
