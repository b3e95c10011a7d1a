// The real corvantle program for tests and the benchmark, which look at it from outside: a throwaway
// settings store naming N0CALL and GB7DXC, the offscreen platform, where it listens read from the kernel's
// socket table, and its CPU time and peak memory read from /proc. The one way both start the program.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

#include <optional>
#include <string>

#include <unistd.h>

namespace corvantle::test {

inline quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The local addresses on which something listens at `port`, hexadecimal as the kernel lists them.
inline QStringList listeningAddresses(quint16 port) {
    QStringList addresses;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        file.readLine(); // column titles
        while (!file.atEnd()) {
            const QStringList columns = QString(file.readLine()).simplified().split(' ');
            const QStringList local = columns.value(1).split(':');
            if (columns.value(3) == "0A" && local.value(1).toUInt(nullptr, 16) == port)
                addresses << local.value(0);
        }
    }
    return addresses;
}

// Writes the store into `config` (as $XDG_CONFIG_HOME) and readies `program` to run with it.
inline bool prepareProgram(QProcess &program, const QString &configHome, const QString &myCallsign,
                           quint16 localPort, const std::string &enginePort) {
    QDir().mkpath(configHome + "/corvantle");
    QFile store(configHome + "/corvantle/settings.ini");
    if (!store.open(QIODevice::WriteOnly))
        return false;
    store.write(QString("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\n"
                        "Config\\MyCallsign=%1\n"
                        "Config\\Cluster=GB7DXC\n"
                        "Config\\LocalPort=%2\n"
                        "Engine\\Port=%3\n")
                    .arg(myCallsign)
                    .arg(localPort)
                    .arg(QString::fromStdString(enginePort))
                    .toUtf8());
    store.close();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    return true;
}

inline bool prepareProgram(QProcess &program, const QTemporaryDir &config, const QString &myCallsign,
                           quint16 localPort, const std::string &enginePort) {
    return prepareProgram(program, config.path(), myCallsign, localPort, enginePort);
}

// One run of the program: a QProcess that knows when it was started and reads its own /proc entries.
// Ended (asked, then killed after a grace time) when it goes out of scope.
class ProgramUnderTest final : public QProcess {
  public:
    ~ProgramUnderTest() override { stop(); }

    // Runs without any display, as a service does.
    void withoutDisplay() {
        QProcessEnvironment environment = processEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        setProcessEnvironment(environment);
    }

    bool launch(const QString &binary, const QStringList &arguments, int waitMs = 10000) {
        sinceStart_.start();
        start(binary, arguments);
        return waitForStarted(waitMs);
    }
    // Milliseconds since launch().
    qint64 msSinceLaunch() const { return sinceStart_.isValid() ? sinceStart_.elapsed() : 0; }

    // Takes note of an end that has already happened, without waiting.
    bool running() {
        if (state() == QProcess::Running)
            waitForFinished(0);
        return state() == QProcess::Running;
    }
    // How it ended, for a report: "exited with status 1", "crashed".
    QString howItEnded() const {
        if (exitStatus() == QProcess::CrashExit)
            return "crashed";
        return "exited with status " + QString::number(exitCode());
    }

    // User plus system CPU time so far.
    std::optional<double> cpuSeconds() const {
        // Fields after the command name, which may hold blanks: state is the first, utime the 12th, stime
        // the 13th.
        const QByteArray stat = procFile("stat");
        const qsizetype nameEnd = stat.lastIndexOf(')');
        if (nameEnd < 0)
            return std::nullopt;
        const QList<QByteArray> fields = stat.mid(nameEnd + 1).simplified().split(' ');
        if (fields.size() < 13)
            return std::nullopt;
        const double ticks = fields[11].toDouble() + fields[12].toDouble();
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    // VmHWM: the most resident memory it has had, in megabytes.
    std::optional<double> peakResidentMb() const {
        for (const QByteArray &line : procFile("status").split('\n')) {
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
        return std::nullopt;
    }

    void stop(int graceMs = 5000) {
        if (state() == QProcess::NotRunning)
            return;
        terminate();
        if (!waitForFinished(graceMs)) {
            kill();
            waitForFinished(graceMs);
        }
    }

  private:
    QByteArray procFile(const char *name) const {
        QFile file(QString("/proc/%1/%2").arg(processId()).arg(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QElapsedTimer sinceStart_;
};

} // namespace corvantle::test
