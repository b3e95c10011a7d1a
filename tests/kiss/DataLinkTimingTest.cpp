// The AX.25 data link's timing on a 1200 bit/s half-duplex channel, as the link estimates it: T1 counts from
// when our frames can have left and stands still while the channel is busy, adapts to the round trips it
// measures and grows with each expiry; answers are matched to the polls they answer; acknowledgements wait
// for the end of the station's transmission. The default settings throughout: 1200 bit/s, 300 ms of key-up.
#include "DataLinkScript.h"

#include <string>
#include <vector>

namespace corvantle::ax25 {
namespace {

using namespace test;

DataLink::TimePoint at(int ms) {
    return DataLink::TimePoint{} + std::chrono::milliseconds(ms);
}

// A SABM (19 bytes on the air) at 1200 bit/s after 300 ms of key-up has left by 430 ms: T1's 3 s count from
// then, and not while others' frames are heard, and 1.3 s more allow for an answer still on the air.
TEST(DataLinkTiming, OneSabmPerConnectWhileTheChannelIsSlowOrBusy) {
    Script(LinkSettings{})
        .run({
            {0, "connect", "SABM C P"},
            {3100, "tick", ""},
            {3300, "rx UA R P", "UP"},
        });
    const std::string otherStations = "rx W1AW>K1ABC: I C s0 r0 =" + std::string(200, 'x'); // 1.8 s busy
    Script(LinkSettings{})
        .run({
            {0, "connect", "SABM C P"},
            {3000, otherStations, ""},
            {5100, "tick", ""},
            {5300, "rx UA R P", "UP"},
        });
    // Without an answer the SABM goes again, once T1 has run.
    Script(LinkSettings{})
        .run({
            {0, "connect", "SABM C P"},
            {4800, "tick", "SABM C P"},
        });
}

// Four frames of 128 bytes take about 4.3 s to leave: T1 waits for them to have left before it counts.
TEST(DataLinkTiming, T1StartsWhenTheWindowCanHaveLeft) {
    Script script(LinkSettings{});
    script.run(kLinkUp);
    script.link.send(std::string(512, 'a'), at(1000));
    EXPECT_EQ(script.link.takeFrames().size(), 4u);
    script.run({
        {7000, "tick", ""},
        {7500, "rx RR R r4", ""},
        {60000, "tick", ""},
    });
}

// A station that takes longer to answer than T1 gets polled; each expiry lengthens T1, and the answer to a
// poll after retries still measures the round trip, so the next windows go without polls.
TEST(DataLinkTiming, T1GrowsOnEachExpiryAndLearnsASlowRoundTrip) {
    LinkSettings settings;
    settings.retries = 20;
    DataLink link(kUser, settings);
    link.connect(kCluster, {}, at(0));
    link.received(parse("UA R P"), at(1000));
    link.takeFrames();

    std::vector<int> pollTimes;
    int x = 1000;
    link.send("x", at(x));
    for (link.takeFrames(); pollTimes.size() < 5; x += 10) {
        link.tick(at(x));
        for (const Frame &frame : link.takeFrames())
            if (frame.type == FrameType::RR && frame.pollFinal)
                pollTimes.push_back(x);
    }
    for (std::size_t i = 2; i < pollTimes.size(); ++i)
        EXPECT_GT(pollTimes[i] - pollTimes[i - 1], pollTimes[i - 1] - pollTimes[i - 2]) << "poll " << i;

    // The station answers every frame 4.5 s after it was handed over: about 3.6 s of quiet channel.
    struct Answer {
        int atMs;
        Frame frame;
    };
    std::vector<Answer> answers;
    std::vector<int> pollsPerWindow;
    link.received(parse("RR R P r1"), at(x));
    for (int window = 0; window < 6; ++window) {
        int polls = 0;
        std::uint8_t next = 1;
        link.send("text of window " + std::to_string(window), at(x));
        for (bool acknowledged = false; !acknowledged; x += 10) {
            link.tick(at(x));
            for (const Frame &frame : link.takeFrames()) {
                if (frame.type == FrameType::I)
                    next = static_cast<std::uint8_t>((frame.ns + 1) % 8);
                polls += frame.pollFinal ? 1 : 0;
                Frame answer = parse(frame.pollFinal ? "RR R P" : "RR R");
                answer.nr = next;
                answers.push_back({x + 4500, answer});
            }
            for (auto answer = answers.begin(); answer != answers.end();) {
                if (answer->atMs > x) {
                    ++answer;
                    continue;
                }
                link.received(answer->frame, at(x));
                acknowledged = acknowledged || (answer->frame.nr == next && link.queuedBytes() == 0);
                answer = answers.erase(answer);
            }
            ASSERT_LT(x, 1000000) << "window " << window << " is never acknowledged";
        }
        pollsPerWindow.push_back(polls);
    }
    EXPECT_EQ(pollsPerWindow.back(), 0) << "T1 is " << link.t1().count() << " ms";
    EXPECT_GT(link.t1(), settings.frack);
}

// Two polls out, and the answer to the first comes just after the second was handed over: it acknowledges,
// but the window goes again only on the answer to the newest poll.
TEST(DataLinkTiming, AnAnswerIsMatchedToThePollItAnswers) {
    LinkSettings settings;
    settings.adaptT1 = false; // T1 is FRACK: polls after 3.0 s of quiet and 1.3 s for an answer on the air
    Script(settings).run(afterLinkUp({
        {1000, "send a", "I C s0 r0 =a"},
        {5800, "tick", "RR C P r0"},  // first poll, left by 6.23 s
        {10600, "tick", "RR C P r0"}, // second poll, leaves at 11.03 s at the earliest
        {10800, "rx RR R P r0", ""},  // the answer to the first: nothing goes again yet
        {12000, "rx RR R P r0", "I C s0 r0 =a"},
        {12100, "rx RR R r1", ""},
    }));
    // An older answer that acknowledges everything needs no wait for the newest.
    Script(settings).run(afterLinkUp({
        {1000, "send a", "I C s0 r0 =a"},
        {5800, "tick", "RR C P r0"},
        {10600, "tick", "RR C P r0"},
        {10800, "rx RR R P r1", ""},
        {10900, "send b", "I C s1 r0 =b"},
        {12000, "rx RR R P r1", ""},
        {12100, "rx RR R r2", ""},
    }));
    // Taken for an older answer, and then T1 ran out: the next answer is believed whenever it comes.
    Script(settings).run(afterLinkUp({
        {1000, "send a", "I C s0 r0 =a"},
        {5800, "tick", "RR C P r0"},
        {10600, "tick", "RR C P r0"},
        {10800, "rx RR R P r0", ""},
        {15800, "tick", "RR C P r0"},
        {15900, "rx RR R P r0", "I C s0 r0 =a"},
    }));
}

// The station's frames in one transmission get one RR, sent once the next frame would have ended; text of
// ours waits as long, as it could not leave sooner, and carries the acknowledgement instead.
TEST(DataLinkTiming, OneAcknowledgementForTheStationsTransmission) {
    const std::string line = std::string(60, 's'); // 80 bytes on the air: 0.55 s
    Script(LinkSettings{})
        .run(afterLinkUp({
            {1000, "rx I C s0 r0 =" + line, "DATA " + line},
            {1550, "rx I C s1 r0 =" + line, "DATA " + line},
            {2100, "rx I C s2 r0 =" + line, "DATA " + line},
            {3100, "tick", ""},
            {3200, "tick", "RR R r3"},
            {9000, "tick", ""},
        }));
    Script(LinkSettings{})
        .run(afterLinkUp({
            {1000, "rx I C s0 r0 =" + line, "DATA " + line},
            {1300, "send x", ""},
            {2100, "tick", "I C s0 r1 =x"},
            {3500, "rx RR R r1", ""},
            {9000, "tick", ""},
        }));
}

} // namespace
} // namespace corvantle::ax25
