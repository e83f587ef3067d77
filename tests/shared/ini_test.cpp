#include "shared/errors.h"
#include "shared/ini.h"
#include "shared/safefile.h"

#include "testenv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

class IniTest : public HomeTest {
protected:
    QString Path() const { return Home->Path() + "/test.ini"; }
};

TEST_F(IniTest, MissingFileSectionOrKeyGivesTheDefaults) {
    const IniFile ini(Path());
    EXPECT_EQ(ini.ReadString("settings", "language", "en"), "en");
    EXPECT_EQ(ini.ReadInteger("driver", "port", 7), 7);
    EXPECT_TRUE(ini.ReadBool("cardnumbers", "reverseuserinput", true));
    EXPECT_FALSE(QFile::exists(Path())) << "reading must never create the file";
}

TEST_F(IniTest, NamesMatchWhateverTheirCase) {
    ASSERT_TRUE(WriteTextFile(Path(), "[SETTINGS]\r\nLanguage=nl\r\n[Driver]\r\nPORT = 3\r\n"));
    const IniFile ini(Path());
    EXPECT_EQ(ini.ReadString("settings", "language", "en"), "nl");
    EXPECT_EQ(ini.ReadInteger("driver", "port", 0), 3);
}

TEST_F(IniTest, ValuesThatAreNoWholeNumberReadAsTheDefault) {
    ASSERT_TRUE(WriteTextFile(Path(), "[driver]\nadapter=five\nport=\narc=32\nbig=3.5\nneg=-4\n"));
    const IniFile ini(Path());
    EXPECT_EQ(ini.ReadInteger("driver", "adapter", 0), 0);
    EXPECT_EQ(ini.ReadInteger("driver", "port", 9), 9);
    EXPECT_EQ(ini.ReadInteger("driver", "big", 1), 1);
    EXPECT_EQ(ini.ReadInteger("driver", "neg", 0), -4);
    EXPECT_EQ(ini.ReadInteger("driver", "arc", 0), 32);
}

TEST_F(IniTest, AnEmptyValueIsAValueNotTheDefault) {
    ASSERT_TRUE(WriteTextFile(Path(), "[settings]\ncustom1=\n"));
    EXPECT_EQ(IniFile(Path()).ReadString("settings", "custom1", "Custom 1"), "");
}

TEST_F(IniTest, AWriteChangesOneLineAndKeepsEverythingElse) {
    ASSERT_TRUE(WriteTextFile(Path(), "; kept comment\r\n[Settings]\r\nLanguage=en\r\n"
                                      "custom1=Badge\r\n\r\n[other]\r\nx=1\r\n"));
    const IniFile ini(Path());
    ini.WriteString("settings", "language", "nl");        // replaced where it stands
    ini.WriteString("settings", "reader", "MaximReader"); // appended to its own section
    ini.WriteInteger("driver", "port", 4);                // new section at the end
    EXPECT_EQ(ReadWholeFile(Path()),
              QByteArray("; kept comment\r\n[Settings]\r\nlanguage=nl\r\ncustom1=Badge\r\n"
                         "reader=MaximReader\r\n\r\n[other]\r\nx=1\r\n[driver]\r\nport=4\r\n"));
}

TEST_F(IniTest, TextsRoundTripExactly) {
    const IniFile ini(Path());
    const QString odd = QString::fromUtf8("Zoë \"de\" Vries; 50% = ok\\");
    ini.WriteString("profile", "name", odd);
    EXPECT_EQ(ini.ReadString("profile", "name", ""), odd);
}

TEST_F(IniTest, AFailedWriteRaisesTheMessageAndChangesNothing) {
    ASSERT_TRUE(WriteTextFile(Path(), "[settings]\nlanguage=en\n"));
    QFile::setPermissions(Path(), QFileDevice::ReadOwner);
    const IniFile ini(Path());
    try {
        ini.WriteString("settings", "language", "nl");
        FAIL() << "a read-only file must refuse the write";
    } catch (const VyrError& error) {
        EXPECT_EQ(error.Message(), "Unable to write to " + Path());
    }
    EXPECT_EQ(ini.ReadString("settings", "language", ""), "en");
    EXPECT_EQ(ReadWholeFile(Path()), QByteArray("[settings]\nlanguage=en\n"));
}

TEST_F(IniTest, AWriteIntoAMissingFolderFails) {
    const IniFile ini(Home->Path() + "/no/such/folder/x.ini");
    EXPECT_THROW(ini.WriteString("a", "b", "c"), VyrError);
}

TEST_F(IniTest, ANewFileIsPrivateToTheUser) {
    IniFile(Path()).WriteString("profile", "name", "Site");
    EXPECT_EQ(QFile::permissions(Path()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
}

TEST_F(IniTest, SeveralKeysGoInOneReplacementAndKeepTheRest) {
    ASSERT_TRUE(WriteTextFile(Path(), "; mine\r\n[profile]\r\nname=Old\r\n[database]\r\n"
                                      "filename=data/old.accdb\r\nextra=1\r\n"));
    IniFile(Path()).WriteStrings(
        {{"profile", "name", "New"}, {"database", "filename", "data/new.accdb"}});
    EXPECT_EQ(ReadWholeFile(Path()), QByteArray("; mine\r\n[profile]\r\nname=New\r\n[database]\r\n"
                                                "filename=data/new.accdb\r\nextra=1\r\n"));
    // Nothing is left behind next to the file, not even its lock.
    const QStringList entries = QDir(Home->Path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(entries, QStringList({"test.ini"}));
}

TEST_F(IniTest, AFailedMultiKeyWriteChangesNoKey) {
    ASSERT_TRUE(WriteTextFile(Path(), "[driver]\nadapter=5\nport=1\n"));
    QFile::setPermissions(Path(), QFileDevice::ReadOwner);
    EXPECT_THROW(
        IniFile(Path()).WriteStrings({{"driver", "adapter", "6"}, {"driver", "port", "0"}}),
        VyrError);
    EXPECT_EQ(ReadWholeFile(Path()), QByteArray("[driver]\nadapter=5\nport=1\n"));
}

// A pasted two-line value must stay one value on one line, whatever kind of line break it has.
TEST_F(IniTest, LineBreaksInAValueNeverBecomeLines) {
    const struct {
        const char* value;
        const char* stored;
    } cases[] = {
        {"Site\nB", "Site B"}, {"Site\r\nB", "Site B"},
        {"Site\rB", "Site B"}, {"a\n[other]\nname=evil", "a [other] name=evil"},
        {"\n", " "},           {"no break", "no break"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        QFile::remove(Path());
        const IniFile ini(Path());
        ini.WriteString("profile", "name", QString::fromUtf8(c.value));
        EXPECT_EQ(ini.ReadString("profile", "name", "-"), QString::fromUtf8(c.stored).trimmed());
        EXPECT_FALSE(ini.ValueExists("other", "name"));
        EXPECT_EQ(ReadWholeFile(Path()).count('\n'), 2) << "one header and one key line";
    }
}

// What lies in place of a settings or profile file is not always a file: a read must neither hang
// nor swallow a device, and a write must not replace what it could not read.
TEST_F(IniTest, OnlySmallRegularFilesAreRead) {
    const QString fifo = Home->Path() + "/fifo.ini";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = Home->Path() + "/zero.ini";
    ASSERT_TRUE(QFile::link("/dev/zero", zero));
    const QString big = Home->Path() + "/big.ini";
    ASSERT_TRUE(WriteTextFile(big, "[s]\nk=v\n" + QByteArray(2 * 1024 * 1024, ';')));
    const QString folder = Home->Path() + "/folder.ini";
    ASSERT_TRUE(QDir().mkpath(folder));
    const struct {
        QString path;
        const char* reason;
    } cases[] = {
        {fifo, "is not a regular file"},
        {zero, "is not a regular file"},
        {folder, "is not a regular file"},
        {big, "is too large"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const IniFile ini(c.path);
        try {
            ini.ReadString("s", "k", "");
            ADD_FAILURE() << "the read must be refused";
        } catch (const VyrError& error) {
            EXPECT_TRUE(error.Message().contains(c.path));
            EXPECT_TRUE(error.Message().contains(c.reason)) << error.Message().toStdString();
        }
        EXPECT_THROW(ini.WriteString("s", "k", "x"), VyrError);
    }
    EXPECT_TRUE(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile()) << "the FIFO stays";
    EXPECT_EQ(QFileInfo(big).size(), 2 * 1024 * 1024 + 8) << "the big file is not replaced";
}

// Two running copies writing the same file: every write must survive, none undone by the other's
// read-modify-write. Each writer adds keys of its own; a lost update loses a key for good.
TEST_F(IniTest, ConcurrentWritersLoseNoWrite) {
    constexpr int Writes = 100;
    const auto writer = [this](const QString& prefix) {
        const IniFile ini(Path());
        for (int i = 0; i < Writes; ++i)
            ini.WriteInteger("keys", prefix + QString::number(i), i);
    };
    std::thread first(writer, QStringLiteral("first"));
    std::thread second(writer, QStringLiteral("second"));
    first.join();
    second.join();
    const IniFile ini(Path());
    int missing = 0;
    for (int i = 0; i < Writes; ++i)
        for (const QString& prefix : {QStringLiteral("first"), QStringLiteral("second")})
            missing += ini.ValueExists("keys", prefix + QString::number(i)) ? 0 : 1;
    EXPECT_EQ(missing, 0);
}

// Whether some open file waits in flock() for the file with this inode number.
bool SomeoneWaitsOn(ino_t inode) {
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray suffix = ":" + QByteArray::number(qulonglong(inode));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 6 && fields[1] == "->" && fields[6].endsWith(suffix))
            return true;
    }
    return false;
}

// The lock file goes when its lock is let go. A copy that was already waiting on that file must
// then lock the name afresh: holding a lock on a file no longer in the folder would let a third
// copy in beside it.
TEST_F(IniTest, ALockFileGoesWithItsLockAndAWaiterLocksTheNameAfresh) {
    const QString lockFile = Home->Path() + "/.test.ini.lock";
    const QByteArray lockName = QFile::encodeName(lockFile);
    auto first = std::make_unique<TFileLock>(Path());
    ASSERT_TRUE(first->Held());
    struct stat before {};
    ASSERT_EQ(::stat(lockName.constData(), &before), 0);

    std::atomic<bool> secondHeld = false;
    std::atomic<bool> release = false;
    std::thread second([&] {
        const TFileLock lock(Path());
        secondHeld = lock.Held();
        while (!release)
            std::this_thread::yield();
    });
    const QDeadlineTimer patience(30000);
    while (!SomeoneWaitsOn(before.st_ino) && !patience.hasExpired())
        std::this_thread::yield();
    ASSERT_TRUE(SomeoneWaitsOn(before.st_ino)) << "the second lock never waited";
    EXPECT_FALSE(secondHeld);

    first.reset();
    while (!secondHeld && !patience.hasExpired())
        std::this_thread::yield();
    EXPECT_TRUE(secondHeld);
    // A third copy finds the name locked.
    const int third = ::open(lockName.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(third, 0);
    EXPECT_NE(::flock(third, LOCK_EX | LOCK_NB), 0) << "two copies would hold the lock at once";
    ::close(third);
    release = true;
    second.join();
    EXPECT_FALSE(QFileInfo::exists(lockFile));
}

// A lock file left by a copy that was killed goes with the next lock taken on it.
TEST_F(IniTest, AStaleLockFileGoesWithTheNextWrite) {
    ASSERT_TRUE(WriteTextFile(Home->Path() + "/.test.ini.lock", ""));
    IniFile(Path()).WriteString("a", "b", "c");
    EXPECT_EQ(QDir(Home->Path()).entryList(QDir::Files | QDir::Hidden), QStringList({"test.ini"}));
}

TEST_F(IniTest, AReplacementKeepsTheFileMode) {
    ASSERT_TRUE(WriteTextFile(Path(), "[a]\nb=c\n"));
    QFile::setPermissions(Path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup);
    IniFile(Path()).WriteString("a", "b", "d");
    EXPECT_EQ(QFile::permissions(Path()) & (QFileDevice::ReadGroup | QFileDevice::ReadOther),
              QFileDevice::ReadGroup);
}

} // namespace
