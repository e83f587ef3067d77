#pragma once

#include <QString>

#include <functional>
#include <optional>

// Whether SQLite's file locks can be trusted where a database file lies. On a network file system
// (NFS, SMB/CIFS) or a FUSE mount (sshfs and the like) they cannot: two workstations opening the
// same file there can damage it. The kind is told by the file system's type as statfs reports it.
struct TFileSystemVerdict {
    bool Known = false;       // statfs answered
    bool LocksTrusted = true; // false on a network or FUSE file system
    QString TypeName;         // "NFS", "SMB/CIFS", "FUSE", ...; empty for a local one
};

// The f_type of the file system `path` lies on, or nothing when it cannot be told. Injected in
// tests; the real one asks statfs.
using TFileSystemTypeProbe = std::function<std::optional<long>(const QString& path)>;

// For a database file (or, when it does not exist yet, the folder it would go into).
TFileSystemVerdict SQLiteLocksVerdict(const QString& path, const TFileSystemTypeProbe& probe = {});

// The warning for the operator when the locks are not to be trusted; "" when they are.
QString NetworkFileSystemWarning(const QString& path, const TFileSystemVerdict& verdict);
