#include "BridgeFixture.h"

using namespace corvantle;
using namespace corvantle::test;

namespace {

class TelnetSessionTest : public BridgeFixture {
protected:
    void SetUp() override { startConfigured(); }
};

TEST_F(TelnetSessionTest, ClientIsGreetedBeforeTheConnectRequest) {
    state.Port = 2;
    bridge.Winsock1_ConnectionRequest(42);

    EXPECT_EQ(socket.sent, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                           "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n");
    EXPECT_EQ(socket.sent.substr(0, 49), "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n");
    const Journal expected = {"socket.close", "socket.accept 42", "socket.send", "socket.send",
                              "engine.AGWPutData c GB7DXC"};
    EXPECT_EQ(journal, expected);
    EXPECT_EQ(engine.requests.back(), (PutRequest{"GB7DXC", "", 'c', 0, 2}));
    EXPECT_EQ(window.statusText, "Status: Disconnected");
    EXPECT_FALSE(state.Connected);
}

TEST_F(TelnetSessionTest, DigipeaterRouteIsUsedOnlyWhenSwitchedOnAndNotEmpty) {
    struct Row {
        bool connectVia;
        std::string digis;
        PutRequest expected;
    };
    const Row rows[] = {
        {true, "RELAY1,RELAY2", {"GB7DXC,RELAY1,RELAY2", "", 'v', 0, 0}},
        {true, "", {"GB7DXC", "", 'c', 0, 0}},
        {false, "RELAY1", {"GB7DXC", "", 'c', 0, 0}},
    };
    for (const Row &row : rows) {
        state.ConnectViaDigi = row.connectVia;
        state.Digis = row.digis;
        engine.requests.clear();
        bridge.Winsock1_ConnectionRequest(1);
        ASSERT_EQ(engine.requests.size(), 1u);
        EXPECT_EQ(engine.requests[0], row.expected);
    }
}

TEST_F(TelnetSessionTest, MonitorModeGreetsForMonitoringAndRequestsNoLink) {
    state.MonitorMode = true;
    bridge.Winsock1_ConnectionRequest(1);
    EXPECT_EQ(socket.sent, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                           "Monitoring GB7DXC DX Cluster Station...\r\n");
    EXPECT_EQ(window.statusText, "Status: Monitoring");
    EXPECT_TRUE(engine.requests.empty());
}

TEST_F(TelnetSessionTest, EachArrivalBecomesOneLineWithTheBridgesLineEnd) {
    struct Row {
        std::string arrived;
        bool compatibility;
        std::string line;
    };
    const Row rows[] = {
        {"sh/dx\r\n", false, "sh/dx \r"},
        {"sh/dx\r\n", true, "sh/dx\r"},
        {"\r\n", false, " \r"},
        {"\r\n", true, "\r"},
        {"bye\n\r\r\r\n", false, "bye \r"},
        {"one\r\ntwo\r\n", false, "one\r\ntwo \r"},
        {"no end", false, "no end \r"},
        {"space \r\n", false, "space  \r"},
        {std::string("bin\0\xff\r\n", 7), true, std::string("bin\0\xff\r", 6)},
    };
    connectClient();
    int64_t counted = 0;
    for (const Row &row : rows) {
        state.CompatibilityMode = row.compatibility;
        socket.incoming = row.arrived;
        engine.requests.clear();
        bridge.Winsock1_DataArrival(static_cast<int32_t>(row.arrived.size()));
        counted += static_cast<int64_t>(row.line.size());
        ASSERT_EQ(engine.requests.size(), 1u);
        EXPECT_EQ(engine.requests[0],
                  (PutRequest{"GB7DXC", row.line, 'D', static_cast<int32_t>(row.line.size()), 0}));
        EXPECT_EQ(state.TransferredBytes, counted);
    }
}

TEST_F(TelnetSessionTest, MonitorModeReadsAndDropsTheClientsText) {
    state.MonitorMode = true;
    connectClient();
    socket.incoming = "sh/dx\r\n";
    bridge.Winsock1_DataArrival(7);
    EXPECT_EQ(socket.incoming, "");
    EXPECT_TRUE(engine.requests.empty());
    EXPECT_EQ(state.TransferredBytes, 0);
}

TEST_F(TelnetSessionTest, ClosingOrFailingEndsTheSessionAndListensAgain) {
    struct Row {
        bool connected;
        bool byError;
        Journal expected;
    };
    const Row rows[] = {
        {true, false, {"socket.close", "engine.AGWPutData d GB7DXC", "socket.listen 4444"}},
        {false, false, {"socket.close", "socket.listen 4444"}},
        {true, true, {"socket.close", "engine.AGWPutData d GB7DXC", "socket.listen 4444"}},
    };
    for (const Row &row : rows) {
        connectClient();
        state.Connected = row.connected;
        state.TransferredBytes = 77;
        window.statusText = "Status: Connected";
        ::testing::internal::CaptureStderr();
        if (row.byError)
            bridge.Winsock1_Error(10053, "connection aborted");
        else
            bridge.Winsock1_Close();
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(journal, row.expected);
        EXPECT_EQ(socket.current, SocketState::Listening);
        EXPECT_EQ(state.Connected, row.connected); // only the engine's notice changes it
        EXPECT_EQ(state.TransferredBytes, 77);
        EXPECT_EQ(window.statusText, "Status: Connected");
    }
    EXPECT_EQ(engine.requests.back(), (PutRequest{"GB7DXC", "", 'd', 0, 0}));
}

TEST_F(TelnetSessionTest, PortTakenMeanwhileIsRetriedOnEveryTick) {
    connectClient();
    socket.listenError = "address in use";
    ::testing::internal::CaptureStderr();
    bridge.Winsock1_Close();
    EXPECT_EQ(socket.current, SocketState::Closed);
    socket.listenError.clear();
    bridge.Timer1_Timer();
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(socket.current, SocketState::Listening);
    EXPECT_NE(warnings.find("cannot listen on local TCP port 4444: address in use"), std::string::npos);
}

} // namespace
