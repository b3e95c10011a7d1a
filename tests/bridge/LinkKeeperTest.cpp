// LinkKeeper alone, with a fake engine and a listener that records what it reports: what becomes of the
// link at each notice with each LinkEnd, that nothing goes on the air under a placeholder, and when the link
// counts as on the air.
#include "LinkKeeper.h"
#include "LinkSchedule.h"
#include "RecordingFakes.h"
#include "SettingsTable.h"

#include <gtest/gtest.h>

#include <string>

namespace corvantle::test {
namespace {

// What the coordinator hears, in the engine's journal.
class RecordingListener final : public LinkListener {
  public:
    explicit RecordingListener(Journal &journal) : journal_(journal) {}
    bool clients = true;

    bool hasClients() const override { return clients; }
    bool tellClients(const std::string &text) override {
        journal_.push_back("clients: " + text);
        return clients;
    }
    bool tellClient(ClientId client, const std::string &text) override {
        journal_.push_back("client " + std::to_string(client) + ": " + text);
        return clients;
    }
    void linkCameUp() override { journal_.push_back("link came up"); }
    void linkWentDown() override { journal_.push_back("link went down"); }
    void linkFailed() override { journal_.push_back("link failed"); }
    void closeClients() override { journal_.push_back("close clients"); }

  private:
    Journal &journal_;
};

const std::string kConnected = "*** CONNECTED With Station GB7DXC\r";
const std::string kDisconnected = "*** DISCONNECTED From Station GB7DXC\r";

struct KeeperRig {
    Journal journal;
    FakeEngine engine{journal};
    RecordingListener listener{journal};
    RecordingLog log;
    LinkKeeper keeper{engine, listener, log, "them in the test"};

    explicit KeeperRig(BridgeState settings = configured()) { keeper.useSettings(settings); }

    static BridgeState configured() {
        BridgeState settings;
        settings.myCallsign = "N0CALL";
        settings.cluster = "GB7DXC";
        return settings;
    }
    // A link notice from the cluster, with the engine's closing NUL.
    static EngineFrame notice(const std::string &text) {
        EngineFrame frame;
        frame.from = "GB7DXC";
        frame.to = "N0CALL";
        frame.text = text + std::string(1, '\0');
        return frame;
    }
    // A first client, and the link asked for once its short wait is over.
    void clientWaits() {
        keeper.clientWantsLink(1);
        for (int i = 0; i < kConnectDelayTicks; ++i)
            keeper.tick();
    }
    void linkUp() {
        clientWaits();
        keeper.linkCameUp(notice(kConnected));
        journal.clear();
    }
};

BridgeState withLinkEnd(LinkEnd end) {
    BridgeState settings = KeeperRig::configured();
    settings.relink = end == LinkEnd::Relink;
    settings.closeClientsWhenLinkEnds = end == LinkEnd::Close;
    return settings;
}

TEST(LinkKeeperTest, AskingForTheLinkAndItsUpNotice) {
    KeeperRig rig;
    rig.keeper.clientWantsLink(1);
    EXPECT_TRUE(rig.keeper.linesWaitForLink()); // the client's short wait: its lines are held
    for (int i = 0; i < kConnectDelayTicks - 1; ++i)
        rig.keeper.tick();
    EXPECT_TRUE(rig.engine.requests.empty()); // nothing on the air for a connection that only looks in
    rig.keeper.tick();
    EXPECT_EQ(rig.engine.requests, std::vector<EngineRequest>{connectRequest("GB7DXC")});
    EXPECT_TRUE(rig.keeper.link().is(ClusterLink::State::Connecting));
    EXPECT_FALSE(rig.keeper.link().onAir());

    rig.keeper.linkCameUp(KeeperRig::notice(kConnected));
    const Journal expected = {"client 1: Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n",
                              "engine.connect GB7DXC", "clients: " + kConnected, "link came up"};
    EXPECT_EQ(rig.journal, expected);
    EXPECT_TRUE(rig.keeper.link().onAir());
    EXPECT_FALSE(rig.keeper.linesWaitForLink());
}

// The cluster ends the link, or the engine goes away: LinkEnd applies to the first only.
TEST(LinkKeeperTest, WhatTheLinksEndBringsWithEachLinkEnd) {
    const std::string reconnecting = "clients: Reconnecting to GB7DXC in 10 s...\r\n";
    const std::string engineAway =
        "clients: *** The packet engine is not reachable yet: connecting to GB7DXC once it is back\r\n";
    struct Row {
        const char *what;
        LinkEnd end;
        bool engineLost;
        Journal expected;
        bool relinking;
    };
    const Journal down = {"link went down", "clients: " + kDisconnected};
    const auto plus = [&down](Journal more) {
        Journal all = down;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const Row rows[] = {
        {"keep", LinkEnd::Keep, false, plus({"link failed"}), false},
        {"close", LinkEnd::Close, false, plus({"link failed", "close clients"}), false},
        {"relink", LinkEnd::Relink, false, plus({"link failed", reconnecting}), true},
        {"keep, engine lost", LinkEnd::Keep, true, plus({engineAway}), false},
        {"close, engine lost", LinkEnd::Close, true, plus({engineAway}), false},
        {"relink, engine lost", LinkEnd::Relink, true, plus({engineAway}), false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        KeeperRig rig(withLinkEnd(row.end));
        rig.linkUp();
        rig.engine.engineConnected = !row.engineLost;
        rig.keeper.linkWentDown(KeeperRig::notice(kDisconnected));
        EXPECT_EQ(rig.journal, row.expected);
        EXPECT_FALSE(rig.keeper.link().onAir());
        EXPECT_EQ(rig.keeper.relinking(), row.relinking);
        // Lines typed while the engine is away wait for it; once it is back, the link is asked for again.
        EXPECT_EQ(rig.keeper.linesWaitForLink(), row.engineLost);
        rig.engine.requests.clear();
        rig.engine.engineConnected = true;
        rig.keeper.engineBack();
        EXPECT_EQ(rig.engine.requests.size(), row.engineLost ? 1u : 0u);
    }
}

TEST(LinkKeeperTest, NothingGoesOnTheAirUnderAPlaceholder) {
    struct Row {
        std::string myCallsign, cluster, problem;
    };
    const Row rows[] = {
        {"MYCALL", "GB7DXC", "your callsign is not set"},
        {"n0call", "cluster", "the DX cluster station is not set"},
        {"", "CLUSTER", "your callsign and the DX cluster station are not set"},
        {"N0CALL", "GB7DXC", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.myCallsign + "/" + row.cluster);
        BridgeState settings = KeeperRig::configured();
        settings.myCallsign = row.myCallsign;
        settings.cluster = row.cluster;
        KeeperRig rig(settings);
        rig.clientWaits();
        rig.keeper.linkWantedNow();
        if (row.problem.empty()) {
            EXPECT_EQ(rig.engine.requests.size(), 1u);
            continue;
        }
        EXPECT_TRUE(rig.engine.requests.empty());
        EXPECT_EQ(rig.journal,
                  Journal{"client 1: *** Not connecting: " + row.problem + "; set them in the test\r\n"});
        EXPECT_FALSE(rig.keeper.linesWaitForLink());
    }
}

// On the air (what the window shows as connected) from the up notice the clients heard to the down notice;
// an attempt withdrawn, or a link that comes up with nobody to hear it, never is.
TEST(LinkKeeperTest, OnTheAirFromTheNoticeTheClientsHeardToTheDownNotice) {
    struct Row {
        const char *what;
        bool clientsAtUp;
        bool leaveBeforeUp;
        std::vector<EngineRequest> afterUp; // what the up notice asks of the engine
        bool onAirAfterUp;
    };
    const Row rows[] = {
        {"heard", true, false, {}, true},
        {"nobody to hear it", false, false, {disconnectRequest("GB7DXC")}, false},
        {"withdrawn, up all the same", false, true, {disconnectRequest("GB7DXC")}, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        KeeperRig rig;
        rig.clientWaits();
        if (row.leaveBeforeUp) {
            rig.listener.clients = false;
            rig.keeper.sessionEnded(true);
            EXPECT_TRUE(rig.keeper.link().is(ClusterLink::State::Closing));
            EXPECT_FALSE(rig.keeper.link().onAir());
        }
        rig.listener.clients = row.clientsAtUp;
        rig.engine.requests.clear();
        rig.keeper.linkCameUp(KeeperRig::notice(kConnected));
        EXPECT_EQ(rig.engine.requests, row.afterUp);
        EXPECT_EQ(rig.keeper.link().onAir(), row.onAirAfterUp);
        if (!row.onAirAfterUp)
            continue;
        // The last client leaves: the disconnect goes out, and the link is on the air until its notice.
        rig.listener.clients = false;
        rig.keeper.sessionEnded(true);
        EXPECT_TRUE(rig.keeper.link().is(ClusterLink::State::Closing));
        EXPECT_TRUE(rig.keeper.link().onAir());
        rig.keeper.linkWentDown(KeeperRig::notice(kDisconnected));
        EXPECT_FALSE(rig.keeper.link().onAir());
    }
}

} // namespace
} // namespace corvantle::test
