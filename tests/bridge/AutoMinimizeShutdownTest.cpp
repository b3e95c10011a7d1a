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
    EXPECT_TRUE(window.enabled[TimerId::Timer2]);
    EXPECT_EQ(window.intervalMs[TimerId::Timer2], 10000);

    bridge.Timer2_Timer();
    EXPECT_EQ(window.state, kWindowMinimized);
    EXPECT_FALSE(window.enabled[TimerId::Timer2]);

    bridge.Timer1_Timer(); // minimized: not re-armed
    EXPECT_FALSE(window.enabled[TimerId::Timer2]);

    window.state = kWindowNormal; // the user restores the window
    const int startsBefore = window.countdownStarts[TimerId::Timer2];
    bridge.Timer1_Timer();
    bridge.Timer1_Timer(); // an enabled timer keeps its countdown
    EXPECT_TRUE(window.enabled[TimerId::Timer2]);
    EXPECT_EQ(window.countdownStarts[TimerId::Timer2], startsBefore + 1);
}

TEST_F(AutoMinimizeTest, WindowMinimizedByHandIsLeftAlone) {
    start("1", "10000");
    window.state = kWindowMinimized;
    bridge.Timer2_Timer();
    EXPECT_EQ(window.state, kWindowMinimized);
    EXPECT_FALSE(window.enabled[TimerId::Timer2]);
    EXPECT_EQ(journal, Journal{"Timer2.disable"}); // the window state was never set
}

TEST_F(AutoMinimizeTest, OffNeverArmsOrMinimizes) {
    start("0", "10000");
    EXPECT_FALSE(window.enabled[TimerId::Timer2]);
    bridge.Timer1_Timer();
    EXPECT_FALSE(window.enabled[TimerId::Timer2]);
    bridge.Timer2_Timer(); // even a stray tick minimizes nothing
    EXPECT_EQ(window.state, kWindowNormal);
}

TEST_F(AutoMinimizeTest, DelayOfZeroGivesATimerThatNeverFires) {
    start("1", "0");
    EXPECT_EQ(window.intervalMs[TimerId::Timer2], 0);
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
        {"link up", true, true, false, {"engine.AGWPutData d GB7DXC", "socket.close", "engine.AGWClose"}},
        {"client without link", true, false, false, {"socket.close", "engine.AGWClose"}},
        {"no client", false, false, false, {"socket.close", "engine.AGWClose"}},
        {"monitor session", true, false, true, {"socket.close", "engine.AGWClose"}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.store_setting(settings::kMonitorMode, settings::booleanText(row.monitor));
        rig.startConfigured();
        if (row.client)
            rig.connectClient();
        rig.state.Connected = row.connected;
        rig.bridge.Form_Unload();
        rig.bridge.Form_Unload(); // the window's final destruction
        rig.bridge.Winsock1_Close(); // a close reported while the socket shuts
        EXPECT_EQ(rig.journal, row.expected);
        EXPECT_EQ(rig.socket.current, SocketState::Closed);
    }
}

} // namespace
