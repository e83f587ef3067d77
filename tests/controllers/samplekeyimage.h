#pragma once

#include "controllers/keyimage.h"

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <utility>

// A small key image with cards in both zones, for tests that move images to and from a key.
inline TKeyImage SampleImage() {
    TKeyImageInput input;
    input.ConCode = "A1B2C3";
    input.ConByte1 = 2;
    input.ConByte2 = 4;
    input.Zone1Cards = {"12AB000001", "34CD000002"};
    input.Zone2Cards = {"56EF000003"};
    return BuildKeyImage(input);
}

// What a key image is built from: a code and the cards of each zone, with the options most tests
// need.
inline TKeyImageInput KeyInput(const QString& code, QStringList zone1 = {}, QStringList zone2 = {},
                               uint8_t byte1 = 2, uint8_t byte2 = 4) {
    TKeyImageInput input;
    input.ConCode = code;
    input.ConByte1 = byte1;
    input.ConByte2 = byte2;
    input.Zone1Cards = std::move(zone1);
    input.Zone2Cards = std::move(zone2);
    return input;
}

// The image's bytes, as a key's memory holds them.
inline QByteArray ImageBytes(const TKeyImage& image) {
    return QByteArray(reinterpret_cast<const char*>(image.data()), KeyImageSize);
}
