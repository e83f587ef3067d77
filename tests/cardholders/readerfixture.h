#pragma once

#include "cardholderfixture.h"
#include "faketmexcontrol.h"
#include "reader/cardpoller.h"

// The cardholder fixture with the fake 1-Wire library in place of the real one, on adapter 5
// port 1, with an empty bus.
class CardReaderTest : public CardholderTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Lays exactly this card on the adapter (nullptr: none).
    void Present(const RomBytes* card);

    // The card poller of a window that reads the adapter; nullptr when it has none.
    static TCardPollerLink* PollerOf(const QObject* window);
    // Has the window's poller look every few milliseconds, so tests wait little for its looks.
    static void LookOften(const QObject* window);
    // Waits until the window's poller has looked at the adapter `count` more times and the
    // window has handled what each of those looks told. Nothing to wait for while it does not
    // look.
    void Looks(const QObject* window, int count);

    FakeTmex Fake;
};

inline const RomBytes CardA{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x8F}; // A1B2C3D4E5
inline const RomBytes CardB{0x01, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x00, 0x00}; // 0A1B2C3D4E
