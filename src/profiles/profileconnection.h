#pragma once

#include <QString>

#include <memory>

class TDesktop;
class TProfileSession;
class TVYRStandProfile;

struct TSessionOpening {
    std::unique_ptr<TProfileSession> Session; // none when the database cannot be used
    QString Problem;                          // why not
};

// Opens a session on a profile's database. A read-only database is first made writable through
// the desktop. The problem is the reason the database cannot be used: the file checks' or the
// connector's own error.
TSessionOpening OpenProfileSession(const TVYRStandProfile& profile, TDesktop& desktop);
