// What the bridge writes into the session log during a session: the lines a user reads to see why a session
// did not come up, in the order things happened.
#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

TEST(SessionLogTest, ASessionFromRegistrationToTheClientsLeaving) {
    BridgeRig rig;
    RecordingLog log;
    rig.bridge.setLog(log);
    rig.store_setting(settings::kConnectViaDigi, "True");
    rig.store_setting(settings::kDigis, "RELAY1,RELAY2");
    rig.startConfigured();
    rig.connectClient();
    rig.frame(FrameKind::LinkUp, "*** CONNECTED To Station G4XYZ\r", "G4XYZ");
    rig.frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC\r", "GB7DXC");
    rig.frame(FrameKind::LinkData, "DX de K1ABC: spot\r");
    rig.clientSends("sh/dx\r\n");
    for (int tick = 0; tick < 120; ++tick)
        rig.bridge.onTick();
    rig.frame(FrameKind::LinkDown, std::string("*** DISCONNECTED From Station GB7DXC\r\0", 38));
    rig.bridge.onClientGone(1);

    const std::vector<std::string> expected = {
        "Registering N0CALL with the packet engine",
        "Registered N0CALL",
        "Listening for a telnet client on 127.0.0.1 port 4444",
        "Telnet client connected",
        "Connect request to GB7DXC via RELAY1,RELAY2 on radio port 0",
        "Link from G4XYZ on radio port 0 is not the cluster's: taken down",
        "Disconnect request to G4XYZ on radio port 0",
        "Link up: GB7DXC on radio port 0",
        "Relayed in the last minute: 18 bytes from the radio, 7 bytes to the radio",
        "Link down: GB7DXC on radio port 0 (*** DISCONNECTED From Station GB7DXC)",
        "Telnet client left",
    };
    EXPECT_EQ(log.lines, expected);
}

TEST(SessionLogTest, AConnectThatCannotBeSentIsAWarning) {
    BridgeRig rig;
    RecordingLog log;
    rig.bridge.setLog(log);
    rig.startConfigured();
    rig.engine.connectRefusal = "the packet engine is not connected";
    rig.connectClient();
    EXPECT_EQ(log.lines.back(),
              "warning: connect request to GB7DXC not sent: the packet engine is not connected");
}

// A stored call the engine cannot put on the air is still asked for; the log says why it will not come up.
TEST(SessionLogTest, AConnectWithACallThatIsNoAirAddressIsAWarning) {
    struct Row {
        const char *myCallsign, *cluster, *digis;
        std::string warning; // empty: none
    };
    const Row rows[] = {
        {"N0CALL", "GB7DXC", "RELAY1", ""},
        {"N0CALL", "GB7DXCX", "", "the cluster \"GB7DXCX\""},
        {"G4ABC-16", "GB7DXC", "", "your callsign \"G4ABC-16\""},
        {"N0CALL", "GB7DXC", "RELAY1,RELAY2-16", "the digipeater \"RELAY2-16\""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.myCallsign) + " " + row.cluster);
        BridgeRig rig;
        RecordingLog log;
        rig.bridge.setLog(log);
        rig.store_setting(settings::kMyCallsign, row.myCallsign);
        rig.store_setting(settings::kCluster, row.cluster);
        rig.store_setting(settings::kConnectViaDigi, "True");
        rig.store_setting(settings::kDigis, row.digis);
        rig.bridge.start();
        ASSERT_TRUE(rig.bridge.isRunning());
        log.lines.clear();
        rig.clientStays(1);
        ASSERT_EQ(rig.engine.requests.size(), 1u); // asked for as before
        std::vector<std::string> warnings;
        for (const std::string &line : log.lines)
            if (line.rfind("warning: ", 0) == 0)
                warnings.push_back(line);
        if (row.warning.empty()) {
            EXPECT_TRUE(warnings.empty()) << warnings.front();
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(
            warnings[0].rfind("warning: " + row.warning +
                                  " is not an AX.25 callsign: 1 to 6 letters or digits, then an optional "
                                  "SSID -0 to -15",
                              0),
            0u)
            << warnings[0];
    }
}

TEST(SessionLogTest, ALocalPortThatCannotBeListenedOnIsAWarningBeforeTheProgramEnds) {
    BridgeRig rig;
    RecordingLog log;
    rig.bridge.setLog(log);
    rig.store_setting(settings::kMyCallsign, "N0CALL");
    rig.store_setting(settings::kCluster, "GB7DXC");
    rig.socket.listenError = "The bound address is already in use";
    rig.bridge.start();
    EXPECT_FALSE(rig.bridge.isRunning());
    EXPECT_EQ(log.lines.back(),
              "warning: Can't listen on local TCP port 4444: The bound address is already in use");
}

} // namespace
