#pragma once

#include <QString>

// The per-user data directory: settings, log, profiles and profile databases. Computed anew on
// every call (tests and the demo point XDG_DATA_HOME elsewhere).
QString DataDirectory();
// The folder of the running executable: template database, catalogues, the 1-Wire library.
QString ProgramDirectory();
// The settings file vyrstandalone.ini in the data directory.
QString SettingsFileName();
// Creates the data directory's "data" and "profiles" folders and every missing folder above them
// private to the user (0700, whatever the umask), since cardholder names are personal data; an
// existing data directory open to group or others is made private too.
void CreateDataFolders();
