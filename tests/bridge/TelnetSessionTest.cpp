// The telnet session: the greeting and the connect request, the client's lines to the radio, the end.
#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

class TelnetSessionTest : public BridgeFixture {
  protected:
    void SetUp() override { startConfigured(); }
};

TEST_F(TelnetSessionTest, ClientIsGreetedBeforeTheConnectRequest) {
    change([&](BridgeState &s) { s.radioPort = 2; });
    clientStays(42);

    EXPECT_EQ(client(42).sent, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                               "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n");
    const Journal expected = {"socket.accept 42", "socket.send 42", "socket.send 42",
                              "engine.connect GB7DXC"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(engine.requests.back(), connectRequest("GB7DXC", 2));
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_FALSE(bridge.linkUp());
}

TEST_F(TelnetSessionTest, DigipeaterRouteIsUsedOnlyWhenSwitchedOnAndNotEmpty) {
    struct Row {
        bool connectVia;
        std::string digis;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {true, "RELAY1, relay2,", {"RELAY1", "RELAY2"}},
        {true, "", {}},
        {false, "RELAY1", {}},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) { s.connectViaDigipeaters = row.connectVia; });
        rig.change([&](BridgeState &s) { s.digipeaters = row.digis; });
        rig.clientStays(1);
        ASSERT_EQ(rig.engine.requests.size(), 1u);
        EXPECT_EQ(rig.engine.requests[0], connectRequest("GB7DXC", 0, row.expected));
    }
}

// Without a reason the client would wait at "*Please Wait*" for ever.
TEST_F(TelnetSessionTest, ConnectTheEngineRefusesIsExplainedAndReportedDown) {
    engine.connectRefusal = "radio port 300 is not 0 to 255";
    clientStays(1);
    EXPECT_NE(client().sent.find("*** Can't connect to GB7DXC: radio port 300 is not 0 to 255\r\n"
                                 "*** DISCONNECTED From Station GB7DXC\r\n"),
              std::string::npos)
        << client().sent;
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_FALSE(bridge.linkUp());
}

TEST_F(TelnetSessionTest, MonitorModeGreetsForMonitoringRequestsNoLinkAndDropsTheClientsText) {
    change([&](BridgeState &s) { s.monitorMode = true; });
    clientStays(1);
    EXPECT_EQ(client().sent, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                             "Monitoring GB7DXC DX Cluster Station...\r\n");
    EXPECT_EQ(window.statusText, "Status: Monitoring");
    clientSends("sh/dx\r\n");
    EXPECT_EQ(client().incoming, "");
    EXPECT_TRUE(engine.requests.empty());
    EXPECT_EQ(bridge.transferredBytes(), 0);
}

// Each line the client sends becomes one request with the bridge's line end, however TCP cut it up.
TEST_F(TelnetSessionTest, EachClientLineBecomesOneRequestWithTheRadiosLineEnd) {
    struct Row {
        const char *what;
        std::vector<std::string> arrivals;
        bool compatibility;
        std::vector<std::string> requests;
    };
    const Row rows[] = {
        {"CR LF", {"sh/dx\r\n"}, false, {"sh/dx \r"}},
        {"CR LF, compatibility", {"sh/dx\r\n"}, true, {"sh/dx\r"}},
        {"empty line", {"\r\n"}, false, {" \r"}},
        {"a pasted block", {"one\r\ntwo\r\n"}, false, {"one \r", "two \r"}},
        {"a line in two pieces", {"sh/", "dx\r\n"}, false, {"sh/dx \r"}},
        {"CR then LF in the next piece", {"bye\r", "\n"}, false, {"bye \r"}},
        {"telnet's CR NUL", {std::string("a\r\0b\r\0", 6)}, false, {"a \r", "b \r"}},
        {"bare LF and bare CR", {"a\nb\rc\r\n"}, false, {"a \r", "b \r", "c \r"}},
        {"a character at a time", {"h", "i", "\r", "\n"}, false, {"hi \r"}},
        {"blank before the end is kept", {"space \r\n"}, false, {"space  \r"}},
        {"binary bytes pass", {std::string("bin\0\xff\r\n", 7)}, true, {std::string("bin\0\xff\r", 6)}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) { s.compatibilityMode = row.compatibility; });
        rig.connectClientWithLink();
        for (const std::string &arrival : row.arrivals)
            rig.clientSends(arrival);
        EXPECT_EQ(rig.engine.dataSent(), row.requests);
        int64_t counted = 0;
        for (const std::string &request : row.requests)
            counted += static_cast<int64_t>(request.size());
        EXPECT_EQ(rig.bridge.transferredBytes(), counted);
    }
}

TEST_F(TelnetSessionTest, UnfinishedLinesGoOutAfterAboutASecondOrInFrameSizedPieces) {
    connectClientWithLink();
    clientSends("no end");
    bridge.onTick();
    EXPECT_TRUE(engine.dataSent().empty());
    bridge.onTick();
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"no end \r"});

    engine.requests.clear();
    clientSends(std::string(600, 'x'));
    const std::vector<std::string> pieces = {std::string(256, 'x'), std::string(256, 'x')};
    EXPECT_EQ(engine.dataSent(), pieces);
    clientSends("\r\n");
    EXPECT_EQ(engine.dataSent().back(), std::string(88, 'x') + " \r");
}

// While the engine's queue is full the rest of a line may wait unread: the part already read is not cut off
// with a line end of its own, however long the wait.
TEST_F(TelnetSessionTest, PartOfALineIsNotCutOffWhileItsRestWaitsUnread) {
    connectClientWithLink();
    clientSends("sh/");
    engine.roomForData = false;
    clientSends("dx\r\n");
    for (int tick = 0; tick < 10; ++tick)
        bridge.onTick();
    EXPECT_TRUE(engine.dataSent().empty());

    engine.roomForData = true;
    bridge.readyForData();
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

// An engine drops data for a link that is still being set up: the lines wait for the link.
TEST_F(TelnetSessionTest, LinesTypedWhileConnectingAreSentOnceTheLinkIsUp) {
    connectClient();
    clientSends("N0CALL\r\nsh/dx\r\n");
    EXPECT_TRUE(engine.dataSent().empty());
    EXPECT_EQ(bridge.transferredBytes(), 0);

    frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC\r");
    const std::vector<std::string> expected = {"N0CALL \r", "sh/dx \r"};
    EXPECT_EQ(engine.dataSent(), expected);
    EXPECT_EQ(bridge.transferredBytes(), 15);
}

TEST_F(TelnetSessionTest, WhileConnectingAtMost4KBWaitAndTheRestStaysWithTheClient) {
    connectClient();
    const std::string line = std::string(99, 'a') + "\n"; // 100 bytes, 101 as a request
    std::string burst;
    for (int i = 0; i < 100; ++i)
        burst += line;
    clientSends(burst);
    EXPECT_LE(burst.size() - client().incoming.size(), kMaxLinesWaitingForLinkBytes + line.size());
    EXPECT_GT(burst.size() - client().incoming.size(), kMaxLinesWaitingForLinkBytes - line.size());

    frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC\r");
    EXPECT_EQ(engine.dataSent().size(), 100u);
    EXPECT_EQ(client().incoming, "");
}

TEST_F(TelnetSessionTest, ClientIsToldWhenItsTextCannotBeSent) {
    connectClient();
    clientSends("sh/dx\r\n");
    frame(FrameKind::LinkDown, "*** DISCONNECTED RETRYOUT With GB7DXC\r"); // the link never came up
    EXPECT_NE(client().sent.find("*** Not sent, no link to GB7DXC: 1 line typed while connecting\r\n"),
              std::string::npos)
        << client().sent;

    client().sent.clear();
    clientSends("bye\r\n");
    EXPECT_EQ(client().sent, "*** Not sent, no link to GB7DXC\r\n");
    EXPECT_TRUE(engine.dataSent().empty());
}

// When the engine's queue for the radio is full the bridge stops reading, so TCP holds the client back.
TEST_F(TelnetSessionTest, FullEngineQueueLeavesTheClientsTextUnreadUntilThereIsRoom) {
    connectClientWithLink();
    engine.roomForData = false;
    clientSends("sh/dx\r\n");
    EXPECT_EQ(client().incoming, "sh/dx\r\n");
    EXPECT_TRUE(engine.dataSent().empty());

    engine.roomForData = true;
    bridge.readyForData();
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

// A client that leaves right after a paste: what waited unread in its socket still reaches the cluster,
// before the link is dropped.
TEST_F(TelnetSessionTest, TextLeftUnreadWhenTheClientLeavesStillGoesOut) {
    connectClientWithLink();
    engine.roomForData = false;
    clientSends("sh/dx\r\nsh/wwv\r\nhal");
    EXPECT_TRUE(engine.dataSent().empty());

    bridge.onClientGone(1);
    EXPECT_EQ(engine.dataSent(), (std::vector<std::string>{"sh/dx \r", "sh/wwv \r", "hal \r"}));
    EXPECT_EQ(engine.requests.back().kind, "disconnect");
}

TEST_F(TelnetSessionTest, ClosingOrFailingEndsTheSessionAndListensAgain) {
    struct Row {
        bool linkUp;
        bool byError;
        Journal expected;
    };
    const Row rows[] = {
        {true, false, {"socket.close 1", "engine.disconnect GB7DXC"}},
        {false, false, {"socket.close 1", "engine.disconnect GB7DXC"}}, // the pending connect withdrawn
        {true, true, {"socket.close 1", "engine.disconnect GB7DXC"}},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        rig.startConfigured();
        if (row.linkUp) {
            rig.connectClientWithLink();
            rig.frame(FrameKind::LinkData, std::string(76, 'x') + "\r");
            rig.clearRecords();
        } else {
            rig.connectClient();
        }
        const int64_t counted = rig.bridge.transferredBytes();
        const std::string status = rig.window.statusText;
        ::testing::internal::CaptureStderr();
        if (row.byError)
            rig.bridge.onClientError(1, 10053, "connection aborted");
        else
            rig.bridge.onClientGone(1);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(rig.journal, row.expected);
        EXPECT_TRUE(rig.socket.listening);
        EXPECT_FALSE(rig.socket.connected(1));
        EXPECT_EQ(rig.bridge.linkUp(), row.linkUp); // only the engine's notice changes it
        EXPECT_EQ(rig.bridge.transferredBytes(), counted);
        EXPECT_EQ(rig.window.statusText, status);
    }
}

// The port is held for the whole run; should the listener be lost all the same, it is opened again at the
// next tick that can, with one warning per reason.
TEST_F(TelnetSessionTest, AListenerLostIsOpenedAgainOnEveryTick) {
    connectClient();
    bridge.onClientGone(1);
    EXPECT_TRUE(socket.listening);
    socket.listening = false;
    socket.listenError = "address in use";
    ::testing::internal::CaptureStderr();
    ticks(3);
    EXPECT_FALSE(socket.listening);
    socket.listenError.clear();
    bridge.onTick();
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(socket.listening);
    const std::string warning = "cannot listen on local TCP port 4444: address in use";
    EXPECT_NE(warnings.find(warning), std::string::npos);
    EXPECT_EQ(warnings.find(warning), warnings.rfind(warning)) << warnings;
}

} // namespace
