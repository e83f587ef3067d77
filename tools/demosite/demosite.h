#pragma once

#include "profiles/profilecreation.h"

// The site that a new demo home starts with, so that the program opens at work instead of on an
// empty wizard: a handful of controllers, a dozen cardholders with their zones, and one controller
// whose memory key must be written. It is made the way the program's own windows make a site, by
// the same units, and the demo card that ./run.sh lays on the virtual adapter belongs to one of
// the cardholders.

inline constexpr char DemoProfileName[] = "Demo site";
// ROM bytes 1 to 5 of the demo card on the virtual adapter.
inline constexpr char DemoCardNumber[] = "A1B2C3D4E5";
// The controller added last, with every cardholder granted, whose key is not written yet.
inline constexpr char DemoMarkedController[] = "Car park barrier";

// Makes the demo profile in the data directory and makes it the profile chosen last, so the
// selection opens on it. Throws VyrError with the reason; no profile is left then.
TProfilePaths MakeDemoSite();
// The same site in an empty database on a server, and a profile that names the server
// (`connection`, libpq's connection text). Throws VyrError with the reason.
TProfilePaths MakeServerDemoSite(const QString& connection);
