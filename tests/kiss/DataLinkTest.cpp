// The AX.25 data link, driven by tables of steps: at a time, something received or asked for, and the frames
// it transmits and the events it reports in answer. Frames are written as
//   [SOURCE>DESTINATION:] TYPE C|R [P] [sN(S)] [rN(R)] [=text]
// where a received frame is from GB7DXC to N0CALL and a sent one to GB7DXC unless named.
#include "DataLink.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace corvantle::ax25 {
namespace {

using namespace std::chrono_literals;

const Address kUser{"N0CALL", 0};
const Address kCluster{"GB7DXC", 0};

std::string describe(const Frame &frame) {
    std::string text = frame.destination == kCluster ? "" : frame.destination.text() + ": ";
    text += typeName(frame.type);
    text += frame.command ? " C" : " R";
    if (frame.pollFinal)
        text += " P";
    if (frame.type == FrameType::I)
        text += " s" + std::to_string(frame.ns);
    if (frame.type == FrameType::I || frame.type == FrameType::RR || frame.type == FrameType::RNR ||
        frame.type == FrameType::REJ)
        text += " r" + std::to_string(frame.nr);
    if (!frame.info.empty())
        text += " =" + frame.info;
    return text;
}

std::string describe(const LinkEvent &event) {
    switch (event.kind) {
    case LinkEvent::Kind::Up:
        return "UP";
    case LinkEvent::Kind::Data:
        return "DATA " + event.data;
    case LinkEvent::Kind::Down:
        break;
    }
    switch (event.reason) {
    case DownReason::Refused:
        return "DOWN refused";
    case DownReason::RetriesExhausted:
        return "DOWN retries";
    case DownReason::ByPeer:
        return "DOWN peer";
    case DownReason::ByUs:
        return "DOWN us";
    }
    return "?";
}

FrameType typeNamed(const std::string &name) {
    for (const FrameType type :
         {FrameType::I, FrameType::RR, FrameType::RNR, FrameType::REJ, FrameType::SABM, FrameType::SABME,
          FrameType::UA, FrameType::DISC, FrameType::DM, FrameType::FRMR, FrameType::UI})
        if (name == typeName(type))
            return type;
    ADD_FAILURE() << "no frame type " << name;
    return FrameType::UI;
}

Frame parse(std::string text) {
    Frame frame;
    frame.source = kCluster;
    frame.destination = kUser;
    if (const auto colon = text.find(": "); colon != std::string::npos) {
        const std::string route = text.substr(0, colon);
        frame.source = *Address::parse(route.substr(0, route.find('>')));
        frame.destination = *Address::parse(route.substr(route.find('>') + 1));
        text = text.substr(colon + 2);
    }
    if (const auto equals = text.find(" ="); equals != std::string::npos) {
        frame.info = text.substr(equals + 2);
        text.resize(equals);
    }
    std::istringstream words(text);
    std::string word;
    words >> word;
    frame.type = typeNamed(word);
    words >> word;
    frame.command = word == "C";
    while (words >> word) {
        if (word == "P")
            frame.pollFinal = true;
        else if (word[0] == 's')
            frame.ns = static_cast<std::uint8_t>(std::stoi(word.substr(1)));
        else if (word[0] == 'r')
            frame.nr = static_cast<std::uint8_t>(std::stoi(word.substr(1)));
    }
    return frame;
}

struct Step {
    int atMs;
    std::string action; // "connect", "send TEXT", "disconnect", "tick", "rx FRAME"
    std::string expected;
};

LinkSettings fixedTimings() {
    LinkSettings settings;
    settings.adaptT1 = false;
    return settings;
}

class Script {
  public:
    explicit Script(LinkSettings settings = fixedTimings()) : link(kUser, settings) {}

    void run(const std::vector<Step> &steps) {
        for (const Step &step : steps)
            EXPECT_EQ(perform(step), step.expected) << "at " << step.atMs << " ms: " << step.action;
    }

    std::string perform(const Step &step) {
        const DataLink::TimePoint now = DataLink::TimePoint{} + std::chrono::milliseconds(step.atMs);
        if (step.action == "connect")
            link.connect(kCluster, {}, now);
        else if (step.action.starts_with("send "))
            link.send(step.action.substr(5), now);
        else if (step.action == "disconnect")
            link.disconnect(now);
        else if (step.action == "disconnect now")
            link.disconnect(now, DataLink::Drain::Now);
        else if (step.action == "tick")
            link.tick(now);
        else if (step.action.starts_with("rx "))
            link.received(parse(step.action.substr(3)), now);
        else
            ADD_FAILURE() << "no action " << step.action;
        std::string out;
        for (const Frame &frame : link.takeFrames())
            out += (out.empty() ? "" : ", ") + describe(frame);
        for (const LinkEvent &event : link.takeEvents())
            out += (out.empty() ? "" : ", ") + describe(event);
        return out;
    }

    DataLink link;
};

const std::vector<Step> kLinkUp = {
    {0, "connect", "SABM C P"},
    {100, "rx UA R P", "UP"},
};

std::vector<Step> afterLinkUp(std::vector<Step> steps) {
    steps.insert(steps.begin(), kLinkUp.begin(), kLinkUp.end());
    return steps;
}

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

TEST(DataLink, AnAcknowledgementWaitsT2ForMoreFramesOrForTextToRideOn) {
    LinkSettings settings = fixedTimings();
    settings.ackDelay = 1s;
    Script(settings).run(afterLinkUp({
        {200, "rx I C s0 r0 =a", "DATA a"},
        {700, "rx I C s1 r0 =b", "DATA b"},
        {1199, "tick", ""},
        {1200, "tick", "RR R r2"},
        {1300, "rx I C s2 r0 =c", "DATA c"},
        {1400, "send x", "I C s0 r3 =x"},
        {2300, "tick", ""},
        {2400, "rx I C P s3 r1 =d", "RR R P r4, DATA d"}, // a poll is answered at once
        {3400, "tick", ""},
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
    Script script{LinkSettings{}};
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
