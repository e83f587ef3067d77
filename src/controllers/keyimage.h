#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <span>

// The memory key a controller reads its access list from: the 512 bytes of a DS1993, built from
// the controller's code, its two option bytes and the cards of its two zones, closed by the 1-Wire
// CRC-8 of everything before the last byte.
//
//   0..2  controller code, three hexadecimal pairs      5  one more than the zone-1 entries
//   3     0x00                                          6  ConByte1
//   4     0x01                                          7  ConByte2
//   8..   two bytes per card (first four hexadecimal characters of its number), zone 1 first,
//         then zone 2, no separator; zeros after them; 511: CRC-8 over bytes 0..510.

// The family code of the memory key's iButton (DS1993).
inline constexpr uint8_t MemoryKeyFamily = 0x06;
inline constexpr int KeyImageSize = 512;
inline constexpr int KeyPageSize = 32;
inline constexpr int KeyPageCount = KeyImageSize / KeyPageSize;
inline constexpr int KeyFirstEntryOffset = 8;
inline constexpr int KeyCrcOffset = KeyImageSize - 1;
// Entries start at byte 8 and byte 511 is the CRC, so 251 is the last whole entry.
inline constexpr int MaxKeyCardEntries = (KeyCrcOffset - KeyFirstEntryOffset) / 2;

using TKeyImage = std::array<uint8_t, KeyImageSize>;

struct TKeyImageInput {
    QString ConCode;
    uint8_t ConByte1 = 0;
    uint8_t ConByte2 = 0;
    QStringList Zone1Cards; // card numbers, in the order the database returned them
    QStringList Zone2Cards;
};

// Why an input cannot become a key image, as a (translated) message for the operator; empty when
// it can. Nothing is written to a key unless this is empty, so a bad code or card never leaves a
// half-written key behind.
QString KeyImageProblem(const TKeyImageInput& input);

// The image of an input for which KeyImageProblem is empty. (For any other input the bytes that
// could not be read are 0 and the image must not be written.)
TKeyImage BuildKeyImage(const TKeyImageInput& input);

// The 32 bytes that go to memory address page * 32.
std::span<const uint8_t, KeyPageSize> KeyImagePage(const TKeyImage& image, int page);

// Exactly six hexadecimal characters, either letter case.
bool IsControllerCode(const QString& code);
// A card number whose first four characters are hexadecimal (the only part a key holds).
bool IsCardEntrySource(const QString& cardNumber);
