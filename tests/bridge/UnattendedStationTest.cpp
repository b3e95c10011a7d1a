// A station left alone for weeks: nothing goes on the air for nobody (a placeholder callsign, a connection
// that only looks in, clients who left while the connect was pending), the link comes back by itself after
// the packet engine was away, the port stays the program's, and the log names who made it transmit.
#include "BridgeFixture.h"
#include "Ticks.h"

#include <algorithm>

using namespace corvantle;
using namespace corvantle::test;

namespace {

const std::string kConnected = "*** CONNECTED With Station GB7DXC\r" + std::string(1, '\0');
const std::string kDisconnected = "*** DISCONNECTED From Station GB7DXC\r" + std::string(1, '\0');

std::size_t requestsOfKind(const FakeEngine &engine, const std::string &kind) {
    std::size_t count = 0;
    for (const EngineRequest &request : engine.requests)
        count += request.kind == kind ? 1 : 0;
    return count;
}

bool contains(const std::vector<std::string> &lines, const std::string &part) {
    for (const std::string &line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

// Empty or placeholder callsigns: the client is greeted and told what to set; nothing is asked of the engine
// however long it stays and whatever it types.
TEST(UnattendedStation, NothingGoesOnTheAirUnderAPlaceholder) {
    struct Row {
        const char *myCallsign;
        const char *cluster;
        const char *problem;
    };
    const Row rows[] = {
        {"MYCALL", "GB7DXC", "your callsign is not set"},
        {"mycall", "GB7DXC", "your callsign is not set"},
        {"", "GB7DXC", "your callsign is not set"},
        {"N0CALL", "CLUSTER", "the DX cluster station is not set"},
        {"N0CALL", "", "the DX cluster station is not set"},
        {"MYCALL", "CLUSTER", "your callsign and the DX cluster station are not set"},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        RecordingLog log;
        rig.bridge.setLog(log);
        rig.store_setting(settings::kMyCallsign, row.myCallsign);
        rig.store_setting(settings::kCluster, row.cluster);
        rig.bridge.start();
        ASSERT_TRUE(rig.bridge.isRunning()) << row.myCallsign << "/" << row.cluster;
        rig.bridge.onClientArrival(1);
        rig.ticks(kConnectDelayTicks * 4);
        rig.clientSends("sh/dx\r\n");
        rig.ticks(40); // and a relink or a kept link would have had its time

        EXPECT_TRUE(rig.engine.requests.empty()) << row.myCallsign << "/" << row.cluster;
        const std::string &sent = rig.client().sent;
        EXPECT_EQ(sent.rfind("Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n", 0), 0u) << sent;
        EXPECT_NE(sent.find("*** Not connecting: " + std::string(row.problem) +
                            "; set them in Options > Preferences"),
                  std::string::npos)
            << sent;
        EXPECT_TRUE(rig.socket.connected(1));
        EXPECT_TRUE(contains(log.lines, row.problem)) << row.myCallsign << "/" << row.cluster;
    }
}

// A connection that comes and goes within about a second (a port scan, a monitoring check) puts nothing on
// the air; one that stays, or types a line, gets its link.
TEST(UnattendedStation, TheConnectWaitsAMomentOrForTheFirstLine) {
    {
        BridgeRig rig;
        rig.startConfigured();
        rig.bridge.onClientArrival(1);
        rig.ticks(kConnectDelayTicks - 1);
        rig.bridge.onClientGone(1);
        rig.ticks(40);
        EXPECT_TRUE(rig.engine.requests.empty());
        EXPECT_EQ(rig.client().sent, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                                     "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n");
    }
    {
        BridgeRig rig;
        rig.startConfigured();
        rig.bridge.onClientArrival(1);
        rig.ticks(kConnectDelayTicks - 1);
        EXPECT_TRUE(rig.engine.requests.empty());
        rig.ticks(1);
        EXPECT_EQ(rig.engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});
    }
    {
        // The first line asks at once, waits for the link, and goes out when it is up.
        BridgeRig rig;
        rig.startConfigured();
        rig.bridge.onClientArrival(1);
        rig.clientSends("N0CALL\r\n");
        EXPECT_EQ(rig.engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});
        rig.ticks(kConnectDelayTicks * 2);
        EXPECT_EQ(requestsOfKind(rig.engine, "connect"), 1u);
        rig.frame(FrameKind::LinkUp, kConnected);
        EXPECT_EQ(rig.engine.dataSent(), std::vector<std::string>{"N0CALL \r"});
    }
}

// Every client left while the connect was pending: it is withdrawn, and a link that comes up all the same
// (an engine that cannot withdraw it) is taken down. A client that comes meanwhile gets a link of its own
// once the withdrawn one has ended.
TEST(UnattendedStation, AConnectNobodyWantsAnyMoreIsWithdrawn) {
    BridgeRig rig;
    rig.startConfigured();
    rig.connectClient();
    rig.bridge.onClientGone(1);
    EXPECT_EQ(rig.engine.requests, std::vector<EngineRequest>{disconnectRequest("GB7DXC")});

    rig.frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(rig.engine.requests,
              (std::vector<EngineRequest>{disconnectRequest("GB7DXC"), disconnectRequest("GB7DXC")}));
    rig.engine.requests.clear();

    rig.clientStays(2);
    EXPECT_TRUE(rig.engine.requests.empty()); // the withdrawn link has not ended yet
    rig.frame(FrameKind::LinkDown, kDisconnected);
    EXPECT_EQ(rig.engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});
    EXPECT_EQ(rig.client(2).sent.find("DISCONNECTED"), std::string::npos) << "not its link's notice";
}

// The engine restarted under a session: the cluster did not end the link, so whatever LinkEnd says the
// client stays, its lines wait, and the link is asked for again as soon as the engine is back.
TEST(UnattendedStation, AfterTheEngineWasAwayTheClientsGetTheirLinkAgain) {
    struct Row {
        bool relink;
        bool close;
    };
    for (const Row &row : {Row{false, false}, Row{false, true}, Row{true, false}}) {
        BridgeRig rig;
        rig.startConfigured();
        rig.change([&](BridgeState &s) {
            s.relink = row.relink;
            s.closeClientsWhenLinkEnds = row.close;
        });
        rig.connectClientWithLink();
        rig.engine.engineConnected = false;
        rig.frame(FrameKind::LinkDown, kDisconnected);
        EXPECT_TRUE(rig.socket.connected(1)) << row.close;
        EXPECT_EQ(rig.client().sent, "*** DISCONNECTED From Station GB7DXC\r\n"
                                     "*** The packet engine is not reachable yet: connecting to GB7DXC once "
                                     "it is back\r\n");
        rig.clientSends("sh/dx\r\n");
        rig.ticks(60); // no relink pause runs out into a refused connect
        EXPECT_TRUE(rig.engine.requests.empty());
        EXPECT_EQ(rig.client().sent.find("Not sent"), std::string::npos);

        rig.engine.comeBack();
        EXPECT_EQ(rig.engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});
        rig.frame(FrameKind::LinkUp, kConnected);
        EXPECT_TRUE(rig.bridge.linkUp());
        EXPECT_EQ(rig.engine.dataSent(), std::vector<std::string>{"sh/dx \r"});
        EXPECT_NE(rig.client().sent.find("*** CONNECTED With Station GB7DXC\r\n"), std::string::npos);
    }
}

// A logger that arrives while the engine is away is told once, and gets its link when the engine is back.
TEST(UnattendedStation, AClientArrivingWhileTheEngineIsAwayWaitsForIt) {
    BridgeRig rig;
    rig.startConfigured();
    rig.engine.engineConnected = false;
    rig.bridge.onClientArrival(1);
    rig.ticks(kConnectDelayTicks);
    rig.clientSends("N0CALL\r\n");
    rig.ticks(40);
    EXPECT_TRUE(rig.engine.requests.empty());
    EXPECT_EQ(rig.client().sent, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                                 "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n"
                                 "*** The packet engine is not reachable yet: connecting to GB7DXC once it "
                                 "is back\r\n");
    rig.engine.comeBack();
    rig.frame(FrameKind::LinkUp, kConnected);
    EXPECT_EQ(rig.engine.dataSent(), std::vector<std::string>{"N0CALL \r"});
    EXPECT_EQ(requestsOfKind(rig.engine, "connect"), 1u);

    // Back with nobody waiting: nothing is asked for.
    BridgeRig idle;
    idle.startConfigured();
    idle.engine.engineConnected = false;
    idle.bridge.onClientArrival(1);
    idle.ticks(kConnectDelayTicks);
    idle.bridge.onClientGone(1);
    idle.engine.comeBack();
    EXPECT_TRUE(idle.engine.requests.empty());
}

// While every place is taken the port stays open: a further connection hears why in one line and is
// closed, and causes no connect.
TEST(UnattendedStation, ThePortStaysTheProgramsAndAClientBeyondThePlacesIsTurnedAway) {
    BridgeRig rig;
    RecordingLog log;
    rig.bridge.setLog(log);
    rig.startConfigured();
    rig.connectClientWithLink(1);
    EXPECT_TRUE(rig.socket.listening);
    rig.socket.addresses[2] = "127.0.0.5";
    rig.bridge.onClientArrival(2);
    rig.ticks(kConnectDelayTicks);
    EXPECT_TRUE(rig.socket.listening);
    EXPECT_EQ(rig.client(2).sent, "*** All 1 place is taken here; try again later\r\n");
    EXPECT_FALSE(rig.socket.connected(2));
    EXPECT_TRUE(rig.engine.requests.empty());
    EXPECT_EQ(rig.bridge.clientCount(), 1u);
    EXPECT_TRUE(contains(log.lines, "Telnet client from 127.0.0.5 refused: 1 connected already"));

    rig.bridge.onClientGone(1);
    EXPECT_TRUE(rig.socket.listening);
    const auto stops = std::count(rig.journal.begin(), rig.journal.end(), "socket.stopListening");
    EXPECT_EQ(stops, 0);
}

// The log names the machine each client came from, and tells of refused ones once a minute per address
// with a count, not one line each.
TEST(UnattendedStation, TheLogNamesClientsAndCountsRefusals) {
    BridgeRig rig;
    RecordingLog log;
    rig.bridge.setLog(log);
    rig.startConfigured();
    rig.socket.addresses[1] = "192.168.1.20";
    rig.connectClient(1);
    EXPECT_TRUE(contains(log.lines, "Telnet client connected from 192.168.1.20"));

    log.lines.clear();
    for (int i = 0; i < 2000; ++i)
        rig.bridge.onClientRefused("192.0.2.9");
    rig.bridge.onClientRefused("192.0.2.10");
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "warning: Telnet client from 192.0.2.9 refused: not in AllowedClients",
                             "warning: Telnet client from 192.0.2.10 refused: not in AllowedClients"}));
    log.lines.clear();
    rig.ticks(kTicksPerMinute);
    EXPECT_EQ(log.lines, std::vector<std::string>{"warning: Telnet clients from 192.0.2.9 refused 1999 more "
                                                  "times in the last minute: not in AllowedClients"});
    log.lines.clear();
    rig.ticks(kTicksPerMinute * 2); // quiet: nothing more, and the next refusal is told at once
    EXPECT_TRUE(log.lines.empty());
    rig.bridge.onClientRefused("192.0.2.9");
    EXPECT_EQ(log.lines, std::vector<std::string>{
                             "warning: Telnet client from 192.0.2.9 refused: not in AllowedClients"});
}

} // namespace
