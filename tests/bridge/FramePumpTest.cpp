#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

// A connected-data frame as the engine library lays it out: header text up to "]", one character, the
// payload, one final character.
std::string dataFrame(const std::string &from, const std::string &to, const std::string &payload) {
    return " 1:Fm " + from + " To " + to + " <D pid=F0>[12:00:00]\r" + payload + '\0';
}

int32_t len(const std::string &text) { return static_cast<int32_t>(text.size()); }

class FramePumpTest : public BridgeFixture {
protected:
    void SetUp() override { startConfigured(); }
};

TEST_F(FramePumpTest, NoFrameOnlyRefreshesTheCounter) {
    bridge.Timer1_Timer();
    EXPECT_EQ(window.counterText, "Bytes Transferred: 0K");
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_TRUE(journal.empty());
}

TEST_F(FramePumpTest, ConnectNoticeMarksTheLinkUpAndReachesTheClientWithoutPadding) {
    connectClient();
    const std::string notice = std::string("*** CONNECTED With Station GB7DXC\r") + '\0';
    queueFrame('c', notice, len(notice), /*radioPort=*/3); // the port does not matter for link notices
    bridge.Timer1_Timer();

    EXPECT_EQ(socket.sent, "*** CONNECTED With Station GB7DXC\r\n");
    EXPECT_TRUE(state.Connected);
    EXPECT_EQ(window.statusText, "Status: Connected");
    EXPECT_EQ(state.TransferredBytes, 0);
}

TEST_F(FramePumpTest, LinkThatComesUpWithoutAClientIsTakenDownAtOnce) {
    queueFrame('c', "*** CONNECTED With Station GB7DXC\r", 35, 0, "GB7DXC-2");
    bridge.Timer1_Timer();

    EXPECT_FALSE(state.Connected);
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    ASSERT_EQ(engine.requests.size(), 1u);
    EXPECT_EQ(engine.requests[0], (PutRequest{"GB7DXC-2", "", 'd', 0, 0}));
}

TEST_F(FramePumpTest, DisconnectNoticeMarksTheLinkDownWithOrWithoutAClient) {
    state.Connected = true;
    queueFrame('d', "*** DISCONNECTED From Station GB7DXC\r", 39);
    bridge.Timer1_Timer();
    EXPECT_FALSE(state.Connected);
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_EQ(socket.sent, "");

    connectClient();
    state.Connected = true;
    window.statusText = "Status: Connected";
    queueFrame('d', "*** DISCONNECTED From Station GB7DXC\r", 39, 5);
    bridge.Timer1_Timer();
    EXPECT_FALSE(state.Connected);
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_EQ(socket.sent, "*** DISCONNECTED From Station GB7DXC\r\n");
    EXPECT_EQ(socket.current, SocketState::Connected); // the client stays until it leaves itself
}

// Which text frames reach the client in a cluster session, and what the counter adds.
TEST_F(FramePumpTest, TextFramesForTheOwnCallsignOnTheRadioPortAreForwarded) {
    struct Row {
        const char *what;
        char kind;
        std::string text;
        int32_t length;
        int32_t radioPort;
        std::string expectedSent;
        int64_t expectedCount;
    };
    const std::string spot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";
    const std::string fromCluster = dataFrame("GB7DXC", "N0CALL", spot);
    const std::string fromOther = dataFrame("G4XYZ", "N0CALL", "hi\r");
    const std::string toOther = dataFrame("GB7DXC", "G4XYZ", "not yours\r");
    const std::string inPayload = "no header here, To N0CALL\r" + std::string(1, '\0');
    const Row rows[] = {
        {"D from the cluster", 'D', fromCluster, len(fromCluster), 0,
         "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r\n", len(fromCluster)},
        {"I from another station", 'I', fromOther, len(fromOther), 0, "hi\r\n", len(fromOther)},
        {"frame for another callsign", 'D', toOther, len(toOther), 0, "", 0},
        {"another radio port", 'D', fromCluster, len(fromCluster), 1, "", 0},
        {"kind T is not text", 'T', fromCluster, len(fromCluster), 0, "", 0},
        {"lower-case d is a notice, not data", 'S', fromCluster, len(fromCluster), 0, "", 0},
        // Without "]" the text starts at the second character and leaves out the last.
        {"no bracket, callsign in the payload", 'D', inPayload, len(inPayload), 0,
         "o header here, To N0CALL\r\n", len(inPayload)},
        // Too short to hold any text: nothing is sent or counted.
        {"length shorter than the header", 'D', fromCluster, 20, 0, "", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        rig.connectClient();
        rig.queueFrame(row.kind, row.text, row.length, row.radioPort);
        rig.bridge.Timer1_Timer();
        EXPECT_EQ(rig.socket.sent, row.expectedSent);
        EXPECT_EQ(rig.state.TransferredBytes, row.expectedCount);
    }
}

TEST_F(FramePumpTest, TextFramesWithoutAClientAreDropped) {
    const std::string frame = dataFrame("GB7DXC", "N0CALL", "spot\r");
    queueFrame('D', frame, len(frame));
    bridge.Timer1_Timer();
    EXPECT_EQ(state.TransferredBytes, 0);
    EXPECT_TRUE(engine.requests.empty());
}

TEST_F(FramePumpTest, CounterShowsWholeKilobytesAndNeverWraps) {
    struct Row {
        int64_t bytes;
        std::string text;
    };
    for (const Row &row : {Row{1023, "Bytes Transferred: 0K"}, Row{1024, "Bytes Transferred: 1K"},
                           Row{5000, "Bytes Transferred: 4K"},
                           Row{int64_t{INT32_MAX} + 4097, "Bytes Transferred: 2097156K"}}) {
        state.TransferredBytes = row.bytes;
        bridge.Timer1_Timer();
        EXPECT_EQ(window.counterText, row.text);
    }
}

TEST_F(FramePumpTest, ClientThatCannotBeWrittenToEndsTheSession) {
    connectClient();
    state.Connected = true;
    socket.failSends = true;
    const std::string frame = dataFrame("GB7DXC", "N0CALL", "spot\r");
    queueFrame('D', frame, len(frame));
    ::testing::internal::CaptureStderr();
    bridge.Timer1_Timer();
    ::testing::internal::GetCapturedStderr();

    const Journal expected = {"socket.close", "engine.AGWPutData d GB7DXC", "socket.listen 4444"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(state.TransferredBytes, 0);
}

class MonitorPumpTest : public BridgeFixture {
protected:
    void SetUp() override {
        store_setting(settings::kMonitorMode, "True");
        startConfigured();
        connectClient();
    }
};

TEST_F(MonitorPumpTest, FramesHeardFromTheClusterReachTheClientUncounted) {
    const std::string toThird = dataFrame("GB7DXC", "G4XYZ", "DX de G4XYZ: spot\r");
    queueFrame('I', toThird, len(toThird));
    queueFrame('I', toThird, len(toThird), /*radioPort=*/1);
    const std::string fromOther = dataFrame("G4XYZ", "GB7DXC", "sh/dx\r");
    queueFrame('I', fromOther, len(fromOther));
    for (int tick = 0; tick < 3; ++tick)
        bridge.Timer1_Timer();

    EXPECT_EQ(socket.sent, "DX de G4XYZ: spot\r\n");
    EXPECT_EQ(state.TransferredBytes, 0);

    bridge.Winsock1_Close(); // without a client the same frame is dropped
    queueFrame('I', toThird, len(toThird));
    bridge.Timer1_Timer();
    EXPECT_EQ(socket.sent, "DX de G4XYZ: spot\r\n");
}

TEST_F(MonitorPumpTest, LinkNoticesLeaveTheStateAlone) {
    state.Connected = true;
    queueFrame('d', "*** DISCONNECTED From Station GB7DXC\r", 39);
    bridge.Timer1_Timer();
    EXPECT_TRUE(state.Connected);
    EXPECT_EQ(window.statusText, "Status: Monitoring");
    EXPECT_EQ(socket.sent, "");

    // A link still coming up from before Monitor Mode was switched on is taken down, not used.
    queueFrame('c', "*** CONNECTED With Station GB7DXC\r", 35);
    bridge.Timer1_Timer();
    ASSERT_EQ(engine.requests.size(), 1u);
    EXPECT_EQ(engine.requests[0], (PutRequest{"GB7DXC", "", 'd', 0, 0}));
    EXPECT_EQ(window.statusText, "Status: Monitoring");
    EXPECT_EQ(socket.sent, "");
}

} // namespace
