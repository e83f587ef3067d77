#pragma once

#include "controllers/keyimage.h"

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
