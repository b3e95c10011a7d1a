// What the over-the-air tests share: the cluster station GB7DXC on engine B with its log, the bridge wired
// as the program wires it on engine A, and a real telnet client on 127.0.0.1. The engines are started by
// tools/run-with-engines.sh, which says where they listen.
#pragma once

#include "AgwEngine.h"
#include "Bridge.h"
#include "QtTelnetSocket.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace corvantle::test::over_the_air {

using namespace std::chrono_literals;

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

using Config = std::map<std::string, std::string>;

// The bridge wired as the program wires it, with the window's labels recorded instead of drawn.
class BridgeOnEngineA {
  public:
    explicit BridgeOnEngineA(const Config &config) {
        const std::string app = kProgramName;
        store.values[{app, "Engine", "Port"}] = environment("CORVANTLE_ENGINE_A_PORT").toStdString();
        store.values[{app, settings::kSection, "MyCallsign"}] = "N0CALL";
        store.values[{app, settings::kSection, "Cluster"}] = "GB7DXC";
        store.values[{app, settings::kSection, "LocalPort"}] = std::to_string(localPort);
        for (const auto &[key, value] : config)
            store.values[{app, settings::kSection, key}] = value;

        socket.setHandlers({
            .connectionRequest = [this](ClientId id) { bridge.onClientArrival(id); },
            .dataArrival = [this](ClientId id) { bridge.onClientData(id); },
            .peerClosed = [this](ClientId id) { bridge.onClientGone(id); },
            .error = [this](ClientId id, int32_t number,
                            const std::string &text) { bridge.onClientError(id, number, text); },
        });
        QObject::connect(&tick, &QTimer::timeout, [this] { bridge.onTick(); });
        loaded = bridge.start();
        tick.start(500);
    }
    ~BridgeOnEngineA() {
        bridge.shutDown();
        QTest::qWait(1000); // the disconnect request goes out before the engine sees us leave
    }

    Journal journal;
    FakeWindow window{journal};
    MemoryStore store{journal};
    QtTelnetSocket socket;
    AgwEngine engine{
        [this](const std::string &app, const std::string &section, const std::string &key,
               const std::string &defaultText) { return store.readSetting(app, section, key, defaultText); }};
    Bridge bridge{window, socket, engine, store};
    quint16 localPort = freePort();
    QTimer tick;
    bool loaded = false;
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

// How long a test waits for the link to the cluster. The simulated channel carries audio faster than real
// time, but each engine keeps its transmitter busy for the real air time of what it sent: after the cluster
// sent a burst (200 lines take about 30 s at 1200 baud) it answers nothing until that time is over.
inline constexpr std::chrono::seconds kLinkUpWait{60};

inline const QByteArray kGreeting = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                                    "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n";

} // namespace corvantle::test::over_the_air
