#pragma once

#include "shared/publictypes.h"

#include <QString>

#include <array>

// The settings file vyrstandalone.ini, key by key: every section and key name, default and type
// lives here, so no other file spells one. Each call opens the file afresh (another copy of the
// program may have changed it). Writes throw VyrError("Unable to write to %s") and then change
// nothing; keys that belong together are written in one replacement.
namespace Settings {

constexpr int CustomFieldCount = 4;
using TCustomCaptions = std::array<QString, CustomFieldCount>;

// [settings] language: "nl" or anything else for English; empty reads as "en".
QString Language();
void SetLanguage(const QString& language);

// [settings] reader: the reader type; nothing writes it.
QString Reader();

// [driver] arc, adapter and port.
TAppSettings Driver();
void SetDriver(const TAppSettings& driver);

// [profiles] lastprofile: the file name, without folder, of the profile chosen last.
QString LastProfile();
void SetLastProfile(const QString& profileFileName);

// [settings] custom1 to custom4: the operator's names for the free fields; `field` is 1 to 4.
QString CustomCaption(int field);
TCustomCaptions CustomCaptions();
void SetCustomCaptions(const TCustomCaptions& captions);

// [cardnumbers] reverseuserinput.
bool ReverseUserInput();
void SetReverseUserInput(bool reverse);

} // namespace Settings
