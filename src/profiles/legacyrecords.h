#pragma once

#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>

// The two data files of the older stand-alone software: flat runs of fixed-size records without
// header or trailer. `autonoom.bst` lists the controllers, `asleutel.bst` the cards with their
// holders and, per card, the zone at each of 128 controller positions. Decoding needs no database
// and no window, so the import, the tests and the fuzzer share it.

inline constexpr qsizetype ControllerRecordSize = 128;
inline constexpr qsizetype CardRecordSize = 512;
inline constexpr int LegacyPositions = 128;

// A text field of the older software: 0 bytes are dropped wherever they stand (they do not end the
// text), every other byte is the character of the same code (Latin-1), and characters up to 32
// (blanks and control characters) are trimmed from both ends.
QString BytesToText(QByteArrayView field);

// One controller as the import carries it from its record to its database row.
struct TTmpStandalone {
    int RecordNum = 0; // 1-based record in autonoom.bst, counting every record read
    int ConID = 0;     // the new Controllers row; 0 until known
    QString ConType = QStringLiteral("VYR292");
    QString ConName;
    QString ConCode;
    quint8 ConByte1 = 0;
    quint8 ConByte2 = 0;
};

// The controller of one 128-byte record, or nothing when its code does not decode to exactly 6
// characters (the older software's empty slots). `record` must hold ControllerRecordSize bytes.
std::optional<TTmpStandalone> DecodeControllerRecord(QByteArrayView record, int recordNum);

// One card record. Zones[p - 1] is the zone (0, 1 or 2) the card has at controller position p.
struct TLegacyCard {
    QString CardNumber;
    QString CardHolder;
    QString CardCustom1;
    QString CardCustom2;
    std::array<quint8, LegacyPositions> Zones{};

    // An empty number or "0000000000" marks a record that holds no card.
    bool HoldsCard() const;
};

// `record` must hold CardRecordSize bytes.
TLegacyCard DecodeCardRecord(QByteArrayView record);
