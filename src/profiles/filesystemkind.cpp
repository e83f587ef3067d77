#include "profiles/filesystemkind.h"

#include "shared/translation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/vfs.h>

namespace {

// The types (linux/magic.h and the file systems' own sources) whose locks do not reach the other
// workstations, or do not reach them reliably.
struct TRemoteType {
    unsigned long Magic;
    const char* Name;
};

constexpr TRemoteType RemoteTypes[] = {
    {0x6969, "NFS"},          {0x517B, "SMB/CIFS"}, // smbfs
    {0xFF534D42, "SMB/CIFS"},                       // cifs
    {0xFE534D42, "SMB/CIFS"},                       // smb3
    {0x65735546, "FUSE"},                           // sshfs, and every other FUSE mount
    {0x73757245, "Coda"},     {0x5346414F, "AFS"},   {0x6B414653, "AFS"},    {0x00C36400, "Ceph"},
    {0x01021997, "9P"},       {0x564C, "NCP"},       {0x0BD00BD0, "Lustre"}, {0x47504653, "GPFS"},
    {0x01161970, "GFS2"},     {0x7461636F, "OCFS2"},
};

std::optional<long> StatfsType(const QString& path) {
    struct statfs info {};
    if (statfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return long(info.f_type);
}

} // namespace

TFileSystemVerdict SQLiteLocksVerdict(const QString& path, const TFileSystemTypeProbe& probe) {
    const QFileInfo info(path);
    const QString where = info.exists() ? info.absoluteFilePath() : info.absolutePath();
    const std::optional<long> type = probe ? probe(where) : StatfsType(where);
    TFileSystemVerdict verdict;
    if (!type)
        return verdict;
    verdict.Known = true;
    // f_type is a signed long on some architectures; the magic numbers are 32-bit patterns.
    const unsigned long magic = static_cast<unsigned long>(*type) & 0xFFFFFFFFUL;
    for (const TRemoteType& remote : RemoteTypes) {
        if (remote.Magic == magic) {
            verdict.LocksTrusted = false;
            verdict.TypeName = QString::fromLatin1(remote.Name);
            break;
        }
    }
    return verdict;
}

QString NetworkFileSystemWarning(const QString& path, const TFileSystemVerdict& verdict) {
    if (verdict.LocksTrusted)
        return QString();
    return FormatText(_("The site database %s lies on a network file system (%s). Two "
                        "workstations must never use this file at the same time: its locks do "
                        "not reach the other workstation there, and the database can be "
                        "damaged. To share a site, put it on a database server: \"A database on a "
                        "server\" in the profile wizard, or \"Move to server...\" in profile "
                        "management."),
                      {QDir::toNativeSeparators(path), verdict.TypeName});
}
