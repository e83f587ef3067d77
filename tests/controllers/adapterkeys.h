#pragma once

#include "virtualadapter.h"

#include <QString>

// A DS1993 memory key and a DS1990 card, as they lie on the virtual adapter.
inline const QString MemoryKey = VirtualAdapter::RomOf(0x06, QByteArray::fromHex("0A1B2C3D4E5F"));
inline const QString PlainCard = VirtualAdapter::RomOf(0x01, QByteArray::fromHex("A1B2C3D4E5F6"));
