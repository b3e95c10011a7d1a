// The link looking after itself and shared by several clients: asking again for a dropped link, keeping it
// for a returning client, several clients on one link, and keepalives kept off the air. Time passes by
// calling the half-second tick.
#include "BridgeFixture.h"

#include <algorithm>
#include <functional>

using namespace corvantle;
using namespace corvantle::test;

namespace {

const std::string kConnected = "*** CONNECTED With Station GB7DXC\r" + std::string(1, '\0');
const std::string kDisconnected = "*** DISCONNECTED From Station GB7DXC\r" + std::string(1, '\0');
const std::string kRetryOut = "*** DISCONNECTED RETRYOUT With GB7DXC\r" + std::string(1, '\0');
const std::string kSpot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";
const std::string kWelcome = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";
constexpr int kTicksPerSecond = 2;

std::size_t connectRequests(const FakeEngine &engine) {
    return static_cast<std::size_t>(
        std::count_if(engine.requests.begin(), engine.requests.end(),
                      [](const EngineRequest &r) { return r.kind == "connect"; }));
}

std::size_t disconnectRequests(const FakeEngine &engine) {
    return static_cast<std::size_t>(
        std::count_if(engine.requests.begin(), engine.requests.end(),
                      [](const EngineRequest &r) { return r.kind == "disconnect"; }));
}

// ---- relinking ----

class RelinkTest : public BridgeFixture {
  protected:
    void SetUp() override {
        startConfigured();
        change([&](BridgeState &s) { s.relink = true; });
        connectClientWithLink();
    }

    // Ticks until the bridge asks for the link; the whole seconds that took, or -1 when it never did.
    int secondsUntilConnectRequest(int mostSeconds = 400) {
        const std::size_t before = connectRequests(engine);
        for (int tick = 1; tick <= mostSeconds * kTicksPerSecond; ++tick) {
            bridge.onTick();
            if (connectRequests(engine) > before)
                return tick % kTicksPerSecond == 0 ? tick / kTicksPerSecond : -tick;
        }
        return -1;
    }
};

TEST_F(RelinkTest, DroppedLinkIsPassedOnThenAskedForAgainAfterTenSeconds) {
    frame(FrameKind::LinkDown, kDisconnected);
    const std::vector<std::string> expected = {"*** DISCONNECTED From Station GB7DXC\r\n",
                                               "Reconnecting to GB7DXC in 10 s...\r\n"};
    EXPECT_EQ(client().writes, expected);
    EXPECT_EQ(window.statusText, "Status: Reconnecting");
    EXPECT_FALSE(bridge.linkUp());

    EXPECT_EQ(secondsUntilConnectRequest(), 10);
    EXPECT_EQ(engine.requests.back(), connectRequest("GB7DXC"));
    EXPECT_EQ(window.statusText, "Status: Reconnecting"); // until the link is up again

    client().writes.clear();
    frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(client().writes, std::vector<std::string>{"*** CONNECTED With Station GB7DXC\r\n"});
    EXPECT_EQ(window.statusText, "Status: Connected");
    clientSends("sh/dx\r\n");
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

// Each attempt the cluster refuses (its 'd' right after the connect) doubles the pause, up to five minutes.
TEST_F(RelinkTest, RefusedAttemptsDoubleThePauseUpToFiveMinutes) {
    frame(FrameKind::LinkDown, kDisconnected);
    std::vector<int> pauses;
    for (int attempt = 0; attempt < 7; ++attempt) {
        pauses.push_back(secondsUntilConnectRequest());
        frame(FrameKind::LinkDown, kRetryOut);
    }
    EXPECT_EQ(pauses, (std::vector<int>{10, 20, 40, 80, 160, 300, 300}));
    EXPECT_NE(client().sent.find("Reconnecting to GB7DXC in 300 s...\r\n"), std::string::npos);
    EXPECT_TRUE(socket.connected(1));
}

// Only a link that stayed up a few minutes counts as working again; one that the cluster drops at once
// (a refused login) is a failed attempt.
TEST_F(RelinkTest, PauseStartsAgainAtTenSecondsOnlyAfterALinkThatStayedUp) {
    struct Row {
        const char *what;
        int secondsUp;
        int expectedPause;
    };
    const Row rows[] = {
        {"dropped at once", 0, 40},
        {"dropped after a minute", 60, 40},
        {"dropped after three minutes", 180, 10},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) { s.relink = true; });
        rig.connectClientWithLink();
        rig.frame(FrameKind::LinkDown, kDisconnected); // 10 s
        rig.ticks(10 * kTicksPerSecond);
        rig.frame(FrameKind::LinkDown, kRetryOut); // 20 s
        rig.ticks(20 * kTicksPerSecond);
        rig.frame(FrameKind::LinkUp, kConnected);
        rig.ticks(row.secondsUp * kTicksPerSecond);
        rig.client().writes.clear();
        rig.frame(FrameKind::LinkDown, kDisconnected);
        EXPECT_EQ(rig.client().writes.back(),
                  "Reconnecting to GB7DXC in " + std::to_string(row.expectedPause) + " s...\r\n");
    }
}

TEST_F(RelinkTest, AttemptsStopWhenTheClientLeaves) {
    struct Row {
        const char *what;
        bool attemptUnderWay;
    };
    for (const Row &row : {Row{"while waiting", false}, Row{"while the attempt is under way", true}}) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) { s.relink = true; });
        rig.connectClientWithLink();
        rig.frame(FrameKind::LinkDown, kDisconnected);
        if (row.attemptUnderWay)
            rig.ticks(10 * kTicksPerSecond);
        const std::size_t attempts = connectRequests(rig.engine);
        rig.bridge.onClientGone(1);
        EXPECT_EQ(rig.window.statusText, "Status: Disconnected");
        rig.ticks(600 * kTicksPerSecond);
        EXPECT_EQ(connectRequests(rig.engine), attempts);
        // A link that still comes up has nobody to serve.
        rig.frame(FrameKind::LinkUp, kConnected);
        EXPECT_EQ(rig.engine.requests.back(), disconnectRequest("GB7DXC"));
    }
}

// An engine that cannot take the connect now (it is away) is tried again like a refused attempt.
TEST_F(RelinkTest, ConnectTheEngineCannotSendIsTriedAgain) {
    frame(FrameKind::LinkDown, kDisconnected);
    engine.connectRefusal = "the engine connection is down";
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(secondsUntilConnectRequest(), 10);
    ::testing::internal::GetCapturedStderr();
    EXPECT_NE(client().sent.find("*** Can't connect to GB7DXC: the engine connection is down\r\n"),
              std::string::npos);
    EXPECT_EQ(client().writes.back(), "Reconnecting to GB7DXC in 20 s...\r\n");
    engine.connectRefusal.clear();
    EXPECT_EQ(secondsUntilConnectRequest(), 20);
}

TEST_F(RelinkTest, MonitorModeSwitchedOnMeanwhileEndsTheAttempts) {
    frame(FrameKind::LinkDown, kDisconnected);
    change([&](BridgeState &s) { s.monitorMode = true; });
    EXPECT_EQ(secondsUntilConnectRequest(600), -1);
}

// ---- the defaults: exactly the sessions of before ----

TEST(DefaultSessionTest, DroppedLinkIsOnlyPassedOnAndTheClientLeavingDropsTheLink) {
    BridgeRig rig;
    rig.startConfigured();
    EXPECT_FALSE(rig.state.relink);
    EXPECT_EQ(rig.state.keepLinkSeconds, 0);
    EXPECT_EQ(rig.state.maxClients, 1);
    EXPECT_FALSE(rig.state.quietKeepalives);

    rig.connectClientWithLink();
    rig.frame(FrameKind::LinkDown, kDisconnected);
    rig.ticks(600 * kTicksPerSecond);
    EXPECT_EQ(rig.client().writes, std::vector<std::string>{"*** DISCONNECTED From Station GB7DXC\r\n"});
    EXPECT_EQ(connectRequests(rig.engine), 0u);
    EXPECT_EQ(rig.window.statusText, "Status: Disconnected");

    rig.connectClientWithLink(2); // a second client while the first is there is turned away
    EXPECT_FALSE(rig.socket.connected(2));
    EXPECT_EQ(rig.bridge.clientCount(), 1u);

    rig.clientSends("\r\n\r\n");
    EXPECT_EQ(rig.engine.dataSent(), (std::vector<std::string>{" \r", " \r"}));
    rig.bridge.onClientGone(1);
    EXPECT_EQ(rig.engine.requests.back(), disconnectRequest("GB7DXC"));
    EXPECT_TRUE(rig.socket.listening);
}

// ---- keeping the link for a returning client ----

class KeepLinkTest : public BridgeFixture {
  protected:
    void SetUp() override {
        startConfigured();
        change([&](BridgeState &s) { s.keepLinkSeconds = 30; });
        connectClientWithLink();
    }
};

TEST_F(KeepLinkTest, ReturningClientIsGreetedToldTheLinkIsUpAndGetsTheClustersText) {
    bridge.onClientGone(1);
    EXPECT_TRUE(engine.requests.empty());
    EXPECT_TRUE(bridge.linkUp());
    EXPECT_TRUE(socket.listening);

    frame(FrameKind::LinkData, kSpot); // nobody to read it
    EXPECT_EQ(bridge.transferredBytes(), 0);
    ticks(29 * kTicksPerSecond);

    clientStays(2);
    const std::vector<std::string> greeting = {kWelcome, "*** CONNECTED With Station GB7DXC\r\n"};
    EXPECT_EQ(client(2).writes, greeting);
    EXPECT_EQ(connectRequests(engine), 0u);
    frame(FrameKind::LinkData, kSpot);
    EXPECT_EQ(client(2).writes.back(), kSpot + "\n");
    EXPECT_EQ(bridge.transferredBytes(), static_cast<int64_t>(kSpot.size()));

    ticks(60 * kTicksPerSecond); // the time no longer runs while a client is there
    EXPECT_EQ(disconnectRequests(engine), 0u);
    clientSends("sh/dx\r\n", 2);
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
}

TEST_F(KeepLinkTest, LinkDropsWithOneDisconnectWhenTheTimeRunsOut) {
    bridge.onClientGone(1);
    ticks(30 * kTicksPerSecond - 1);
    EXPECT_EQ(disconnectRequests(engine), 0u);
    bridge.onTick();
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC")});
    ticks(60 * kTicksPerSecond);
    EXPECT_EQ(engine.requests.size(), 1u);

    frame(FrameKind::LinkDown, kDisconnected);
    clientStays(2); // after the time: a session of its own, with its own link
    EXPECT_EQ(engine.requests.back(), connectRequest("GB7DXC"));
}

TEST_F(KeepLinkTest, ALinkTheClusterEndsMeanwhileIsNotKeptFurther) {
    bridge.onClientGone(1);
    frame(FrameKind::LinkDown, kDisconnected);
    ticks(60 * kTicksPerSecond);
    EXPECT_TRUE(engine.requests.empty());
    clientStays(2);
    EXPECT_EQ(engine.requests.back(), connectRequest("GB7DXC"));
}

// ---- several clients on one link ----

class SharedSessionTest : public BridgeFixture {
  protected:
    void SetUp() override {
        startConfigured();
        change([&](BridgeState &s) { s.maxClients = 3; });
        connectClientWithLink(1);
    }
};

TEST_F(SharedSessionTest, FurtherClientIsGreetedToldItJoinsAndThatTheLinkIsUp) {
    EXPECT_TRUE(socket.listening);
    clientStays(2);
    const std::vector<std::string> expected = {
        kWelcome, "Joining the session with GB7DXC DX Cluster Station (2 clients)\r\n",
        "*** CONNECTED With Station GB7DXC\r\n"};
    EXPECT_EQ(client(2).writes, expected);
    EXPECT_TRUE(client(1).writes.empty());
    EXPECT_EQ(connectRequests(engine), 0u);
    EXPECT_TRUE(socket.listening);

    clientStays(3); // the last place: the port stays the program's all the same
    EXPECT_TRUE(socket.listening);
    bridge.onClientGone(2);
    EXPECT_TRUE(socket.listening);
    EXPECT_EQ(disconnectRequests(engine), 0u);
}

TEST(SharedSessionComingUpTest, AClientThatJoinsWhileTheLinkComesUpHearsItsNotice) {
    BridgeRig rig;
    rig.startConfigured();
    rig.change([&](BridgeState &s) { s.maxClients = 2; });
    rig.clientStays(1);
    rig.clientStays(2);
    EXPECT_EQ(connectRequests(rig.engine), 1u); // the first client's
    EXPECT_EQ(rig.client(2).writes.size(), 2u);
    rig.frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(rig.client(1).writes.back(), "*** CONNECTED With Station GB7DXC\r\n");
    EXPECT_EQ(rig.client(2).writes.back(), "*** CONNECTED With Station GB7DXC\r\n");
}

TEST_F(SharedSessionTest, TheClustersTextReachesEveryClientLineByLine) {
    connectClient(2);
    frame(FrameKind::LinkData, "DX de K1ABC: one\rDX de G4ABC: ");
    frame(FrameKind::LinkData, "two\r");
    const std::vector<std::string> lines = {"DX de K1ABC: one\r\n", "DX de G4ABC: two\r\n"};
    EXPECT_EQ(client(1).writes, lines);
    EXPECT_EQ(client(2).writes, lines);
    EXPECT_EQ(bridge.transferredBytes(), 34); // counted once, as it came over the radio
}

// Two programs typing at once: each one's lines reach the cluster whole, as requests of their own.
TEST_F(SharedSessionTest, EachClientsLinesGoOutWholeNeverMixedWithAnothers) {
    connectClient(2);
    clientSends("sh/d", 1);
    clientSends("ann hel", 2);
    clientSends("x\r\n", 1);
    clientSends("lo\r\nsh/wwv\r\n", 2);
    EXPECT_EQ(engine.dataSent(), (std::vector<std::string>{"sh/dx \r", "ann hello \r", "sh/wwv \r"}));

    clientSends("no end", 2); // an unfinished line goes out with its client when it leaves
    bridge.onClientGone(2);
    EXPECT_EQ(engine.dataSent().back(), "no end \r");
    EXPECT_EQ(disconnectRequests(engine), 0u);
}

// A line longer than a frame goes out in pieces. Another client's line never falls between them: it waits
// until the long line has ended: its client ends it, falls silent for a second, or leaves.
TEST_F(SharedSessionTest, AnotherClientsLineNeverFallsBetweenThePiecesOfALongLine) {
    const std::string piece(ClientLines::kPieceBytes, 'a');
    struct Case {
        const char *name;
        std::string longLine;                 // what client 1 sends, without its end
        std::function<void(BridgeRig &)> end; // how client 1's line comes to its end
        std::vector<std::string> expected;    // the data requests, in order
    };
    const std::vector<Case> cases = {
        {"its client ends it",
         piece + "tail",
         [](BridgeRig &rig) { rig.clientSends("\r\n", 1); },
         {piece, "tail \r", "sh/dx \r"}},
        {"its client falls silent",
         piece + "tail",
         [](BridgeRig &rig) { rig.ticks(3); },
         {piece, "tail \r", "sh/dx \r"}},
        {"its client leaves",
         piece + "tail",
         [](BridgeRig &rig) { rig.bridge.onClientGone(1); },
         {piece, "tail \r", "sh/dx \r"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) { s.maxClients = 3; });
        rig.connectClientWithLink(1);
        rig.connectClient(2);
        rig.clientSends(c.longLine, 1);
        rig.clientSends("sh/dx\r\n", 2);
        EXPECT_EQ(rig.engine.dataSent(), std::vector<std::string>{piece});
        c.end(rig);
        EXPECT_EQ(rig.engine.dataSent(), c.expected);
    }
}

// A client that leaves with an unfinished line while another's long line is partly out: its line follows
// that line's end.
TEST_F(SharedSessionTest, ALeavingClientsLastLineWaitsForTheLongLineInProgress) {
    const std::string piece(ClientLines::kPieceBytes, 'a');
    connectClient(2);
    clientSends("half", 2);
    clientSends(piece + "tail", 1);
    bridge.onClientGone(2);
    EXPECT_EQ(engine.dataSent(), std::vector<std::string>{piece});
    clientSends("\r\n", 1);
    EXPECT_EQ(engine.dataSent(), (std::vector<std::string>{piece, "tail \r", "half \r"}));
    EXPECT_EQ(bridge.transferredBytes(), static_cast<int64_t>(piece.size() + 6 + 6));
}

TEST(SharedSessionComingUpTest, LinesTypedWhileConnectingAreAccountedToEachClient) {
    BridgeRig rig;
    rig.startConfigured();
    rig.change([&](BridgeState &s) { s.maxClients = 2; });
    rig.connectClient(1);
    rig.connectClient(2);
    rig.clientSends("one\r\n", 1);
    rig.clientSends("two\r\nthree\r\n", 2);
    rig.frame(FrameKind::LinkDown, kRetryOut);
    EXPECT_NE(rig.client(1).sent.find("*** Not sent, no link to GB7DXC: 1 line typed while connecting\r\n"),
              std::string::npos);
    EXPECT_NE(rig.client(2).sent.find("*** Not sent, no link to GB7DXC: 2 lines typed while connecting\r\n"),
              std::string::npos);
}

TEST_F(SharedSessionTest, ASlowClientIsEndedAloneAndTheOthersGoOn) {
    connectClient(2);
    client(2).unsent = kMaxUnsentToClientBytes - 10;
    ::testing::internal::CaptureStderr();
    frame(FrameKind::LinkData, kSpot);
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("the client stopped reading"), std::string::npos) << warnings;
    EXPECT_FALSE(socket.connected(2));
    EXPECT_TRUE(socket.connected(1));
    EXPECT_EQ(client(1).writes, std::vector<std::string>{kSpot + "\n"});
    EXPECT_TRUE(engine.requests.empty());
    EXPECT_TRUE(bridge.linkUp());
    EXPECT_EQ(bridge.clientCount(), 1u);
}

TEST_F(SharedSessionTest, TheLinkDropsWhenTheLastClientLeaves) {
    connectClient(2);
    bridge.onClientGone(1);
    EXPECT_TRUE(engine.requests.empty());
    bridge.onClientGone(2);
    EXPECT_EQ(engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC")});
}

TEST_F(SharedSessionTest, AClientTooManyIsRefusedAndTheSessionGoesOn) {
    change([&](BridgeState &s) { s.maxClients = 2; });
    connectClient(2);
    clientStays(3);
    EXPECT_FALSE(socket.connected(3));
    EXPECT_EQ(client(3).sent, "*** All 2 places are taken here; try again later\r\n");
    EXPECT_EQ(journal, (Journal{"socket.accept 3", "socket.send 3", "socket.close 3"}));
}

TEST_F(SharedSessionTest, EveryClientHearsTheDropAndTheRelinkAndShutdownEndsThemAll) {
    change([&](BridgeState &s) { s.relink = true; });
    connectClient(2);
    frame(FrameKind::LinkDown, kDisconnected);
    for (const ClientId id : {1, 2})
        EXPECT_EQ(client(id).writes.back(), "Reconnecting to GB7DXC in 10 s...\r\n");

    clientStays(3); // joins while waiting, and hears when the next attempt comes
    EXPECT_EQ(client(3).writes.back(), "Reconnecting to GB7DXC in 10 s...\r\n");

    bridge.shutDown();
    for (const ClientId id : {1, 2, 3})
        EXPECT_FALSE(socket.connected(id));
    EXPECT_FALSE(socket.listening);
}

// ---- keepalives ----

class QuietKeepalivesTest : public BridgeFixture {
  protected:
    void SetUp() override {
        bridge.setLog(log);
        startConfigured();
        change([&](BridgeState &s) { s.quietKeepalives = true; });
        connectClientWithLink();
    }
    RecordingLog log;
};

TEST_F(QuietKeepalivesTest, OneEmptyLineInFiveMinutesGoesOutTheRestAreCountedInTheLog) {
    clientSends("\r\n");
    clientSends("\r\nsh/dx\r\n\r\n");
    EXPECT_EQ(engine.dataSent(), (std::vector<std::string>{" \r", "sh/dx \r"}));

    ticks(60 * kTicksPerSecond);
    EXPECT_NE(
        std::find(log.lines.begin(), log.lines.end(),
                  "Kept off the air in the last minute: 2 empty lines from the clients (2 since start-up)"),
        log.lines.end());

    ticks(239 * kTicksPerSecond);
    clientSends("\r\n");
    EXPECT_EQ(engine.dataSent().size(), 2u);
    ticks(kTicksPerSecond);
    clientSends("\r\n");
    EXPECT_EQ(engine.dataSent(), (std::vector<std::string>{" \r", "sh/dx \r", " \r"}));
}

TEST_F(QuietKeepalivesTest, WithoutALinkAnEmptyLineIsDroppedWithoutATellingOff) {
    frame(FrameKind::LinkDown, kDisconnected);
    client().writes.clear();
    clientSends("\r\n");
    EXPECT_TRUE(client().writes.empty());
    clientSends("sh/dx\r\n");
    EXPECT_EQ(client().writes, std::vector<std::string>{"*** Not sent, no link to GB7DXC\r\n"});
}

} // namespace
