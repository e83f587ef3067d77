-- The site's change journal on a PostgreSQL server, after schema-postgresql.sql.
--
-- Who changed what: one row per change, added in the change's own transaction and never altered
-- (the README shows how to let the operator role only add to it).
--
-- What the server vouches for in every journal entry, whatever a workstation sends: its number,
-- its time and the database role that wrote it. The login name and the host name stay what the
-- workstation says; a file site has no server to vouch, and keeps those alone.
--
-- Run by the journal's owner: with the site's tables, and once more on an older site when the owner
-- opens it (every statement leaves alone what is there already). The function runs with its
-- owner's rights, so that the operator role needs no right on the entries' sequence (and cannot
-- take numbers from it); its search_path is fixed, so that nothing a caller puts on its own path
-- is taken for part of the site.

CREATE TABLE IF NOT EXISTS Journal (
    JournalID bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    EntryTime text NOT NULL,
    Operator text NOT NULL,
    Workstation text NOT NULL,
    Action text NOT NULL,
    ConID integer,
    ConName text,
    CardNumber text COLLATE vyr_nocase,
    OldCardNumber text COLLATE vyr_nocase,
    CardHolder text,
    Changes text NOT NULL,
    DatabaseRole text
);
CREATE INDEX IF NOT EXISTS JournalByTime ON Journal (EntryTime);
CREATE INDEX IF NOT EXISTS JournalByController ON Journal (ConID, JournalID);
CREATE INDEX IF NOT EXISTS JournalByCard ON Journal (CardNumber, JournalID);
CREATE INDEX IF NOT EXISTS JournalByOperator ON Journal (Operator, JournalID);
-- The controller list's last verified key write per controller, read from the index alone.
CREATE INDEX IF NOT EXISTS JournalByAction ON Journal (Action, ConID, JournalID);
-- A journal made before the server vouched for its entries.
ALTER TABLE Journal ADD COLUMN IF NOT EXISTS DatabaseRole text;

CREATE OR REPLACE FUNCTION vyr_journal_facts() RETURNS trigger
    LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog, pg_temp AS $$
DECLARE
    numbers text := pg_get_serial_sequence(format('%I.%I', TG_TABLE_SCHEMA, TG_TABLE_NAME),
                                           'journalid');
BEGIN
    -- The number the sequence just gave this session, as it does for every entry but one sent
    -- with OVERRIDING SYSTEM VALUE: that one gets a number of the sequence's all the same.
    BEGIN
        IF NEW.JournalID IS DISTINCT FROM currval(numbers) THEN
            NEW.JournalID := nextval(numbers);
        END IF;
    EXCEPTION WHEN object_not_in_prerequisite_state THEN
        NEW.JournalID := nextval(numbers);
    END;
    -- The journal's own form, as the workstations write it on a file site: UTC, milliseconds.
    NEW.EntryTime := to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS.MS"Z"');
    NEW.DatabaseRole := session_user;
    -- The entries of this transaction, which its notice to the other workstations points to.
    PERFORM set_config('vyr.journal_first',
                       COALESCE(NULLIF(current_setting('vyr.journal_first', true), ''),
                                NEW.JournalID::text), true);
    PERFORM set_config('vyr.journal_last', NEW.JournalID::text, true);
    RETURN NEW;
END
$$;
REVOKE ALL ON FUNCTION vyr_journal_facts() FROM PUBLIC;

DROP TRIGGER IF EXISTS vyr_journal_facts ON Journal;
CREATE TRIGGER vyr_journal_facts BEFORE INSERT ON Journal
    FOR EACH ROW EXECUTE FUNCTION vyr_journal_facts();

-- Whatever rights other roles were given on the whole schema: the journal only grows, and its
-- numbers come from the function alone.
DO $$
DECLARE
    grantee text;
BEGIN
    FOR grantee IN
        SELECT DISTINCT CASE a.grantee WHEN 0 THEN 'PUBLIC'
                        ELSE quote_ident(pg_get_userbyid(a.grantee)) END
        FROM pg_class c, aclexplode(c.relacl) a
        WHERE c.oid IN ('Journal'::regclass,
                        pg_get_serial_sequence('Journal', 'journalid')::regclass)
          AND a.grantee <> c.relowner
    LOOP
        EXECUTE format('REVOKE UPDATE, DELETE, TRUNCATE ON Journal FROM %s', grantee);
        EXECUTE format('REVOKE ALL ON SEQUENCE %s FROM %s',
                       pg_get_serial_sequence('Journal', 'journalid'), grantee);
    END LOOP;
END
$$;
