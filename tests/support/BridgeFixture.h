// A bridge wired to recording fakes, with a store that already names real stations.
#pragma once

#include "Bridge.h"
#include "LinkSchedule.h"
#include "ProgramSettings.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"
#include "SettingsWriter.h"

#include <gtest/gtest.h>

namespace corvantle::test {

// One bridge and its fakes; table-driven tests make one per row.
struct BridgeRig {
    Journal journal;
    FakeWindow window{journal};
    FakeSocket socket{journal};
    FakeEngine engine{journal};
    MemoryStore store{journal};
    // The store as the program reads it, read again at each change, and what start() puts in force from it.
    SettingsReading reading = readProgramSettings(store);
    StartupSettings startup = startupFrom(reading);
    Bridge bridge{window, socket, engine, startup};
    StoreWriter writer{store}; // where Preferences saves
    const BridgeState &state = bridge.state();

    // New settings, as Preferences hands them to the bridge.
    template <typename Edit> void change(Edit edit) {
        BridgeState next = bridge.state();
        edit(next);
        bridge.applySettings(next);
    }

    void store_setting(const settings::Key &key, const std::string &text) {
        store.values[{kProgramName, key.section, key.name}] = text;
        storeChanged();
    }
    // The store was changed by hand: read it again for the next start.
    void storeChanged() {
        reading = readProgramSettings(store);
        startup = startupFrom(reading);
    }

    // Start-up with callsigns N0CALL and GB7DXC, so no reminder box appears.
    void startConfigured() {
        store_setting(settings::kMyCallsign, "N0CALL");
        store_setting(settings::kCluster, "GB7DXC");
        bridge.start();
        ASSERT_TRUE(bridge.isRunning());
        journal.clear();
    }

    // A client arrives and stays long enough for its link to be asked for.
    void clientStays(ClientId id = 1) {
        bridge.onClientArrival(id);
        ticks(kConnectDelayTicks);
    }

    // A client on the socket, greeted, its link asked for, with the journal and the sent bytes cleared.
    void connectClient(ClientId id = 1) {
        clientStays(id);
        clearRecords();
    }

    // A client whose link to the cluster is up.
    void connectClientWithLink(ClientId id = 1) {
        clientStays(id);
        frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC\r" + std::string(1, '\0'));
        clearRecords();
    }

    void clearRecords() {
        for (auto &[id, client] : socket.clients) {
            client.sent.clear();
            client.writes.clear();
        }
        engine.requests.clear();
        journal.clear();
    }

    FakeClient &client(ClientId id = 1) { return socket.client(id); }

    // A frame from the engine, as it arrives.
    void frame(FrameKind kind, const std::string &text, const std::string &from = "GB7DXC",
               int radioPort = 0) {
        bridge.frameArrived(EngineFrame{kind, static_cast<std::uint8_t>(radioPort), from, "N0CALL", text});
    }

    // The client sends bytes.
    void clientSends(const std::string &bytes, ClientId id = 1) {
        socket.client(id).incoming += bytes;
        bridge.onClientData(id);
    }

    void ticks(int count) {
        for (int i = 0; i < count; ++i)
            bridge.onTick();
    }
};

class BridgeFixture : public ::testing::Test, protected BridgeRig {};

} // namespace corvantle::test
