// The bridge on the KissEngine, as the program wires it: the real bridge and Qt socket side, the
// program's own AX.25 link on Dire Wolf engine A's KISS port, the cluster station GB7DXC on engine B and a
// real TCP client on 127.0.0.1. Run by tools/run-with-engines.sh --kiss-a.
#include "Bridge.h"
#include "ClusterStationProcess.h"
#include "ProgramParts.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"
#include "WindowTimer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace corvantle;
using namespace corvantle::test;
using namespace corvantle::test::over_the_air;
using namespace std::chrono_literals;

namespace {

// The program's parts as the program puts them together, with the KISS engine chosen on engine A's KISS
// port, the window's labels recorded instead of drawn.
class BridgeOnKissPort {
  public:
    BridgeOnKissPort() : parts(configured(), {window, tick, autoMinimize, log}) {
        bool answered = false;
        bridge.start([&](bool running) {
            loaded = running;
            answered = true;
        });
        // Without an answer `loaded` stays false, which the tests check.
        (void)QTest::qWaitFor([&] { return answered; }, 15000);
    }
    ~BridgeOnKissPort() {
        bridge.shutDown();
        (void)QTest::qWaitFor([this] { return !bridge.engineClosing(); }, 15000);
    }

    Journal journal;
    FakeWindow window{journal};
    quint16 localPort = freePort();
    MemoryStore store{journal};
    WindowTimer tick{500, true};
    WindowTimer autoMinimize{0, true};
    WarningsOnlyLog log;
    ProgramParts parts;
    Bridge &bridge = parts.bridge();
    bool loaded = false;

  private:
    MemoryStore &configured() {
        const std::string app = kProgramName;
        store.values[{app, settings::kSection, "MyCallsign"}] = "N0CALL";
        store.values[{app, settings::kSection, "Cluster"}] = "GB7DXC";
        store.values[{app, settings::kSection, "LocalPort"}] = std::to_string(localPort);
        store.values[{app, settings::kEngineSection, settings::kEngineKind.name}] = "KISS";
        store.values[{app, settings::kEngineSection, settings::kEngineKiss.name}] =
            "127.0.0.1:" + environment("CORVANTLE_ENGINE_A_KISS_PORT").toStdString();
        return store;
    }
};

TEST(KissBridgeSession, ALoggingProgramWorksTheClusterThroughTheKissPort) {
    if (environment("CORVANTLE_ENGINE_A_KISS_PORT").isEmpty() ||
        environment("CORVANTLE_ENGINE_B_PORT").isEmpty())
        GTEST_SKIP()
            << "needs engine A's KISS port and engine B: run through tools/run-with-engines.sh --kiss-a";
    ClusterStation cluster;
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 10000));
    BridgeOnKissPort bridge;
    ASSERT_TRUE(bridge.loaded);

    Client client(bridge.localPort);
    ASSERT_TRUE(client.connected);
    ASSERT_TRUE(client.waitFor("*** CONNECTED With Station GB7DXC\r\n", 60s)) << client.received().data();
    EXPECT_EQ(bridge.window.statusText, "Status: Connected");
    ASSERT_TRUE(client.waitFor("DX de ", 30s)) << client.received().data();

    client.type("sh/dx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx \r")"); }, 30000))
        << cluster.log().join('\n').toStdString();
    EXPECT_TRUE(client.waitFor("N0CALL de GB7DXC >\r\n", 30s));

    client.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 30000))
        << cluster.log().join('\n').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bridge.window.statusText == "Status: Disconnected"; }, 30000));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
