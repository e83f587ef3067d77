#include "virtualadapter.h"

#include "onewire/crc8.h"
#include "shared/datadir.h"
#include "shared/publictypes.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <signal.h>

QString VirtualAdapter::Simulator() {
    return ProgramDirectory() + "/ibutton-sim";
}

VirtualAdapter::VirtualAdapter() : FStateDir(FFolder.path() + "/state") {
    if (!QFileInfo(Simulator()).isExecutable()) {
        FProblem = "no simulator at " + Simulator();
        return;
    }
    QDir().mkpath(StateDir());
    FServer.setProgram(Simulator());
    FServer.setArguments({"serve", "--tty", Link(), "--state", StateDir()});
    FServer.setStandardOutputFile(FFolder.path() + "/serve.out");
    FServer.setStandardErrorFile(FFolder.path() + "/serve.err");
    FServer.start();
    if (!FServer.waitForStarted(5000)) {
        FProblem = "the simulator did not start: " + FServer.errorString();
        return;
    }
    const QDeadlineTimer deadline(60000);
    while (!QFileInfo(Link()).isSymLink() && !deadline.hasExpired() &&
           FServer.state() == QProcess::Running)
        QThread::msleep(10);
    if (!QFileInfo(Link()).isSymLink()) {
        QFile log(FFolder.path() + "/serve.err");
        log.open(QIODevice::ReadOnly);
        FProblem =
            "the simulator's terminal did not appear: " + QString::fromLocal8Bit(log.readAll());
        return;
    }

    if (!SetAnswerTimeout(PatientTimeout)) {
        FProblem = "cannot write the library's configuration in " +
                   qEnvironmentVariable("XDG_CONFIG_HOME");
        return;
    }
    Settings.Driver.DriverAdapter = 5;
    Settings.Driver.DriverPort = 1;
    FReady = true;
}

VirtualAdapter::VirtualAdapter(Usb) {
    const QStringList folders = qEnvironmentVariable("IBUTTON_SIM_USB_STATE").split(':');
    if (folders.first().isEmpty()) {
        FProblem = "not running under ibutton-sim serve-usb";
        return;
    }
    FStateDir = folders.first();
    Settings.Driver.DriverAdapter = 6;
    Settings.Driver.DriverPort = 1;
    FReady = true;
}

VirtualAdapter::~VirtualAdapter() {
    if (FServer.state() != QProcess::NotRunning) {
        Stall(false); // a stopped process would not see the request to end
        FServer.terminate();
        if (!FServer.waitForFinished(3000)) {
            FServer.kill();
            FServer.waitForFinished(3000);
        }
    }
}

bool VirtualAdapter::SetAnswerTimeout(int milliseconds) {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    QDir().mkpath(config);
    QFile ini(config + "/ibfs32.ini");
    const QString text = "[default]\nporttype=5\nportnum=1\n[serial]\nport1=" + Link() +
                         "\ntimeout=" + QString::number(milliseconds) + "\n";
    return ini.open(QIODevice::WriteOnly | QIODevice::Truncate) && ini.write(text.toUtf8()) >= 0;
}

bool VirtualAdapter::Stall(bool stalled) {
    const qint64 pid = FServer.processId();
    return pid > 0 && kill(static_cast<pid_t>(pid), stalled ? SIGSTOP : SIGCONT) == 0;
}

QString VirtualAdapter::Link() const {
    return FFolder.path() + "/tty";
}

QString VirtualAdapter::StateDir() const {
    return FStateDir;
}

bool VirtualAdapter::RunTool(const QStringList& arguments, QByteArray* output) const {
    QProcess tool;
    tool.start(Simulator(), QStringList{"--state", StateDir()} + arguments);
    if (!tool.waitForFinished(60000)) {
        tool.kill();
        tool.waitForFinished(3000);
        return false;
    }
    if (output)
        *output = tool.readAllStandardOutput();
    return tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
}

bool VirtualAdapter::Put(const QString& rom) {
    return RunTool({"put", rom});
}

bool VirtualAdapter::Remove(const QString& rom) {
    return RunTool({"remove", rom});
}

QStringList VirtualAdapter::List() const {
    QByteArray output;
    if (!RunTool({"list"}, &output))
        return {};
    return QString::fromLatin1(output).split('\n', Qt::SkipEmptyParts);
}

QByteArray VirtualAdapter::Memory(const QString& rom) const {
    QFile file(StateDir() + "/" + rom.toUpper() + ".mem");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool VirtualAdapter::SetMemory(const QString& rom, const QByteArray& bytes) {
    // Replaced whole, as the simulator itself does, so it never reads half a file.
    const QString path = StateDir() + "/" + rom.toUpper() + ".mem";
    QFile file(path + ".new");
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    QFile::remove(path);
    return QFile::rename(path + ".new", path);
}

VirtualAdapter::Traffic VirtualAdapter::Counters() const {
    Traffic traffic;
    QFile file(StateDir() + "/stats");
    if (!file.open(QIODevice::ReadOnly))
        return traffic;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals);
        const quint64 value = line.mid(equals + 1).trimmed().toULongLong();
        if (key == "bytes_in")
            traffic.BytesIn = value;
        else if (key == "bytes_out")
            traffic.BytesOut = value;
        else if (key == "round_trips")
            traffic.RoundTrips = value;
        else if (key == "resets")
            traffic.Resets = value;
    }
    return traffic;
}

QString VirtualAdapter::RomOf(uint8_t family, const QByteArray& serialLeastSignificantFirst) {
    std::array<uint8_t, 8> rom{};
    rom[0] = family;
    for (int i = 0; i < 6 && i < serialLeastSignificantFirst.size(); ++i)
        rom[size_t(i + 1)] = uint8_t(serialLeastSignificantFirst[i]);
    rom[7] = onewire::crc8(std::span<const uint8_t>(rom.data(), 7));
    QString text;
    for (uint8_t byte : rom)
        text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}
