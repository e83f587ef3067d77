#pragma once

#include <QString>

#include <memory>
#include <vector>

class TVYRStandProfile;

// What deleting a profile may do to its files, decided without a window: the profile file goes
// unless it is marked read-only; the database goes only when no other profile still names it.

// True when both names lead to the same file (either may not exist yet).
bool SameFile(const QString& a, const QString& b);

enum class TProfileFileRemoval { Removed, ReadOnly, Failed };
// Removes a profile file. A file without the owner's write permission is the operator's way of
// protecting it, so it stays, even where the system would allow the removal.
TProfileFileRemoval RemoveProfileFile(const QString& path);

enum class TDatabaseState { Missing, NamedByAnotherProfile, OwnedAlone };
// The state of `profile`'s database among `profiles` (which may include `profile` itself).
TDatabaseState ProfileDatabaseState(const TVYRStandProfile& profile,
                                    const std::vector<std::unique_ptr<TVYRStandProfile>>& profiles);
