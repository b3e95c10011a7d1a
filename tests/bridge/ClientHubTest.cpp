// ClientHub alone, over a fake socket: a client that cannot be written to, or stops reading, is ended alone
// and only marked until the coordinator removes it; a connection beyond the places is told so; listening
// that is lost is taken up again with one warning per reason.
#include "ClientHub.h"
#include "RecordingFakes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantle::test {
namespace {

struct HubRig {
    Journal journal;
    FakeSocket socket{journal};
    RecordingLog log;
    ClientHub clients{socket, log};

    HubRig() {
        clients.setMaxClients(3);
        for (const ClientId id : {1, 2, 3})
            clients.accept(id);
    }
};

TEST(ClientHubTest, AClientThatCannotTakeMoreIsEndedAloneAndRemovedLater) {
    struct Row {
        const char *what;
        std::size_t unsent; // what client 2 has not taken yet
        bool failSends;
        std::string warning;
    };
    const Row rows[] = {
        {"reading", 0, false, ""},
        {"just under the bound", kMaxUnsentToClientBytes - 6, false, ""},
        {"at the bound", kMaxUnsentToClientBytes - 5, false,
         "warning: ending the telnet session: the client stopped reading: more than 1024 KB are waiting for "
         "it"},
        {"send fails", 0, true, "warning: ending the telnet session: sending to the client failed"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        HubRig rig;
        rig.socket.client(2).unsent = row.unsent;
        rig.socket.client(2).failSends = row.failSends;
        EXPECT_TRUE(rig.clients.sendToAll("spot\r"));
        const bool ended = !row.warning.empty();
        EXPECT_EQ(rig.log.lines, ended ? std::vector<std::string>{row.warning} : std::vector<std::string>{});
        EXPECT_EQ(rig.clients.has(2), !ended);
        EXPECT_EQ(rig.clients.liveCount(), ended ? 2u : 3u);
        EXPECT_EQ(rig.clients.ids(), (ended ? std::vector<ClientId>{1, 3} : std::vector<ClientId>{1, 2, 3}));
        EXPECT_EQ(rig.clients.everyId(), (std::vector<ClientId>{1, 2, 3})); // marked, not removed
        EXPECT_TRUE(rig.socket.connected(2));
        EXPECT_EQ(rig.socket.client(1).sent, "spot\r\n");
        EXPECT_EQ(rig.socket.client(3).sent, "spot\r\n");
        EXPECT_EQ(rig.clients.nextEnding(), ended ? std::optional<ClientId>(2) : std::nullopt);
        EXPECT_FALSE(rig.clients.send(2, "more\r") && ended);
        if (!ended)
            continue;
        rig.clients.remove(2);
        EXPECT_FALSE(rig.socket.connected(2));
        EXPECT_EQ(rig.clients.nextEnding(), std::nullopt);
    }
}

TEST(ClientHubTest, AConnectionBeyondThePlacesIsToldAndClosed) {
    for (const int places : {1, 3}) {
        Journal journal;
        FakeSocket socket{journal};
        RecordingLog log;
        ClientHub clients{socket, log};
        clients.setMaxClients(places);
        for (ClientId id = 1; id <= places; ++id)
            clients.accept(id);
        EXPECT_TRUE(clients.full());
        clients.turnAway(9);
        EXPECT_EQ(socket.client(9).sent, places == 1
                                             ? "*** All 1 place is taken here; try again later\r\n"
                                             : "*** All 3 places are taken here; try again later\r\n");
        EXPECT_FALSE(socket.connected(9));
        EXPECT_EQ(clients.liveCount(), static_cast<std::size_t>(places));
    }
}

TEST(ClientHubTest, ListeningLostIsTakenUpAgainWithOneWarningPerReason) {
    HubRig rig;
    std::string error;
    rig.clients.updateListening(); // not before start-up has listened
    EXPECT_FALSE(rig.socket.listening);
    ASSERT_TRUE(rig.clients.startListening(error));

    rig.socket.listening = false;
    rig.socket.listenError = "address in use";
    for (int i = 0; i < 3; ++i)
        rig.clients.updateListening();
    rig.socket.listenError = "permission denied";
    rig.clients.updateListening();
    rig.socket.listenError.clear();
    rig.clients.updateListening();
    EXPECT_TRUE(rig.socket.listening);
    const std::vector<std::string> expected = {
        "warning: cannot listen on local TCP port 4444: address in use; trying again",
        "warning: cannot listen on local TCP port 4444: permission denied; trying again"};
    EXPECT_EQ(rig.log.lines, expected);

    rig.clients.stop(); // shutdown: nothing reopened
    rig.socket.listening = false;
    rig.clients.updateListening();
    EXPECT_FALSE(rig.socket.listening);
}

} // namespace
} // namespace corvantle::test
