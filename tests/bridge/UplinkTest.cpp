// Uplink alone, over a real ClientHub with a fake socket and a fake engine: where a typed line goes for each
// state of the link it is told of, how much it holds while the link is awaited, and when an unfinished line
// is let out.
#include "Uplink.h"
#include "RecordingFakes.h"
#include "Ticks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantle::test {
namespace {

const Uplink::Link kUp{true, false, "GB7DXC", 1};
const Uplink::Link kAwaited{false, true, "", 0};
const Uplink::Link kNone{false, false, "", 0};

struct UplinkRig {
    Journal journal;
    FakeSocket socket{journal};
    FakeEngine engine{journal};
    RecordingLog log;
    ClientHub clients{socket, log};
    Traffic traffic{log};
    Uplink uplink{clients, engine, traffic};

    explicit UplinkRig(BridgeState settings = {}) {
        settings.cluster = "GB7DXC";
        uplink.useSettings(settings);
        clients.setMaxClients(2);
        clients.accept(1);
    }
    void types(const std::string &bytes, const Uplink::Link &link, ClientId id = 1) {
        socket.client(id).incoming += bytes;
        uplink.onClientData(id, link);
    }
};

TEST(UplinkTest, ATypedLineGoesWhereTheLinkStands) {
    struct Row {
        const char *what;
        Uplink::Link link;
        bool monitor;
        bool compatibility;
        bool engineThere;
        std::vector<std::string> toEngine;
        std::string toClient;
    };
    const Row rows[] = {
        {"up", kUp, false, false, true, {"sh/dx \r"}, ""},
        {"up, compatibility", kUp, false, true, true, {"sh/dx\r"}, ""},
        {"up, engine gone",
         kUp,
         false,
         false,
         false,
         {},
         "*** Not sent, no link to GB7DXC: the packet engine is not connected\r\n"},
        {"awaited", kAwaited, false, false, true, {}, ""},
        {"no link", kNone, false, false, true, {}, "*** Not sent, no link to GB7DXC\r\n"},
        {"monitoring", kUp, true, false, true, {}, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        BridgeState settings;
        settings.monitorMode = row.monitor;
        settings.compatibilityMode = row.compatibility;
        UplinkRig rig(settings);
        rig.engine.engineConnected = row.engineThere;
        rig.types("sh/dx\r\n", row.link);
        EXPECT_EQ(rig.engine.dataSent(), row.toEngine);
        EXPECT_EQ(rig.socket.client(1).sent, row.toClient);
        EXPECT_EQ(rig.socket.client(1).incoming, ""); // read in every case
        EXPECT_EQ(rig.traffic.transferredBytes(), row.toEngine.empty() ? 0 : int64_t(row.toEngine[0].size()));
        EXPECT_EQ(rig.uplink.holdsLines(), row.link.awaited);
        for (const auto &request : rig.engine.requests)
            EXPECT_EQ(std::make_pair(request.station, request.radioPort),
                      std::make_pair(std::string("GB7DXC"), 1));
    }
}

// While the link is awaited, about 4 KB of lines are held and the rest stays in the client's socket, so TCP
// holds the client back; once the link is up, what was held goes first, in order, then the rest. If it
// never comes, each client hears how many of its own lines did not go.
TEST(UplinkTest, HoldsAboutFourKilobytesForTheAwaitedLink) {
    std::string lines;
    for (int i = 0; i < 100; ++i)
        lines += std::string(49, static_cast<char>('a' + i % 26)) + "\r";
    const auto typedWhileAwaited = [&lines](UplinkRig &rig) {
        rig.clients.accept(2);
        rig.types("bye\r", kAwaited, 2);
        rig.types(lines, kAwaited);
    };
    {
        UplinkRig failed;
        typedWhileAwaited(failed);
        failed.uplink.dropHeldLines();
        EXPECT_FALSE(failed.uplink.holdsLines());
        EXPECT_EQ(failed.socket.client(2).sent,
                  "*** Not sent, no link to GB7DXC: 1 line typed while connecting\r\n");
        EXPECT_NE(failed.socket.client(1).sent.find(" lines typed while connecting\r\n"), std::string::npos);
    }
    UplinkRig rig;
    typedWhileAwaited(rig);
    EXPECT_TRUE(rig.engine.dataSent().empty());
    const std::size_t unread = rig.socket.client(1).incoming.size();
    EXPECT_GT(unread, 0u);
    EXPECT_LE(lines.size() - unread, kMaxLinesWaitingForLinkBytes);

    rig.uplink.sendHeldLines(kUp);
    rig.uplink.readEveryClient(kUp);
    const std::vector<std::string> sent = rig.engine.dataSent();
    ASSERT_EQ(sent.size(), 101u);
    EXPECT_EQ(sent[0], "bye \r");
    for (std::size_t i = 0; i < 100; ++i)
        EXPECT_EQ(sent[i + 1], std::string(49, static_cast<char>('a' + i % 26)) + " \r") << i;
    EXPECT_EQ(rig.socket.client(1).incoming, "");
}

// A line without its end goes out once nothing more came for a second; text still waiting in the socket
// (the engine's queue was full) may hold its end, so the wait starts again.
TEST(UplinkTest, AnUnfinishedLineGoesOutASecondLate) {
    UplinkRig rig;
    rig.types("sh/dx", kUp);
    for (int i = 0; i < kHoldTicks - 1; ++i)
        rig.uplink.tick(kUp);
    EXPECT_TRUE(rig.engine.dataSent().empty());

    rig.engine.roomForData = false;
    rig.socket.client(1).incoming += "/10";
    rig.uplink.tick(kUp); // unread text: not overdue
    EXPECT_TRUE(rig.engine.dataSent().empty());
    rig.engine.roomForData = true;
    rig.uplink.readEveryClient(kUp);
    for (int i = 0; i < kHoldTicks; ++i)
        rig.uplink.tick(kUp);
    EXPECT_EQ(rig.engine.dataSent(), std::vector<std::string>{"sh/dx/10 \r"});
}

} // namespace
} // namespace corvantle::test
