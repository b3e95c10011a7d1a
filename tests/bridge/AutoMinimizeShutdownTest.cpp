#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

class AutoMinimizeTest : public BridgeFixture {
  protected:
    void start(const std::string &autoMinimize, const std::string &delayMs) {
        store_setting(settings::kAutoMinimize, autoMinimize);
        store_setting(settings::kAutoMinimizeDelay, delayMs);
        startConfigured();
    }
};

TEST_F(AutoMinimizeTest, MinimizesOnceThenAgainAfterTheUserRestores) {
    start("1", "10000");
    EXPECT_TRUE(window.enabled[TimerId::AutoMinimize]);
    EXPECT_EQ(window.intervalMs[TimerId::AutoMinimize], 10000);

    bridge.onAutoMinimizeTimer();
    EXPECT_EQ(window.state, kWindowMinimized);
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);

    bridge.onTick(); // minimized: not re-armed
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);

    window.state = kWindowNormal; // the user restores the window
    const int startsBefore = window.countdownStarts[TimerId::AutoMinimize];
    bridge.onTick();
    bridge.onTick(); // an enabled timer keeps its countdown
    EXPECT_TRUE(window.enabled[TimerId::AutoMinimize]);
    EXPECT_EQ(window.countdownStarts[TimerId::AutoMinimize], startsBefore + 1);
}

TEST_F(AutoMinimizeTest, WindowMinimizedByHandIsLeftAlone) {
    start("1", "10000");
    window.state = kWindowMinimized;
    bridge.onAutoMinimizeTimer();
    EXPECT_EQ(window.state, kWindowMinimized);
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);
    EXPECT_EQ(journal, Journal{"AutoMinimize.disable"}); // the window state was never set
}

TEST_F(AutoMinimizeTest, OffNeverArmsOrMinimizes) {
    start("0", "10000");
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);
    bridge.onTick();
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);
    bridge.onAutoMinimizeTimer(); // even a stray tick minimizes nothing
    EXPECT_EQ(window.state, kWindowNormal);
}

TEST_F(AutoMinimizeTest, DelayOfZeroGivesATimerThatNeverFires) {
    start("1", "0");
    EXPECT_EQ(window.intervalMs[TimerId::AutoMinimize], 0);
}

TEST(ShutdownTest, DropsTheLinkClosesTheSocketAndUnregistersInThatOrderOnce) {
    struct Row {
        const char *what;
        bool client;
        bool connected;
        bool monitor;
        Journal expected;
    };
    const Row rows[] = {
        {"link up",
         true,
         true,
         false,
         {"socket.close 1", "engine.disconnect GB7DXC", "socket.stopListening", "engine.close"}},
        {"client without link",
         true,
         false,
         false,
         {"socket.close 1", "engine.disconnect GB7DXC", "socket.stopListening", "engine.close"}},
        {"no client", false, false, false, {"socket.stopListening", "engine.close"}},
        {"monitor session", true, false, true, {"socket.close 1", "socket.stopListening", "engine.close"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.store_setting(settings::kMonitorMode, settings::booleanText(row.monitor));
        rig.startConfigured();
        if (row.client && row.connected)
            rig.connectClientWithLink();
        else if (row.client)
            rig.connectClient();
        rig.bridge.shutDown();
        rig.bridge.shutDown();      // the window's final destruction
        rig.bridge.onClientGone(1); // a close reported while the socket shuts
        EXPECT_EQ(rig.journal, row.expected);
        EXPECT_FALSE(rig.socket.listening);
        EXPECT_FALSE(rig.socket.connected(1));
    }
}

// A line the client had not finished when the window closed still reaches the cluster, before the 'd'.
TEST(ShutdownTest, UnfinishedClientLineGoesOutBeforeTheDisconnect) {
    BridgeRig rig;
    rig.startConfigured();
    rig.connectClientWithLink();
    rig.clientSends("sh/dx");
    rig.bridge.shutDown();
    const Journal expected = {"engine.data GB7DXC", "socket.close 1", "engine.disconnect GB7DXC",
                              "socket.stopListening", "engine.close"};
    EXPECT_EQ(rig.journal, expected);
    EXPECT_EQ(rig.engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

} // namespace
