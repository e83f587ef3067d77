#pragma once

#include <QString>

class TDesktop;
class TVYRStandProfile;

// Connects DBConnection to a profile's database, replacing whatever it was connected to. A
// read-only database is first made writable through the desktop. Returns the reason the database
// cannot be used (file checks or the connector's own error), or an empty text when it is
// connected; on failure DBConnection stays, closed, with the reason in its LastError when the
// connector gave it.
QString ConnectProfileDatabase(const TVYRStandProfile& profile, TDesktop& desktop);
