// The AX.25 data link's protocol, driven by tables of steps (DataLinkScript.h) with air time left out.
#include "DataLinkScript.h"

namespace corvantle::ax25 {
namespace {

using namespace std::chrono_literals;
using namespace test;

TEST(DataLink, ARefusedConnectGoesDown) {
    Script().run({
        {0, "connect", "SABM C P"},
        {500, "rx DM R P", "DOWN refused"},
        {600, "rx UA R P", ""}, // too late: the link is down, and an answer is not answered
    });
}

TEST(DataLink, ConnectRequestsAreRetriedUntilN2) {
    LinkSettings settings = fixedTimings();
    settings.retries = 2;
    Script(settings).run({
        {0, "connect", "SABM C P"},
        {2999, "tick", ""},
        {3000, "tick", "SABM C P"},
        {6000, "tick", "SABM C P"},
        {9000, "tick", "DOWN retries"},
    });
}

TEST(DataLink, DataBothWaysThenDisconnectAfterTheQueue) {
    Script().run(afterLinkUp({
        {200, "send hello", "I C s0 r0 =hello"},
        {300, "rx I C s0 r1 =hi", "RR R r1, DATA hi"},
        {400, "send more", "I C s1 r1 =more"},
        {500, "disconnect", ""}, // "more" is not acknowledged yet
        {600, "send dropped", ""},
        {700, "rx RR R r2", "DISC C P"},
        {800, "rx UA R P", "DOWN us"},
    }));
}

TEST(DataLink, TextIsPackedIntoPaclenFramesWithinTheWindow) {
    LinkSettings settings = fixedTimings();
    settings.maxFrame = 2;
    settings.paclen = 4;
    Script script(settings);
    script.run(afterLinkUp({
        {200, "send abcdefghij", "I C s0 r0 =abcd, I C s1 r0 =efgh"},
        {210, "send kl", ""},
        {300, "rx RR R r1", "I C s2 r0 =ijkl"},
        {400, "rx RR R r3", ""},
    }));
    EXPECT_EQ(script.link.queuedBytes(), 0u);
}

TEST(DataLink, ALostFrameGoesAgainAfterReject) {
    LinkSettings settings = fixedTimings();
    settings.paclen = 1;
    Script().run(afterLinkUp({
        {200, "send abc", "I C s0 r0 =abc"},
        {210, "send d", "I C s1 r0 =d"}, // "abc" has left already: "d" goes in a frame of its own
    }));
    Script(settings).run(afterLinkUp({
        {200, "send abc", "I C s0 r0 =a, I C s1 r0 =b, I C s2 r0 =c"},
        {300, "rx REJ R r1", "I C s1 r0 =b, I C s2 r0 =c"},
        {400, "rx RR R r3", ""},
    }));
}

TEST(DataLink, ALostFrameGoesAgainAfterT1AndAPoll) {
    Script().run(afterLinkUp({
        {200, "send abcd", "I C s0 r0 =abcd"},
        {3199, "tick", ""},
        {3200, "tick", "RR C P r0"},
        {3300, "rx RR R P r0", "I C s0 r0 =abcd"},
        {3400, "rx RR R r1", ""},
        {9000, "tick", ""}, // acknowledged: no more polls
    }));
}

TEST(DataLink, ReceivedTextIsDeliveredInOrderAndOnce) {
    Script().run(afterLinkUp({
        {200, "rx I C s0 r0 =a", "RR R r1, DATA a"},
        {300, "rx I C s2 r0 =c", "REJ R r1"}, // s1 was lost
        {310, "rx I C s3 r0 =d", ""},         // already rejected: wait for the retransmission
        {400, "rx I C s1 r0 =b", "RR R r2, DATA b"},
        {410, "rx I C s2 r0 =c", "RR R r3, DATA c"},
        {420, "rx I C s3 r0 =d", "RR R r4, DATA d"},
        {430, "rx I C s3 r0 =d", "REJ R r4"}, // a duplicate
        {440, "rx I C P s4 r0 =e", "RR R P r5, DATA e"},
        {450, "rx RR C P r0", "RR R P r5"},
    }));
}

TEST(DataLink, AnAcknowledgementWaitsT2AfterTheLastFrameOrForTextToRideOn) {
    LinkSettings settings = fixedTimings();
    settings.ackDelay = 1s;
    Script(settings).run(afterLinkUp({
        {200, "rx I C s0 r0 =a", "DATA a"},
        {700, "rx I C s1 r0 =b", "DATA b"},
        {1699, "tick", ""},
        {1700, "tick", "RR R r2"}, // one for both
        {1800, "rx I C s2 r0 =c", "DATA c"},
        {1900, "send x", ""}, // the station may still be sending: x waits for its end, and carries the RR
        {2799, "tick", ""},
        {2800, "tick", "I C s0 r3 =x"},
        {2900, "rx I C P s3 r1 =d", "RR R P r4, DATA d"}, // a poll is answered at once
        {3900, "tick", ""},
    }));
}

TEST(DataLink, ABusyStationIsPolledUntilItHasRoom) {
    Script().run(afterLinkUp({
        {200, "send abcd", "I C s0 r0 =abcd"},
        {300, "rx RNR R r1", ""},
        {400, "send efgh", ""},
        {3300, "tick", "RR C P r0"},
        {3400, "rx RNR R P r1", ""},
        {6400, "tick", "RR C P r0"},
        {6500, "rx RR R P r1", "I C s1 r0 =efgh"},
    }));
}

TEST(DataLink, UnansweredPollsEndTheLinkAfterN2) {
    LinkSettings settings = fixedTimings();
    settings.retries = 3;
    Script(settings).run(afterLinkUp({
        {200, "send x", "I C s0 r0 =x"},
        {3200, "tick", "RR C P r0"},
        {6200, "tick", "RR C P r0"},
        {9200, "tick", "RR C P r0"},
        {12200, "tick", "DM R, DOWN retries"},
    }));
}

// Answers that acknowledge nothing are no progress: the same window sent again and again ends in N2.
TEST(DataLink, PollsAnsweredWithoutProgressEndTheLinkAfterN2) {
    LinkSettings settings = fixedTimings();
    settings.retries = 3;
    Script(settings).run(afterLinkUp({
        {200, "send x", "I C s0 r0 =x"},
        {3200, "tick", "RR C P r0"},
        {3300, "rx RR R P r0", "I C s0 r0 =x"},
        {6300, "tick", "RR C P r0"},
        {6400, "rx REJ R P r0", "I C s0 r0 =x"},
        {9400, "tick", "RR C P r0"},
        {9500, "rx RR R P r0", "I C s0 r0 =x"},
        {12500, "tick", "DM R, DOWN retries"},
    }));
    // Progress counts the retries afresh.
    Script(settings).run(afterLinkUp({
        {200, "send x", "I C s0 r0 =x"},
        {210, "send y", "I C s1 r0 =y"},
        {3200, "tick", "RR C P r0"},
        {3300, "rx RR R P r0", "I C s0 r0 =x, I C s1 r0 =y"},
        {6300, "tick", "RR C P r0"},
        {6400, "rx RR R P r1", "I C s1 r0 =y"},
        {9400, "tick", "RR C P r0"},
        {9500, "rx RR R P r1", "I C s1 r0 =y"},
        {12500, "tick", "RR C P r0"},
        {12600, "rx RR R P r2", ""},
    }));
}

// An N(R) that acknowledges frames never sent: the link starts afresh, the user's session and text stay.
TEST(DataLink, AnAcknowledgementOutsideTheWindowStartsTheLinkAfresh) {
    for (const char *bad : {"RR R r3", "RR R P r3", "RNR R r2", "REJ R r5", "RR C P r3"}) {
        SCOPED_TRACE(bad);
        Script().run(afterLinkUp({
            {200, "send abc", "I C s0 r0 =abc"},
            {300, std::string("rx ") + bad, "SABM C P"},
            {400, "rx UA R P", "I C s0 r0 =abc"}, // no second UP
            {500, "rx RR R r1", ""},
        }));
    }
    Script().run(afterLinkUp({
        {200, "rx I C s0 r0 =a", "RR R r1, DATA a"},
        {300, "rx I C s1 r4 =b", "SABM C P"}, // its text is not taken
        {400, "rx UA R P", ""},
        {500, "rx I C s0 r0 =b", "RR R r1, DATA b"},
    }));
    Script().run(afterLinkUp({
        {200, "send abc", "I C s0 r0 =abc"},
        {300, "rx RR R r7", "SABM C P"},
        {400, "rx DM R P", "DOWN peer"}, // the station will not start afresh: now the user hears
    }));
}

TEST(DataLink, AQuietLinkIsPolledAfterT3) {
    LinkSettings settings = fixedTimings();
    settings.keepalive = 10s;
    Script(settings).run(afterLinkUp({
        {10099, "tick", ""},
        {10100, "tick", "RR C P r0"},
        {10200, "rx RR R P r0", ""},
        {20200, "tick", "RR C P r0"},
    }));
}

TEST(DataLink, TheStationEndsTheLink) {
    Script().run(afterLinkUp({
        {200, "send queued", "I C s0 r0 =queued"},
        {300, "rx DISC C P", "UA R P, DOWN peer"},
        {400, "tick", ""},
    }));
    Script().run(afterLinkUp({{200, "rx DM R", "DOWN peer"}}));
}

TEST(DataLink, ADisconnectIsRetriedAndAPendingConnectWithdrawn) {
    LinkSettings settings = fixedTimings();
    settings.retries = 1;
    Script(settings).run(afterLinkUp({
        {200, "disconnect", "DISC C P"},
        {3200, "tick", "DISC C P"},
        {6200, "tick", "DOWN us"},
    }));
    Script().run({
        {0, "connect", "SABM C P"},
        {100, "send waits", ""},
        {200, "disconnect", "DISC C P"},
        {300, "rx UA R P", "DOWN us"},
    });
}

TEST(DataLink, ADisconnectWaitsForTheQueueOnlySoLong) {
    LinkSettings settings = fixedTimings();
    settings.drainLimit = 5s;
    Script(settings).run(afterLinkUp({
        {200, "send x", "I C s0 r0 =x"},
        {300, "disconnect", ""},
        {3200, "tick", "RR C P r0"},
        {3300, "rx RNR R P r0", ""}, // busy: "x" stays unacknowledged
        {5299, "tick", ""},
        {5300, "tick", "DISC C P"},
        {5400, "rx UA R P", "DOWN us"},
    }));
    Script().run(afterLinkUp({
        {200, "send x", "I C s0 r0 =x"},
        {300, "disconnect now", "DISC C P"},
        {400, "rx UA R P", "DOWN us"},
    }));
}

TEST(DataLink, AFrameRejectStartsTheLinkAfreshKeepingItsText) {
    Script().run(afterLinkUp({
        {200, "send abc", "I C s0 r0 =abc"},
        {300, "rx FRMR R P =xyz", "SABM C P"},
        {400, "rx UA R P", "I C s0 r0 =abc"}, // no second UP
        {500, "rx SABM C P", "UA R P, I C s0 r0 =abc"},
        {600, "rx RR R r1", ""},
    }));
}

TEST(DataLink, OtherStationsGetNoLinkAndOthersFramesAreIgnored) {
    Script().run({
        {0, "rx K1ABC>N0CALL: SABM C P", "K1ABC: DM R P"},
        {0, "connect", "SABM C P"},
        {50, "rx K1ABC>N0CALL: SABM C P", "K1ABC: DM R P"},
        {100, "rx UA R P", "UP"},
        {200, "rx K1ABC>N0CALL: SABM C P", "K1ABC: DM R P"},
        {210, "rx K1ABC>N0CALL: I C s0 r0 =spoof", ""},
        {220, "rx GB7DXC>W1AW: I C s0 r0 =not for us", ""},
        {230, "rx K1ABC>N0CALL: DISC C P", "K1ABC: DM R P"},
        {240, "rx I C s0 r0 =ours", "RR R r1, DATA ours"},
    });
}

TEST(DataLink, ConnectsThroughDigipeatersAndHearsOnlyRepeatedFrames) {
    DataLink link(kUser, fixedTimings());
    const Address relay{"RELAY1", 0};
    ASSERT_TRUE(link.connect(kCluster, {relay}, DataLink::TimePoint{}));
    const std::vector<Frame> sabm = link.takeFrames();
    ASSERT_EQ(sabm.size(), 1u);
    EXPECT_EQ(sabm[0].via, (std::vector<Hop>{{relay, false}}));
    EXPECT_EQ(link.nextDeadline(), DataLink::TimePoint{} + 9s); // FRACK times 2m + 1

    Frame ua = parse("UA R P");
    ua.via = {{relay, false}};
    link.received(ua, DataLink::TimePoint{} + 1s); // heard before the digipeater sent it on
    EXPECT_TRUE(link.takeEvents().empty());
    ua.via[0].repeated = true;
    link.received(ua, DataLink::TimePoint{} + 2s);
    EXPECT_EQ(link.takeEvents(), (std::vector<LinkEvent>{{LinkEvent::Kind::Up, DownReason::ByUs, {}}}));
}

TEST(DataLink, T1FollowsTheMeasuredRoundTrip) {
    LinkSettings settings;
    settings.bitRate = 0; // round trips as they are given, with no air time to leave out
    Script script{settings};
    script.run({
        {0, "connect", "SABM C P"},
        {8000, "rx UA R P", "UP"}, // smoothed from FRACK / 2 = 1.5 s towards 8 s: 2.312 s, T1 twice that
    });
    EXPECT_EQ(script.link.t1(), 4624ms);
    script.run({{8000, "send x", "I C s0 r0 =x"}, {8100, "rx RR R r1", ""}}); // a short one pulls it down
    EXPECT_EQ(script.link.t1(), 4070ms);
    EXPECT_EQ(script.link.nextDeadline(), DataLink::TimePoint{} + 8100ms + 180s); // T3 now runs
}

} // namespace
} // namespace corvantle::ax25
