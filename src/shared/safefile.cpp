#include "shared/safefile.h"

#include "shared/errors.h"
#include "shared/translation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

bool WriteAll(int descriptor, const QByteArray& content) {
    const char* data = content.constData();
    qsizetype left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

QByteArray ReadSmallFile(const QString& path, qint64 limit) {
    // Non-blocking, so opening a FIFO returns at once; the type is judged on the open descriptor,
    // so the file cannot be swapped between the look and the read.
    const int descriptor = ::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throw VyrError(FormatText(_("Cannot read %s: %s"),
                                  {path, QString::fromLocal8Bit(std::strerror(errno))}));
    }
    struct stat status {};
    QByteArray content;
    QString problem;
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = FormatText(_("%s is not a regular file; it is not read."), {path});
    } else if (status.st_size > limit) {
        problem = FormatText(
            TranslatePlural("%s is too large (more than %d byte); it is not read.",
                            "%s is too large (more than %d bytes); it is not read.", limit),
            {path, QString::number(limit)});
    } else {
        content.resize(qsizetype(status.st_size));
        qsizetype done = 0;
        while (done < content.size()) {
            const ssize_t got =
                ::read(descriptor, content.data() + done, size_t(content.size() - done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += got;
        }
        content.resize(done); // a file that shrank meanwhile gives what it still had
    }
    ::close(descriptor);
    if (!problem.isEmpty())
        throw VyrError(problem);
    return content;
}

TFileLock::TFileLock(const QString& path) {
    const QFileInfo info(path);
    // Hidden, so folder listings (and the operator) see only the files that matter.
    FLockName = Native(info.absolutePath() + "/." + info.fileName() + ".lock");
    for (;;) {
        FDescriptor =
            ::open(FLockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (FDescriptor < 0)
            return;
        while (::flock(FDescriptor, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(FDescriptor);
                FDescriptor = -1;
                return;
            }
        }
        // The holder before us removes the file as it lets go: a lock on a file that is no longer
        // in the folder protects nothing, since the next copy makes a new one. Only the file that
        // is there counts.
        struct stat held {};
        struct stat named {};
        if (::fstat(FDescriptor, &held) != 0)
            return;
        if (::lstat(FLockName.constData(), &named) != 0 && errno != ENOENT)
            return;
        if (named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            return;
        ::close(FDescriptor);
    }
}

TFileLock::~TFileLock() {
    if (FDescriptor < 0)
        return;
    // Removed while still held, so nobody can have locked the name in between; whoever waits on
    // this file finds it gone and takes the name afresh.
    ::unlink(FLockName.constData());
    ::close(FDescriptor); // closing releases the lock
}

void SyncFolderOf(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    const int descriptor = ::open(Native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

bool ReplaceFileAtomically(const QString& path, const QByteArray& content) {
    const QFileInfo target(path);
    mode_t mode = 0600;
    struct stat existing {};
    if (::stat(Native(path).constData(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode))
            return false; // never replace a FIFO or device that someone put in its place
        mode = existing.st_mode & 07777;
    }
    const QString temporary = target.absolutePath() + "/." + target.fileName() + "." +
                              QString::number(QRandomGenerator::global()->generate64(), 36) +
                              ".tmp";
    const QByteArray temporaryName = Native(temporary);
    const int descriptor =
        ::open(temporaryName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0)
        return false;
    const bool written = WriteAll(descriptor, content) && ::fchmod(descriptor, mode) == 0 &&
                         ::fsync(descriptor) == 0;
    const bool closed = ::close(descriptor) == 0;
    if (!written || !closed || ::rename(temporaryName.constData(), Native(path).constData()) != 0) {
        ::unlink(temporaryName.constData());
        return false;
    }
    SyncFolderOf(path);
    return true;
}

bool CopyFileDurably(const QString& source, const QString& target, QString* error) {
    const auto fail = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    const int input = ::open(Native(source).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (input < 0)
        return fail(FormatText(_("Cannot read %s: %s"),
                               {source, QString::fromLocal8Bit(std::strerror(errno))}));
    struct stat status {};
    if (::fstat(input, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(input);
        return fail(FormatText(_("%s is not a regular file; it is not read."), {source}));
    }
    const QByteArray targetName = Native(target);
    const int output =
        ::open(targetName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (output < 0) {
        const int reason = errno;
        ::close(input);
        return fail(FormatText(_("Unable to write to %s"), {target}) + ": " +
                    QString::fromLocal8Bit(std::strerror(reason)));
    }
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(input, buffer.data(), size_t(buffer.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            ok = false;
        if (got <= 0)
            break;
        if (!WriteAll(output, buffer.left(qsizetype(got)))) {
            ok = false;
            break;
        }
    }
    const int reason = errno;
    ok = ::fsync(output) == 0 && ok;
    ok = ::close(output) == 0 && ok;
    ::close(input);
    if (!ok) {
        ::unlink(targetName.constData());
        return fail(FormatText(_("Unable to write to %s"), {target}) + ": " +
                    QString::fromLocal8Bit(std::strerror(reason)));
    }
    return true;
}

bool RenameWithoutReplacing(const QString& from, const QString& to) {
    const QByteArray fromName = Native(from);
    const QByteArray toName = Native(to);
    int result =
        ::renameat2(AT_FDCWD, fromName.constData(), AT_FDCWD, toName.constData(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        // A file system without the flag: a hard link refuses an existing name just the same.
        result = ::link(fromName.constData(), toName.constData());
        if (result == 0)
            ::unlink(fromName.constData());
    }
    if (result != 0)
        return false;
    SyncFolderOf(to);
    return true;
}

bool MakePrivateFolders(const QString& path) {
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QStringList parts = clean.split('/', Qt::SkipEmptyParts);
    QString current;
    for (const QString& part : parts) {
        current += "/" + part;
        const QByteArray name = Native(current);
        if (::mkdir(name.constData(), 0700) == 0) {
            // The umask only takes rights away, but an odd one (0200) would leave the owner
            // unable to write into the folder: set the mode exactly.
            ::chmod(name.constData(), 0700);
            SyncFolderOf(current);
        } else if (errno != EEXIST) {
            return false;
        }
    }
    return QFileInfo(clean).isDir();
}

void MakeFolderPrivate(const QString& path) {
    struct stat status {};
    const QByteArray name = Native(path);
    if (::lstat(name.constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return;
    if (status.st_mode & 077)
        ::chmod(name.constData(), status.st_mode & 0700);
}
