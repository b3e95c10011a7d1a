// The program's parts on engine A's AGW port, put together as the program does it, for the over-the-air
// tests, beside the cluster station and the telnet client they share.
#pragma once

#include "AgwEngine.h"
#include "Bridge.h"
#include "ClusterStationProcess.h"
#include "ProgramParts.h"
#include "QtTelnetSocket.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"
#include "SettingsWriter.h"
#include "WindowTimer.h"

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

using Config = std::map<std::string, std::string>;

// The program's parts as the program puts them together, on engine A's AGW port, with the window's labels
// recorded instead of drawn.
class BridgeOnEngineA {
  public:
    explicit BridgeOnEngineA(const Config &config)
        : parts(configured(config), {window, tick, autoMinimize, log}) {
        bool answered = false;
        bridge.start([&](bool running) {
            loaded = running;
            answered = true;
        });
        // Without an answer `loaded` stays false, which the tests check.
        (void)QTest::qWaitFor([&] { return answered; }, 15000);
    }
    // The engine's close waits for the link's last data and its disconnect before it lets go.
    ~BridgeOnEngineA() {
        bridge.shutDown();
        (void)QTest::qWaitFor([this] { return !bridge.engineClosing(); }, 15000);
    }

    Journal journal;
    FakeWindow window{journal};
    quint16 localPort = freePort();
    MemoryStore store{journal};
    StoreWriter writer{store}; // for Preferences
    WindowTimer tick{500, true};
    WindowTimer autoMinimize{0, true};
    WarningsOnlyLog log;
    ProgramParts parts;
    Bridge &bridge = parts.bridge();
    QtTelnetSocket &socket = parts.socket();
    AgwEngine &engine = dynamic_cast<AgwEngine &>(parts.engine());
    bool loaded = false;

  private:
    // The store with engine A's AGW port, the stations, a free local port and the test's own settings.
    MemoryStore &configured(const Config &config) {
        const std::string app = kProgramName;
        store.values[{app, "Engine", "Port"}] = environment("CORVANTLE_ENGINE_A_PORT").toStdString();
        store.values[{app, settings::kSection, "MyCallsign"}] = "N0CALL";
        store.values[{app, settings::kSection, "Cluster"}] = "GB7DXC";
        store.values[{app, settings::kSection, "LocalPort"}] = std::to_string(localPort);
        for (const auto &[key, value] : config)
            store.values[{app, settings::kSection, key}] = value;
        return store;
    }
};

// How long a test waits for the link to the cluster. The simulated channel carries audio faster than real
// time, but each engine keeps its transmitter busy for the real air time of what it sent: after the cluster
// sent a burst (200 lines take about 30 s at 1200 baud) it answers nothing until that time is over.
inline constexpr std::chrono::seconds kLinkUpWait{60};

inline const QByteArray kGreeting = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                                    "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n";

} // namespace corvantle::test::over_the_air
