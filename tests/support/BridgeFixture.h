// A bridge wired to recording fakes, with a store that already names real stations.
#pragma once

#include "Bridge.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"

#include <gtest/gtest.h>

namespace corvantle::test {

// One bridge and its fakes; table-driven tests make one per row.
struct BridgeRig {
    Journal journal;
    FakeWindow window{journal};
    FakeSocket socket{journal};
    FakeEngine engine{journal};
    MemoryStore store{journal};
    Bridge bridge{window, socket, engine, store};
    BridgeState &state = bridge.state();

    void store_setting(const settings::Key &key, const std::string &text) {
        store.values[{kProgramName, settings::kSection, key.name}] = text;
    }

    // Start-up with callsigns N0CALL and GB7DXC, so no reminder box appears.
    void startConfigured() {
        store_setting(settings::kMyCallsign, "N0CALL");
        store_setting(settings::kCluster, "GB7DXC");
        ASSERT_TRUE(bridge.Form_Load());
        journal.clear();
    }

    // A client on the socket, greeted, with the journal and the sent bytes cleared.
    void connectClient() {
        bridge.Winsock1_ConnectionRequest(1);
        socket.sent.clear();
        engine.requests.clear();
        journal.clear();
    }

    void queueFrame(char kind, const std::string &text, int32_t length, int32_t radioPort = 0,
                    const std::string &headerCall = "GB7DXC") {
        engine.frames.push_back({headerCall, text, static_cast<unsigned char>(kind), length, radioPort});
    }
};

class BridgeFixture : public ::testing::Test, protected BridgeRig {};

} // namespace corvantle::test
