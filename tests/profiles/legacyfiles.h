#pragma once

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

// Writes the older software's files byte by byte, so each test states exactly the bytes it means.
// Fields are placed at their offsets; whatever a test leaves out stays 0.

QByteArray ControllerRecord(const QByteArray& code, const QByteArray& name, quint8 byte1 = 2,
                            quint8 byte2 = 4);

// A zone of 1 or 2 at a position (1 to 128); 3 sets both flags.
using TZoneFlags = std::vector<std::pair<int, int>>;

QByteArray CardRecord(const QByteArray& number, const QByteArray& holder,
                      const QByteArray& custom1 = {}, const QByteArray& custom2 = {},
                      const TZoneFlags& zones = {});

// A card record that holds nothing but the given flag bytes (16 each).
QByteArray CardFlagsRecord(const QByteArray& number, const QByteArray& zone1Flags,
                           const QByteArray& zone2Flags);

bool WriteLegacyFile(const QString& path, const QByteArray& content);

// `bytes` of pseudo-random content from `seed`, written in pieces so that memory stays small.
bool WriteRandomFile(const QString& path, qint64 bytes, quint64 seed);

// Writes autonoom.bst (128 controllers) and asleutel.bst (`cards` cards, each flag set with the
// given chance, a third of them in zone 2) into `folder`; returns the autonoom.bst path.
QString WriteSampleLegacySite(const QString& folder, int cards, double flagChance);
