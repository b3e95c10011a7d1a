// The cluster station GB7DXC on engine B, run as a process with its log, and a telnet client on 127.0.0.1:
// what the over-the-air tests share, whichever engine the program under test uses. The engines are started
// by tools/run-with-engines.sh, which says where they listen.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <chrono>
#include <string>
#include <vector>

namespace corvantle::test::over_the_air {

inline QString environment(const char *name) {
    return qEnvironmentVariable(name);
}

inline quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Reverses the station log's escaping of a received or sent text.
inline std::string unescape(const QString &quoted) {
    std::string out;
    const std::string text = quoted.toStdString();
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        if (next == 'r')
            out += '\r';
        else if (next == 'n')
            out += '\n';
        else if (next == 't')
            out += '\t';
        else if (next == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            out += next;
    }
    return out;
}

// The cluster station on engine B, with its log of everything it heard and said.
class ClusterStation {
  public:
    explicit ClusterStation(const char *spotIntervalSeconds = "2") {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(CORVANTLE_CLUSTER_STATION, {"--port", environment("CORVANTLE_ENGINE_B_PORT"), "--call",
                                                   "GB7DXC", "--spot-interval", spotIntervalSeconds});
        process_.waitForStarted();
    }
    ~ClusterStation() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
    }

    QStringList log() {
        log_ += QString::fromLatin1(process_.readAll());
        return log_.split('\n', Qt::SkipEmptyParts);
    }
    bool logged(const QString &line) { return log().contains(line); }
    // The texts of the station's log lines that start with `prefix`, unescaped.
    std::vector<std::string> texts(const QString &prefix) {
        std::vector<std::string> found;
        for (const QString &line : log())
            if (line.startsWith(prefix))
                found.push_back(unescape(line.mid(prefix.size())));
        return found;
    }

  private:
    QProcess process_;
    QString log_;
};

// A telnet client of the bridge, keeping everything it received.
class Client {
  public:
    explicit Client(quint16 port) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        connected = socket_.waitForConnected(3000);
    }
    QByteArray received() {
        received_ += socket_.readAll();
        return received_;
    }
    bool waitFor(const QByteArray &text, std::chrono::milliseconds timeout) {
        return QTest::qWaitFor([&] { return received().contains(text); }, static_cast<int>(timeout.count()));
    }
    void type(const QByteArray &text) {
        socket_.write(text);
        socket_.flush();
    }
    void close() { socket_.disconnectFromHost(); }
    bool connected = false;

  private:
    QTcpSocket socket_;
    QByteArray received_;
};

} // namespace corvantle::test::over_the_air
