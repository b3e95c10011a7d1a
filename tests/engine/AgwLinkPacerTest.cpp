// AgwLinkPacer on a clock the test turns by hand: no socket, no timer. The host records every frame the pacer
// writes; each case is a table of steps and the frames expected after each.
#include "AgwLinkPacer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace corvantle {
namespace {

using namespace std::chrono_literals;

class TableHost final : public AgwPacerHost {
  public:
    bool sendToEngine(const agw::Frame &frame) override {
        if (!accepting)
            return false;
        sent.push_back(frame);
        return true;
    }
    TimePoint now() const override { return clock; }
    void startTicks() override { ticks = true; }
    void stopTicks() override { ticks = false; }
    bool ticking() const override { return ticks; }
    void queueShrank() override { ++shrank; }

    // The frames written since the last call, as "kind:callTo[:data size]".
    std::vector<std::string> take() {
        std::vector<std::string> shown;
        for (const agw::Frame &frame : sent)
            shown.push_back(std::string(1, frame.kind) + ":" + frame.callTo +
                            (frame.kind == 'D' ? ":" + std::to_string(frame.data.size()) : ""));
        sent.clear();
        return shown;
    }

    TimePoint clock{};
    bool ticks = false;
    bool accepting = true;
    int shrank = 0;
    std::vector<agw::Frame> sent;
};

struct Step {
    const char *what;
    std::function<void(AgwLinkPacer &, TableHost &)> action;
    std::vector<std::string> frames; // written by this step, in order
    bool ticking;                    // the pacer wants ticks afterwards
};

struct Case {
    const char *name;
    std::vector<Step> steps;
};

constexpr const char *kLink = "GB7DXC";

AgwPacing smallWindow() {
    return {2, 1000ms, 30000ms};
}

std::function<void(AgwLinkPacer &, TableHost &)> queueLines(int count, std::size_t size) {
    return [=](AgwLinkPacer &pacer, TableHost &) {
        for (int i = 0; i < count; ++i)
            pacer.queue(kLink, std::string(size, 'x'), 0);
        pacer.pump(kLink);
    };
}

std::function<void(AgwLinkPacer &, TableHost &)> answer(std::uint32_t outstanding) {
    return [=](AgwLinkPacer &pacer, TableHost &) { pacer.outstandingAnswered(kLink, outstanding); };
}

std::function<void(AgwLinkPacer &, TableHost &)> tickAfter(std::chrono::milliseconds passed) {
    return [=](AgwLinkPacer &pacer, TableHost &host) {
        host.clock += passed;
        pacer.tick();
    };
}

const std::vector<Case> kCases = {
    {"lines of a burst share frames; a long line goes in full frames of its own",
     {{"three short lines and one of 600 bytes",
       [](AgwLinkPacer &pacer, TableHost &) {
           for (int i = 0; i < 3; ++i)
               pacer.queue(kLink, std::string(50, 'x'), 0);
           pacer.queue(kLink, std::string(600, 'y'), 0);
           pacer.queue(kLink, std::string(10, 'z'), 0);
       },
       {},
       false},
      {"the pump with a window of two",
       [](AgwLinkPacer &pacer, TableHost &) { pacer.pump(kLink); },
       {"D:GB7DXC:150", "D:GB7DXC:256", "Y:GB7DXC"},
       true},
      {"the engine still holds one", answer(1), {"D:GB7DXC:256", "Y:GB7DXC"}, true},
      {"room for the rest, the short line in the long line's last frame", answer(1), {"D:GB7DXC:98"}, true}}},
    {"a full window waits for the answer; the next tick asks again",
     {{"five frames' worth", queueLines(5, 256), {"D:GB7DXC:256", "D:GB7DXC:256", "Y:GB7DXC"}, true},
      {"a tick while the question is open", tickAfter(250ms), {}, true},
      {"both still held", answer(2), {}, true},
      {"the next tick asks again", tickAfter(250ms), {"Y:GB7DXC"}, true},
      {"both gone: two more, and a question",
       answer(0),
       {"D:GB7DXC:256", "D:GB7DXC:256", "Y:GB7DXC"},
       true}}},
    {"an engine that does not answer gets the rest unpaced; a late answer brings pacing back",
     {{"four frames' worth", queueLines(4, 256), {"D:GB7DXC:256", "D:GB7DXC:256", "Y:GB7DXC"}, true},
      {"not yet past the wait", tickAfter(999ms), {}, true},
      {"past the wait", tickAfter(1ms), {"D:GB7DXC:256", "D:GB7DXC:256"}, true},
      {"the late answer", answer(4), {}, true},
      {"more data is paced again", queueLines(1, 256), {}, true}}},
    {"a disconnect waits for the data to leave, then the 'd' follows the last answer",
     {{"three frames' worth", queueLines(3, 256), {"D:GB7DXC:256", "D:GB7DXC:256", "Y:GB7DXC"}, true},
      {"disconnect", [](AgwLinkPacer &pacer, TableHost &) { pacer.disconnect(kLink, 0); }, {}, true},
      {"room for the last", answer(1), {"D:GB7DXC:256"}, true},
      {"a tick asks what is left", tickAfter(250ms), {"Y:GB7DXC"}, true},
      {"all gone", answer(0), {"d:GB7DXC"}, true},
      {"nothing left to watch", tickAfter(250ms), {}, false}}},
    {"a waiting disconnect goes at its deadline with the rest dropped",
     {{"three frames' worth", queueLines(3, 256), {"D:GB7DXC:256", "D:GB7DXC:256", "Y:GB7DXC"}, true},
      {"disconnect", [](AgwLinkPacer &pacer, TableHost &) { pacer.disconnect(kLink, 0); }, {}, true},
      {"the engine keeps holding both", answer(2), {}, true},
      {"the deadline", tickAfter(30000ms), {"d:GB7DXC"}, true}}},
    {"a disconnect with nothing queued goes at once, also for a link not held",
     {{"disconnect an unknown link",
       [](AgwLinkPacer &pacer, TableHost &) { pacer.disconnect("K1ABC", 1); },
       {"d:K1ABC"},
       false}}},
    {"at shutdown the data left goes unpaced and each link gets its 'd'",
     {{"three frames' worth", queueLines(3, 256), {"D:GB7DXC:256", "D:GB7DXC:256", "Y:GB7DXC"}, true},
      {"end the links",
       [](AgwLinkPacer &pacer, TableHost &) { pacer.endLinks(); },
       {"D:GB7DXC:256", "d:GB7DXC"},
       true}}},
    {"lines queued one by one while the window is full wait together, and leave in one frame",
     {{"a full window", queueLines(2, 256), {"D:GB7DXC:256", "D:GB7DXC:256"}, false},
      {"ten short lines, each pumped on its own",
       [](AgwLinkPacer &pacer, TableHost &) {
           for (int i = 0; i < 10; ++i) {
               pacer.queue(kLink, std::string(12, 'x'), 0);
               pacer.pump(kLink);
           }
       },
       {},
       true},
      {"the tick asks", tickAfter(250ms), {"Y:GB7DXC"}, true},
      {"both gone: the ten in one frame", answer(0), {"D:GB7DXC:120"}, true}}},
    {"a write the connection refuses stops the pump with the data still queued",
     {{"refused",
       [](AgwLinkPacer &pacer, TableHost &host) {
           host.accepting = false;
           pacer.queue(kLink, "hello\r", 0);
           pacer.pump(kLink);
           EXPECT_EQ(pacer.queuedBytes(), 6u);
       },
       {},
       false}}},
};

TEST(AgwLinkPacerTest, StepsOfEachCase) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        TableHost host;
        AgwLinkPacer pacer(host, smallWindow());
        for (const Step &step : c.steps) {
            SCOPED_TRACE(step.what);
            step.action(pacer, host);
            EXPECT_EQ(host.take(), step.frames);
            EXPECT_EQ(host.ticking(), step.ticking);
        }
    }
}

// A line of `bytes` bytes, CR included, made of one letter so that a misplaced piece shows.
std::string lineOf(std::size_t bytes, std::size_t index) {
    return std::string(bytes - 1, static_cast<char>('a' + index % 26)) + "\r";
}

// The lines of a burst (queued before one pump) share frames of up to 256 bytes; a line is never cut to fill
// a frame, and one longer than a frame goes in full frames.
TEST(AgwLinkPacerTest, LinesOfABurstShareFramesWithoutBeingCut) {
    struct Row {
        const char *name;
        std::vector<std::size_t> lines;  // their sizes, in the order queued
        std::vector<std::size_t> frames; // the sizes of the frames they go in
    };
    const Row rows[] = {
        {"ten short lines", std::vector<std::size_t>(10, 12), {120}},
        {"a line longer than a frame", {300}, {256, 44}},
        {"a line that does not fit starts a frame", {200, 100}, {200, 100}},
        {"three that fit two by two", {100, 100, 100}, {200, 100}},
        {"a full frame, then one byte", {256, 1}, {256, 1}},
        {"a long line starts a frame of its own", {100, 300, 20}, {100, 256, 64}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TableHost host;
        AgwLinkPacer pacer(host, AgwPacing{}); // a window wide enough for every row
        std::string text;
        for (std::size_t i = 0; i < row.lines.size(); ++i) {
            const std::string line = lineOf(row.lines[i], i);
            pacer.queue(kLink, line, 0);
            text += line;
        }
        pacer.pump(kLink);
        std::vector<std::size_t> sizes;
        std::string joined;
        for (const agw::Frame &frame : host.sent) {
            if (frame.kind != 'D')
                continue;
            sizes.push_back(frame.data.size());
            joined += frame.data;
        }
        EXPECT_EQ(sizes, row.frames);
        EXPECT_TRUE(joined == text) << "lost, doubled or out of order";
    }
}

TEST(AgwLinkPacerTest, ShutdownWaitsOnlyForLinksThatAreStillPaced) {
    TableHost host;
    AgwLinkPacer pacer(host, smallWindow());
    EXPECT_FALSE(pacer.holdDisconnectsUntil(host.clock + 5s)); // nothing queued
    queueLines(3, 256)(pacer, host);
    EXPECT_TRUE(pacer.holdDisconnectsUntil(host.clock + 5s));
    EXPECT_FALSE(pacer.dataLeft());
    pacer.outstandingAnswered(kLink, 0);
    pacer.outstandingAnswered(kLink, 0);
    EXPECT_TRUE(pacer.dataLeft());
    EXPECT_EQ(pacer.queuedBytes(), 0u);
}

TEST(AgwLinkPacerTest, LinksAreHeldFromTheRequestAndForgottenWithTheirQueue) {
    TableHost host;
    AgwLinkPacer pacer(host, smallWindow());
    pacer.startLink(kLink, 1);
    EXPECT_TRUE(pacer.holds(kLink));
    pacer.linkUp(kLink, "GB7DXC-0", 1);
    pacer.queue(kLink, "abc", 1);
    EXPECT_EQ(pacer.links(), (std::vector<std::pair<std::string, std::uint8_t>>{{"GB7DXC-0", 1}}));
    EXPECT_EQ(pacer.queuedBytes(), 3u);
    pacer.linkDown(kLink);
    EXPECT_FALSE(pacer.holds(kLink));
    EXPECT_EQ(pacer.queuedBytes(), 0u);
}

} // namespace
} // namespace corvantle
