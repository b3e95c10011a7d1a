// The real corvantle program for tests that look at it from outside: a throwaway settings store naming
// N0CALL and GB7DXC, the offscreen platform, and where it listens read from the kernel's socket table.
#pragma once

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>

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
inline bool prepareProgram(QProcess &program, const QTemporaryDir &config, const QString &myCallsign,
                           quint16 localPort, const std::string &enginePort) {
    QDir().mkpath(config.path() + "/corvantle");
    QFile store(config.path() + "/corvantle/settings.ini");
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
    environment.insert("XDG_CONFIG_HOME", config.path());
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    return true;
}

} // namespace corvantle::test
