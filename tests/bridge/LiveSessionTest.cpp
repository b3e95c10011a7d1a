// A session that keeps its truth while things change around it: settings changed in Preferences while a
// link is up, frames of other callsigns on the same engine, a client that arrives while the last link is
// still closing, an engine gone between its loss and its notice, a client that fails in the middle of a
// send, and what the clients get when the link ends.
#include "BridgeFixture.h"

#include <algorithm>

using namespace corvantle;
using namespace corvantle::test;

namespace {

const std::string kConnected = "*** CONNECTED With Station GB7DXC\r" + std::string(1, '\0');
const std::string kDisconnected = "*** DISCONNECTED From Station GB7DXC\r" + std::string(1, '\0');
const std::string kSpot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";
const std::string kWelcome = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";
const std::string kPleaseWait = "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n";
constexpr int kTicksPerSecond = 2;

std::size_t countOf(const std::vector<EngineRequest> &requests, const std::string &kind) {
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(),
                                                  [&](const EngineRequest &r) { return r.kind == kind; }));
}

class LiveSessionTest : public BridgeFixture {
  protected:
    void SetUp() override { startConfigured(); }

    // A frame from `from` to `to`, as the engine hands it over.
    void frameTo(FrameKind kind, const std::string &text, const std::string &from, const std::string &to,
                 int radioPort = 0) {
        bridge.frameArrived(EngineFrame{kind, static_cast<std::uint8_t>(radioPort), from, to, text});
    }
};

// Preferences changed the cluster, the radio port and the route while a link is up: the link keeps what
// it was made with until it ends, and the next link uses the new values.
TEST_F(LiveSessionTest, ALinkKeepsItsStationPortAndRouteUntilItEnds) {
    connectClientWithLink();
    BridgeState changed = state;
    changed.cluster = "GB7XYZ";
    changed.radioPort = 2;
    changed.connectViaDigipeaters = true;
    changed.digipeaters = "RELAY1";
    bridge.applySettings(changed);

    frame(FrameKind::LinkData, kSpot);
    EXPECT_EQ(client().sent, kSpot + "\n");
    clientSends("bye\r\n");
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>({{"data", "GB7DXC", "bye \r", 0, {}}}));

    frame(FrameKind::LinkDown, kDisconnected);
    EXPECT_EQ(client().sent, kSpot + "\n" + "*** DISCONNECTED From Station GB7DXC\r\n");
    EXPECT_FALSE(bridge.linkUp());

    bridge.onClientGone(1);
    engine.requests.clear();
    clientStays(2);
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{connectRequest("GB7XYZ", 2, {"RELAY1"})});
}

// Another program, or a second instance, may register another callsign with the same engine and link to
// the same cluster: its frames are not this session's, nor is the cluster on another radio port.
TEST_F(LiveSessionTest, OnlyTheLinksOwnStationCallsignAndPortCount) {
    struct Row {
        const char *what;
        FrameKind kind;
        std::string to;
        int radioPort;
    };
    const Row rows[] = {
        {"data to another callsign", FrameKind::LinkData, "N0CALL-2", 0},
        {"down notice to another callsign", FrameKind::LinkDown, "N0CALL-2", 0},
        {"data on another radio port", FrameKind::LinkData, "N0CALL", 1},
        {"down notice on another radio port", FrameKind::LinkDown, "N0CALL", 1},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        rig.startConfigured();
        rig.connectClientWithLink();
        rig.bridge.frameArrived(EngineFrame{row.kind, static_cast<std::uint8_t>(row.radioPort), "GB7DXC",
                                            row.to, row.kind == FrameKind::LinkData ? kSpot : kDisconnected});
        EXPECT_EQ(rig.client().sent, "") << row.what;
        EXPECT_TRUE(rig.bridge.linkUp()) << row.what;
        EXPECT_EQ(rig.window.statusText, "Status: Connected") << row.what;
    }

    // A link coming up for another callsign is neither ours nor a stranger's to take down.
    clientStays(1);
    clearRecords();
    frameTo(FrameKind::LinkUp, kConnected, "GB7DXC", "N0CALL-2");
    EXPECT_EQ(client().sent, "");
    EXPECT_TRUE(engine.requests.empty());
    EXPECT_FALSE(bridge.linkUp());
    frameTo(FrameKind::LinkUp, kConnected, "GB7DXC", "N0CALL");
    EXPECT_EQ(client().sent, "*** CONNECTED With Station GB7DXC\r\n");
}

// A logging program that reconnects at once, while the last link is still being taken down: it is greeted,
// its lines wait, the connect goes out after the old link's notice, which the new client never sees.
TEST_F(LiveSessionTest, AClientArrivingWhileTheLinkClosesGetsALinkOfItsOwn) {
    connectClientWithLink();
    bridge.onClientGone(1);
    ASSERT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC")});
    engine.requests.clear();

    clientStays(2);
    clientSends("sh/dx\r\n", 2);
    EXPECT_EQ(client(2).sent, kWelcome + kPleaseWait);
    EXPECT_TRUE(engine.requests.empty()); // no connect into the closing link, no data into it

    frame(FrameKind::LinkDown, kDisconnected); // the old link's end
    EXPECT_EQ(client(2).sent, kWelcome + kPleaseWait);
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});

    frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(client(2).sent, kWelcome + kPleaseWait + "*** CONNECTED With Station GB7DXC\r\n");
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

// A connect abandoned by the client that left comes up after a new client arrived: it is taken down, and
// the new client's link is asked for once it is gone.
TEST_F(LiveSessionTest, AnAbandonedAttemptThatComesUpIsNotTheNewClients) {
    clientStays(1);
    clearRecords();
    bridge.onClientGone(1);
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC")}); // withdrawn
    change([&](BridgeState &s) { s.cluster = "GB7XYZ"; }); // the new client wants another station
    clientStays(2);
    EXPECT_EQ(engine.requests.size(), 1u); // its connect waits for the withdrawn link's end

    frame(FrameKind::LinkUp, kConnected); // GB7DXC, too late
    EXPECT_EQ(countOf(engine.requests, "disconnect"), 2u);
    EXPECT_EQ(client(2).sent.find("CONNECTED"), std::string::npos);
    frame(FrameKind::LinkDown, kDisconnected);
    EXPECT_EQ(client(2).sent.find("DISCONNECTED"), std::string::npos);
    EXPECT_EQ(engine.requests.back(), connectRequest("GB7XYZ"));
}

// An old link whose end never comes: after a bound the waiting client is told, and nothing waits for ever.
TEST_F(LiveSessionTest, AnOldLinkThatNeverEndsIsToldAfterABound) {
    connectClientWithLink();
    bridge.onClientGone(1);
    bridge.onClientArrival(2); // the wait starts as it arrives
    clientSends("sh/dx\r\n", 2);
    clearRecords();
    ticks(kPreviousLinkCloseWaitSeconds * kTicksPerSecond - 1);
    EXPECT_EQ(client(2).sent, "");
    ticks(1);
    EXPECT_EQ(client(2).sent, "*** Can't connect to GB7DXC: the previous link to GB7DXC has not ended\r\n"
                              "*** DISCONNECTED From Station GB7DXC\r\n"
                              "*** Not sent, no link to GB7DXC: 1 line typed while connecting\r\n");
    EXPECT_TRUE(socket.connected(2));
    clientSends("again\r\n", 2); // a new client, or this one's next line, asks afresh
    bridge.onClientGone(2);
    engine.requests.clear();
    clientStays(3);
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});
}

// Between the loss of the engine and its down notice, typed text goes nowhere: the client hears so, and it
// is not counted as relayed.
TEST_F(LiveSessionTest, TextTheEngineCannotTakeIsToldAndNotCounted) {
    connectClientWithLink();
    engine.engineConnected = false;
    clientSends("sh/dx\r\n");
    EXPECT_EQ(client().sent, "*** Not sent, no link to GB7DXC: the packet engine is not connected\r\n");
    EXPECT_EQ(bridge.transferredBytes(), 0);
}

// A send that fails and reports the client's close from inside the send, in the middle of handing over a
// long line's first piece: the other client's lines still reach the cluster afterwards.
TEST_F(LiveSessionTest, AClientFailingInsideASendLeavesNothingBehind) {
    change([&](BridgeState &s) { s.maxClients = 2; });
    connectClientWithLink(1);
    clientStays(2);
    frame(FrameKind::LinkDown, kDisconnected);
    clearRecords();
    socket.onFailedSend = [this](ClientId id) { bridge.onClientGone(id); };
    client(1).failSends = true;
    ::testing::internal::CaptureStderr();
    clientSends(std::string(300, 'x'), 1); // its first piece is refused: no link; telling it fails
    ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(socket.connected(1));
    EXPECT_EQ(bridge.clientCount(), 1u);

    frame(FrameKind::LinkUp, kConnected); // the cluster connects again
    clientSends("sh/dx\r\n", 2);
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

// What the clients get when the link ends under them, one setting: they stay (the default), their
// connections are closed after the notice, or the link is asked for again.
TEST_F(LiveSessionTest, WhenTheLinkEndsTheClientStaysIsClosedOrTheLinkIsAskedForAgain) {
    struct Row {
        bool relink;
        bool close;
        bool stillConnected;
        std::string lastLine;
    };
    const Row rows[] = {
        {false, false, true, "*** DISCONNECTED From Station GB7DXC\r\n"},
        {false, true, false, "*** DISCONNECTED From Station GB7DXC\r\n"},
        {true, false, true, "Reconnecting to GB7DXC in 10 s...\r\n"},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) { s.relink = row.relink; });
        rig.change([&](BridgeState &s) { s.closeClientsWhenLinkEnds = row.close; });
        rig.connectClientWithLink();
        rig.frame(FrameKind::LinkDown, kDisconnected);
        EXPECT_EQ(rig.socket.connected(1), row.stillConnected);
        ASSERT_FALSE(rig.client().writes.empty());
        EXPECT_EQ(rig.client().writes.back(), row.lastLine);
        EXPECT_TRUE(rig.socket.listening); // the port stays the program's whatever happens
        if (row.close) {
            EXPECT_TRUE(rig.engine.requests.empty()); // the link is gone already
        }
    }
}

} // namespace
