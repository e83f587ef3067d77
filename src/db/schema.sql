-- The empty profile database. Every new profile starts as a copy of the file built from this.
--
-- Lists are ordered by ConName and CardHolder: those columns compare with LOCALE_NOCASE, which the
-- program registers on each connection (case-insensitive, accent-aware). No index is built on
-- them, because an index would freeze one locale's order into the file.
-- Card numbers are hexadecimal; NOCASE lets "0a..." find "0A..." as Access always did.
-- Date-times are text 'yyyy-MM-dd HH:mm:ss' in local time. Deleted is the Yes/No flag as 0/1.

CREATE TABLE Controllers (
    ConID INTEGER PRIMARY KEY AUTOINCREMENT,
    ConType TEXT,
    ConName TEXT COLLATE LOCALE_NOCASE,
    ConCode TEXT,
    ConByte1 INTEGER,
    ConByte2 INTEGER
);

CREATE TABLE CardHolders (
    CardNumber TEXT COLLATE NOCASE,
    CardHolder TEXT COLLATE LOCALE_NOCASE,
    CardCustom1 TEXT,
    CardCustom2 TEXT,
    CardCustom3 TEXT,
    CardCustom4 TEXT,
    CardInactive TEXT,
    CardAdded TEXT,
    CardLastEdit TEXT,
    Deleted INTEGER NOT NULL DEFAULT 0
);

-- One row per card number, live or deleted, compared as the column compares them (NOCASE): the
-- database refuses a second holder of a card whatever path a statement took. Databases made
-- before these two indexes get them when opened (cardindexes.h), with the same names.
CREATE UNIQUE INDEX CardHoldersOneRowPerCard ON CardHolders (CardNumber);

CREATE TABLE CardZones (
    ConID INTEGER,
    CardNumber TEXT COLLATE NOCASE,
    ZoneID INTEGER
);

-- Both cover their queries: the card count per controller, and the zones of one card.
CREATE INDEX CardZonesByController ON CardZones (ConID, ZoneID);
CREATE INDEX CardZonesByCardNumber ON CardZones (CardNumber, ConID, ZoneID);

-- At most one zone per card and controller.
CREATE UNIQUE INDEX CardZonesOneRowPerControllerAndCard ON CardZones (ConID, CardNumber);

-- The controllers whose memory keys must be written again (the pending-change marks), kept here so
-- that a mark outlives the program and every workstation of the site sees it. Stamp is renewed by
-- every change that marks the controller (0 or more: marked); a verified write clears the mark by
-- making it negative, and only while it still carries the stamp read with the key's contents. The
-- row goes with its controller. Databases made before this table or its stamp get them when opened.
CREATE TABLE PendingChanges (
    ConID INTEGER PRIMARY KEY,
    Stamp INTEGER NOT NULL DEFAULT 0
);

-- Who changed what: one row per change, added in the change's own transaction and never altered.
-- Times are UTC text with milliseconds; rows are shown in JournalID order, the order they were
-- made. Databases made before this table get it when opened.
CREATE TABLE Journal (
    JournalID INTEGER PRIMARY KEY AUTOINCREMENT,
    EntryTime TEXT NOT NULL,
    Operator TEXT NOT NULL,
    Workstation TEXT NOT NULL,
    Action TEXT NOT NULL,
    ConID INTEGER,
    ConName TEXT,
    CardNumber TEXT COLLATE NOCASE,
    OldCardNumber TEXT COLLATE NOCASE,
    CardHolder TEXT,
    Changes TEXT NOT NULL
);
CREATE INDEX JournalByTime ON Journal (EntryTime);
CREATE INDEX JournalByController ON Journal (ConID, JournalID);
CREATE INDEX JournalByCard ON Journal (CardNumber, JournalID);
CREATE INDEX JournalByOperator ON Journal (Operator, JournalID);
-- The controller list's last verified key write per controller, read from the index alone.
CREATE INDEX JournalByAction ON Journal (Action, ConID, JournalID);
