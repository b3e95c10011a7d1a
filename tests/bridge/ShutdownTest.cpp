// Shutdown when the window closes: the link dropped, the clients closed, the port and the engine let go.
#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

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
