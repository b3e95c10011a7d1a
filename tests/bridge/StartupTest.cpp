#include "BridgeFixture.h"

#include <algorithm>

using namespace corvantle;
using namespace corvantle::test;

namespace {

class StartupTest : public BridgeFixture {};

TEST_F(StartupTest, EmptyStoreStartsWithDefaultsAndReminds) {
    ASSERT_TRUE(bridge.start());

    EXPECT_EQ(state.ProgramName, "ZR8QOD Logger/AGWPE Corvantle ");
    EXPECT_EQ(state.MyCallsign, "MYCALL");
    EXPECT_EQ(state.Cluster, "CLUSTER");
    EXPECT_EQ(state.Port, 0);
    EXPECT_EQ(socket.port, 4444);
    EXPECT_EQ(state.AutoMinimize, 0);
    EXPECT_EQ(state.AutoMinimizeDelay, 10000);
    EXPECT_FALSE(state.MonitorMode);
    EXPECT_FALSE(state.CompatibilityMode);
    EXPECT_FALSE(state.ConnectViaDigi);
    EXPECT_EQ(state.Digis, "");
    EXPECT_FALSE(state.Connected);
    EXPECT_EQ(state.TransferredBytes, 0);

    EXPECT_EQ(window.intervalMs[TimerId::Timer2], 10000);
    EXPECT_FALSE(window.enabled[TimerId::Timer2]);
    EXPECT_TRUE(window.enabled[TimerId::Timer1]);
    EXPECT_EQ(engine.registeredCall, "MYCALL");
    EXPECT_EQ(engine.registeredName, "ZR8QOD Logger/AGWPE Corvantle ");
    EXPECT_EQ(socket.current, SocketState::Listening);
    const Journal expected = {
        "Timer2.interval 10000", "Timer2.disable", "engine.register",
        "window.messageBox Please configure your Callsign and/or Cluster station in the Options Menu",
        "socket.listen 4444", "Timer1.enable"};
    EXPECT_EQ(journal, expected);
}

TEST_F(StartupTest, StoredValuesReachTheStateTimerAndSocket) {
    store_setting(settings::kMyCallsign, "n0call");
    store_setting(settings::kCluster, "GB7DXC");
    store_setting(settings::kRadioPort, "2");
    store_setting(settings::kLocalPort, " 5000.0 ");
    store_setting(settings::kAutoMinimize, "1");
    store_setting(settings::kAutoMinimizeDelay, "70000");
    store_setting(settings::kMonitorMode, "True");
    store_setting(settings::kCompatibilityMode, "True");
    store_setting(settings::kConnectViaDigi, "True");
    store_setting(settings::kDigis, "relay1,RELAY2");
    ASSERT_TRUE(bridge.start());

    EXPECT_EQ(state.MyCallsign, "n0call"); // as stored, no upper-casing
    EXPECT_EQ(state.Port, 2);
    EXPECT_EQ(socket.port, 5000);
    EXPECT_EQ(state.AutoMinimize, 1);
    EXPECT_EQ(state.AutoMinimizeDelay, 70000); // above what a 16-bit timer could hold
    EXPECT_TRUE(state.MonitorMode);
    EXPECT_TRUE(state.CompatibilityMode);
    EXPECT_TRUE(state.ConnectViaDigi);
    EXPECT_EQ(state.Digis, "relay1,RELAY2");
    EXPECT_EQ(window.intervalMs[TimerId::Timer2], 70000);
    EXPECT_TRUE(window.enabled[TimerId::Timer2]);
    EXPECT_TRUE(window.messages.empty()); // "n0call" is not the default "MYCALL"
}

// Texts the dialog never writes fall back to the key's default and are named on standard error.
TEST_F(StartupTest, UnusableStoredTextsFallBackToDefaults) {
    struct Row {
        const settings::Key &key;
        std::string stored;
    };
    const Row rows[] = {
        {settings::kRadioPort, "abc"},          {settings::kRadioPort, "256"},
        {settings::kRadioPort, "-1"},
        {settings::kLocalPort, "0"},            {settings::kLocalPort, "70000"},
        {settings::kLocalPort, ""},             {settings::kAutoMinimize, "2"},
        {settings::kAutoMinimizeDelay, "-5"},   {settings::kAutoMinimizeDelay, "99999999999"},
        {settings::kMonitorMode, "true"},       {settings::kConnectViaDigi, "-1"},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        rig.store_setting(row.key, row.stored);
        ::testing::internal::CaptureStderr();
        ASSERT_TRUE(rig.bridge.start());
        const std::string warnings = ::testing::internal::GetCapturedStderr();

        SCOPED_TRACE(std::string(row.key.name) + "=" + row.stored);
        EXPECT_NE(warnings.find(std::string("\"") + row.key.name + "\" holds \"" + row.stored + "\""),
                  std::string::npos)
            << warnings;
        EXPECT_EQ(rig.state.Port, 0);
        EXPECT_EQ(rig.socket.port, 4444);
        EXPECT_EQ(rig.state.AutoMinimize, 0);
        EXPECT_EQ(rig.state.AutoMinimizeDelay, 10000);
        EXPECT_FALSE(rig.state.MonitorMode);
        EXPECT_FALSE(rig.state.ConnectViaDigi);
    }
}

TEST_F(StartupTest, RefusedRegistrationShowsTheMessageAndEndsBeforeListening) {
    engine.registrationResult = false;
    EXPECT_FALSE(bridge.start());

    const Journal expected = {"Timer2.interval 10000", "Timer2.disable", "engine.register",
                              "window.messageBox Can't connect to AGW Packet Engine", "window.endProgram"};
    EXPECT_EQ(journal, expected);
    EXPECT_NE(window.exitCode, 0);
    EXPECT_EQ(socket.current, SocketState::Closed);
    // Ticks and frames that still arrive do nothing.
    bridge.onTick();
    frame('c', "*** CONNECTED With Station GB7DXC\r");
    EXPECT_EQ(journal.size(), expected.size());
}

TEST_F(StartupTest, PortThatCannotBeListenedOnIsNamedAndEndsTheProgram) {
    store_setting(settings::kMyCallsign, "N0CALL");
    store_setting(settings::kCluster, "GB7DXC");
    store_setting(settings::kLocalPort, "4445");
    socket.listenError = "The bound address is already in use";
    EXPECT_FALSE(bridge.start());

    const Journal expected = {
        "Timer2.interval 10000", "Timer2.disable", "engine.register", "socket.listen 4445",
        "window.messageBox Can't listen on local TCP port 4445: The bound address is already in use",
        "engine.close", "window.endProgram"};
    EXPECT_EQ(journal, expected);
    EXPECT_NE(window.exitCode, 0);
}

// The reminder box runs the event loop: frames are then handled, but nothing listens yet.
TEST_F(StartupTest, FramesDuringTheReminderAreHandledButNothingListens) {
    socket.listenError = "not yet";
    window.onMessageBox = [this] {
        frame('c', "*** CONNECTED With Station GB7DXC\r");
        bridge.onTick();
        EXPECT_EQ(socket.current, SocketState::Closed);
        socket.listenError.clear();
    };
    ASSERT_TRUE(bridge.start());
    // The link that came up with nobody to use it was taken down.
    ASSERT_EQ(engine.requests.size(), 1u);
    EXPECT_EQ(engine.requests[0], disconnectRequest("GB7DXC"));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "socket.listen 4444"), 1);
}

TEST_F(StartupTest, AStoreThatCouldNotBeReadIsReportedBeforeRegistering) {
    store_setting(settings::kMyCallsign, "N0CALL");
    store_setting(settings::kCluster, "GB7DXC");
    store.problemMessage = "The settings file /fake/settings.ini could not be read in full.";
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(bridge.start());
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("could not be read in full"), std::string::npos);
    const Journal expected = {"Timer2.interval 10000", "Timer2.disable",
                              "window.messageBox The settings file /fake/settings.ini could not be read in full.",
                              "engine.register", "socket.listen 4444", "Timer1.enable"};
    EXPECT_EQ(journal, expected);
}

TEST_F(StartupTest, ReminderAppearsWhileEitherCallsignHoldsItsDefault) {
    struct Row {
        std::string myCallsign, cluster;
        bool reminded;
    };
    for (const Row &row : {Row{"MYCALL", "GB7DXC", true}, Row{"N0CALL", "CLUSTER", true},
                           Row{"mycall", "cluster", false}, Row{"N0CALL", "GB7DXC", false}}) {
        BridgeRig rig;
        rig.store_setting(settings::kMyCallsign, row.myCallsign);
        rig.store_setting(settings::kCluster, row.cluster);
        ASSERT_TRUE(rig.bridge.start());
        EXPECT_EQ(rig.window.messages.size(), row.reminded ? 1u : 0u) << row.myCallsign << " " << row.cluster;
        EXPECT_EQ(rig.socket.current, SocketState::Listening);
    }
}

} // namespace
