#pragma once

#include <QByteArray>
#include <QString>

// Settings and profile files are small text files that a person can replace with anything: a
// FIFO, a link to a device, a huge file. These helpers read only what is safe to read, serialise
// writers across running copies of the program, and make a rename survive a power loss.

// The largest settings or profile file read; no real one comes near it.
constexpr qint64 SmallFileLimit = 1024 * 1024;

// The whole content of a small regular file. A missing file is empty content, not an error.
// Anything that is not a regular file, or larger than `limit`, throws VyrError with the reason;
// the read never blocks on a FIFO or a device.
QByteArray ReadSmallFile(const QString& path, qint64 limit = SmallFileLimit);

// An exclusive advisory lock on the hidden file ".<name>.lock" beside `path`, for as long as the
// object lives. Two copies of the program doing a read-modify-write of one file wait for each other
// instead of undoing each other's change. When the lock file cannot be made (a read-only folder)
// there is nothing to protect: the write that follows fails on its own.
// The lock file is removed when the lock is released (and one left by a killed run with it), so
// no lock file stays beside a file that nobody is writing, nor beside one that was deleted.
class TFileLock {
public:
    explicit TFileLock(const QString& path);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    bool Held() const { return FDescriptor >= 0; }

private:
    QByteArray FLockName;
    int FDescriptor = -1;
};

// Flushes the folder that holds `path`, so a rename into it is on disk when this returns.
void SyncFolderOf(const QString& path);

// Writes `content` to `path` in one atomic replacement (0600 for a new file, an existing file's
// mode kept) and syncs the folder. False when it could not be written; the old file then stays.
bool ReplaceFileAtomically(const QString& path, const QByteArray& content);

// Copies a regular file to a new file `target` (which must not exist), 0600, flushed to disk.
// False with the reason in `error`; a partial target is removed.
bool CopyFileDurably(const QString& source, const QString& target, QString* error);

// Renames `from` to `to` only when `to` does not exist, and syncs the folder. False with errno
// set otherwise (EEXIST when `to` exists).
bool RenameWithoutReplacing(const QString& from, const QString& to);

// Creates `path` and every missing folder above it with mode 0700, whatever the umask.
bool MakePrivateFolders(const QString& path);
// Takes group and other rights away from an existing folder.
void MakeFolderPrivate(const QString& path);
