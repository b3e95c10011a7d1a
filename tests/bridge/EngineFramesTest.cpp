// What the bridge does with each frame the engine hands it: link state, text for the client, the counter.
#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

const std::string kConnected = "*** CONNECTED With Station GB7DXC\r" + std::string(1, '\0');
const std::string kDisconnected = "*** DISCONNECTED From Station GB7DXC\r" + std::string(1, '\0');
const std::string kSpot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";

class EngineFramesTest : public BridgeFixture {
  protected:
    void SetUp() override { startConfigured(); }
};

TEST_F(EngineFramesTest, TickWithoutTrafficOnlyRefreshesTheCounter) {
    bridge.onTick();
    EXPECT_EQ(window.counterText, "Bytes Transferred: 0K");
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_TRUE(journal.empty());
}

TEST_F(EngineFramesTest, ClusterConnectNoticeMarksTheLinkUpAndReachesTheClientWithoutPadding) {
    connectClient();
    frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(client().sent, "*** CONNECTED With Station GB7DXC\r\n");
    EXPECT_TRUE(bridge.linkUp());
    EXPECT_EQ(window.statusText, "Status: Connected");
    EXPECT_EQ(bridge.transferredBytes(), 0);
}

TEST_F(EngineFramesTest, LinkThatComesUpWithoutAClientIsTakenDownAtOnce) {
    frame(FrameKind::LinkUp, kConnected, "GB7DXC-2");
    EXPECT_FALSE(bridge.linkUp());
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC-2")});
}

TEST_F(EngineFramesTest, DisconnectNoticeMarksTheLinkDownAndTellsTheClient) {
    connectClientWithLink();
    frame(FrameKind::LinkDown, kDisconnected);
    EXPECT_FALSE(bridge.linkUp());
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_EQ(client().sent, "*** DISCONNECTED From Station GB7DXC\r\n");
    EXPECT_TRUE(socket.connected(1)); // the client stays until it leaves itself
}

// Anyone on the channel can connect to the user's callsign; that must not reach the logging program.
TEST_F(EngineFramesTest, AnotherStationsLinkIsTakenDownAndNeverReachesTheClient) {
    connectClientWithLink();
    frame(FrameKind::LinkUp, "*** CONNECTED To Station G4XYZ\r" + std::string(1, '\0'), "G4XYZ");
    frame(FrameKind::LinkData, "DX de G4XYZ: fake spot\r", "G4XYZ");
    frame(FrameKind::LinkDown, "*** DISCONNECTED From Station G4XYZ\r" + std::string(1, '\0'), "G4XYZ");

    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("G4XYZ")});
    EXPECT_EQ(client().sent, "");
    EXPECT_TRUE(bridge.linkUp());
    EXPECT_EQ(window.statusText, "Status: Connected");

    bridge.onClientGone(1); // the cluster link is still ours to end
    EXPECT_EQ(engine.requests.back(), disconnectRequest("GB7DXC"));
}

// Which frames reach the client in a cluster session, and what the counter adds.
TEST_F(EngineFramesTest, OnlyTheClustersDataOnTheRadioPortIsForwarded) {
    struct Row {
        const char *what;
        FrameKind kind;
        std::string from;
        int radioPort;
        std::string expectedSent;
    };
    const Row rows[] = {
        {"D from the cluster", FrameKind::LinkData, "GB7DXC", 0, kSpot + "\n"},
        {"the cluster with a -0 SSID", FrameKind::LinkData, "GB7DXC-0", 0, kSpot + "\n"},
        {"D from another station", FrameKind::LinkData, "G4XYZ", 0, ""},
        {"the cluster with another SSID", FrameKind::LinkData, "GB7DXC-1", 0, ""},
        {"another radio port", FrameKind::LinkData, "GB7DXC", 1, ""},
        {"monitored frame between others", FrameKind::HeardInformation, "G4XYZ", 0, ""},
        {"monitored frame of the cluster", FrameKind::HeardInformation, "GB7DXC", 0, ""},
        {"a frame the engine transmitted", FrameKind::Transmitted, "GB7DXC", 0, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        rig.connectClientWithLink();
        rig.frame(row.kind, kSpot, row.from, row.radioPort);
        EXPECT_EQ(rig.client().sent, row.expectedSent);
        EXPECT_EQ(rig.bridge.transferredBytes(),
                  row.expectedSent.empty() ? 0 : static_cast<int64_t>(kSpot.size()));
    }
}

// Some clients parse every read on its own: each gets whole lines, one write per line.
TEST_F(EngineFramesTest, LinesSplitAcrossFramesReachTheClientWholeInWritesOfTheirOwn) {
    connectClientWithLink();
    frame(FrameKind::LinkData, "DX de K1ABC:     14025.0  JA1XYZ   ");
    EXPECT_TRUE(client().writes.empty());
    frame(FrameKind::LinkData, "    CW 599    1234Z\rDX de G4ABC:  7012.5  VP8ABC\rWWV de");
    const std::vector<std::string> expected = {"DX de K1ABC:     14025.0  JA1XYZ       CW 599    1234Z\r\n",
                                               "DX de G4ABC:  7012.5  VP8ABC\r\n"};
    EXPECT_EQ(client().writes, expected);

    // A prompt without a line end shows after about a second with nothing more.
    bridge.onTick();
    EXPECT_EQ(client().writes.size(), 2u);
    bridge.onTick();
    EXPECT_EQ(client().writes.back(), "WWV de");

    // A CR at the end of one frame and an LF at the start of the next are one line end.
    frame(FrameKind::LinkData, "N0CALL de GB7DXC >\r");
    frame(FrameKind::LinkData, "\nnext\r");
    EXPECT_EQ(client().sent.substr(client().sent.size() - 26), "N0CALL de GB7DXC >\r\nnext\r\n");
}

// The notice starts a line of its own: a link that ends in the middle of the cluster's line, or after a
// prompt that went out a second ago, does not glue the two together; after whole lines nothing is added.
TEST(EngineFrames, HeldTextGoesOutBeforeTheDisconnectNoticeWhichStartsALineOfItsOwn) {
    struct Row {
        const char *text;
        int ticksBefore;
        std::vector<std::string> writes;
    };
    const std::string notice = "*** DISCONNECTED From Station GB7DXC\r\n";
    const Row rows[] = {
        {"DOWN 00024 of 00200 the", 0, {"DOWN 00024 of 00200 the", "\r\n", notice}},
        {"N0CALL de GB7DXC >", 2, {"N0CALL de GB7DXC >", "\r\n", notice}},
        {"73\r", 0, {"73\r\n", notice}},
    };
    for (const Row &row : rows) {
        test::BridgeRig rig;
        rig.startConfigured();
        rig.connectClientWithLink();
        rig.frame(FrameKind::LinkData, row.text);
        rig.ticks(row.ticksBefore);
        rig.frame(FrameKind::LinkDown, kDisconnected);
        EXPECT_EQ(rig.client().writes, row.writes) << row.text;
    }
}

TEST_F(EngineFramesTest, TextWithoutAClientIsDroppedUncounted) {
    frame(FrameKind::LinkData, kSpot);
    EXPECT_EQ(bridge.transferredBytes(), 0);
    EXPECT_TRUE(engine.requests.empty());
}

// The counter the window shows after each tick: whole kilobytes, never wrapping.
TEST_F(EngineFramesTest, TheTickShowsTheCounter) {
    connectClientWithLink();
    frame(FrameKind::LinkData, std::string(2048, 'x'));
    bridge.onTick();
    EXPECT_EQ(window.counterText, "Bytes Transferred: 2K");
}

TEST_F(EngineFramesTest, ClientThatCannotBeWrittenToEndsTheSession) {
    connectClientWithLink();
    client().failSends = true;
    ::testing::internal::CaptureStderr();
    frame(FrameKind::LinkData, kSpot);
    ::testing::internal::GetCapturedStderr();

    const Journal expected = {"socket.close 1", "engine.disconnect GB7DXC"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(bridge.transferredBytes(), 0);
}

// A client that reads nothing must not make the bridge hold the radio's text without limit.
TEST_F(EngineFramesTest, ClientThatStopsReadingIsEndedAtTheBound) {
    connectClientWithLink();
    client().unsent = kMaxUnsentToClientBytes - kSpot.size() - 1; // room for one more line with its LF
    ::testing::internal::CaptureStderr();
    frame(FrameKind::LinkData, kSpot);
    EXPECT_TRUE(socket.connected(1));
    frame(FrameKind::LinkData, kSpot);
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(socket.connected(1));
    EXPECT_TRUE(socket.listening);
    EXPECT_EQ(engine.requests.back(), disconnectRequest("GB7DXC"));
    EXPECT_NE(warnings.find("the client stopped reading"), std::string::npos) << warnings;
}

class MonitorFramesTest : public BridgeFixture {
  protected:
    void SetUp() override {
        store_setting(settings::kMonitorMode, "True");
        startConfigured();
        connectClient();
    }
};

TEST_F(MonitorFramesTest, FramesHeardFromTheClusterReachTheClientUncounted) {
    frame(FrameKind::HeardInformation, "DX de G4XYZ: spot\r", "GB7DXC");
    frame(FrameKind::HeardInformation, "DX de G4XYZ: other port\r", "GB7DXC", 1);
    frame(FrameKind::HeardInformation, "sh/dx\r", "G4XYZ");
    EXPECT_EQ(client().sent, "DX de G4XYZ: spot\r\n");
    EXPECT_EQ(bridge.transferredBytes(), 0);

    bridge.onClientGone(1); // without a client the same frame is dropped
    frame(FrameKind::HeardInformation, "DX de G4XYZ: spot\r", "GB7DXC");
    EXPECT_EQ(client().sent, "DX de G4XYZ: spot\r\n");
}

TEST_F(MonitorFramesTest, ALinkThatComesUpAnywayIsTakenDown) {
    frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC")});
    EXPECT_EQ(window.statusText, "Status: Monitoring");
    EXPECT_EQ(client().sent, "");
}

// Monitor Mode switched on during a link sends 'd'; the engine's answer must still mark the link down.
TEST(MonitorModeSwitchTest, TheClusterLinksDownNoticeIsAppliedInMonitorMode) {
    BridgeRig rig;
    rig.startConfigured();
    rig.connectClientWithLink();
    rig.change([&](BridgeState &s) { s.monitorMode = true; }); // as the Preferences dialog's OK does
    rig.frame(FrameKind::LinkDown, kDisconnected);
    EXPECT_FALSE(rig.bridge.linkUp());
    EXPECT_EQ(rig.window.statusText, "Status: Monitoring");
    EXPECT_EQ(rig.client().sent, "*** DISCONNECTED From Station GB7DXC\r\n");
}

} // namespace
