// The bridge's parts on their own: the byte counter, the link's schedule in ticks, the check of the
// engine's radio ports, and the keepalive filter.
#include "KeepaliveFilter.h"
#include "LinkSchedule.h"
#include "RadioPortCheck.h"
#include "Ticks.h"
#include "Traffic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvantle {
namespace {

class QuietLog final : public SessionLog {
  public:
    void note(const std::string &line) override { notes.push_back(line); }
    void warn(const std::string &line) override { notes.push_back("warning: " + line); }
    std::vector<std::string> notes;
};

TEST(TrafficTest, CounterShowsWholeKilobytesAndNeverWraps) {
    struct Row {
        int64_t bytes;
        std::string text;
    };
    for (const Row &row : {Row{1023, "Bytes Transferred: 0K"}, Row{1024, "Bytes Transferred: 1K"},
                           Row{5000, "Bytes Transferred: 4K"},
                           Row{int64_t{INT32_MAX} + 4097, "Bytes Transferred: 2097156K"}}) {
        QuietLog log;
        Traffic traffic(log);
        // Both ways count, in pieces of any size.
        traffic.fromRadio(static_cast<std::size_t>(row.bytes / 2));
        traffic.toRadio(static_cast<std::size_t>(row.bytes - row.bytes / 2));
        EXPECT_EQ(traffic.transferredBytes(), row.bytes);
        EXPECT_EQ(traffic.counterText(), row.text);
    }
}

TEST(TrafficTest, NotesTheLastMinuteOnlyWhenSomethingHappened) {
    QuietLog log;
    Traffic traffic(log);
    for (int i = 0; i < kTicksPerMinute; ++i)
        traffic.tick();
    EXPECT_TRUE(log.notes.empty());

    traffic.fromRadio(100);
    traffic.toRadio(7);
    traffic.keepaliveKeptOff();
    for (int i = 0; i < kTicksPerMinute - 1; ++i)
        traffic.tick();
    EXPECT_TRUE(log.notes.empty());
    traffic.tick();
    EXPECT_EQ(log.notes, (std::vector<std::string>{
                             "Relayed in the last minute: 100 bytes from the radio, 7 bytes to the radio",
                             "Kept off the air in the last minute: 1 empty lines from the clients (1 since "
                             "start-up)"}));
    EXPECT_EQ(traffic.transferredBytes(), 107); // the total is not reset by the note
}

// Ticks until `due` says yes, at most `limit`; -1 if it never does.
template <typename Due> int ticksUntil(Due due, int limit) {
    for (int tick = 1; tick <= limit; ++tick)
        if (due())
            return tick;
    return -1;
}

TEST(LinkScheduleTest, RelinkPausesDoubleUpToTheLongestAndStartAfreshAfterAStableLink) {
    LinkSchedule schedule;
    const std::vector<int> expected = {10, 20, 40, 80, 160, 300, 300};
    for (const int seconds : expected) {
        EXPECT_EQ(schedule.scheduleRelink(), seconds);
        EXPECT_TRUE(schedule.relinking());
        EXPECT_EQ(schedule.secondsUntilRelink(), seconds);
        EXPECT_EQ(ticksUntil([&] { return schedule.relinkDue(); }, 1000), seconds * kTicksPerSecond);
        EXPECT_FALSE(schedule.relinkDue()); // once only
    }

    // A link that stays up less than the stable time keeps the pauses long; one that stays longer resets.
    schedule.linkCameUp();
    EXPECT_FALSE(schedule.relinking());
    for (int i = 0; i < kStableLinkSeconds * kTicksPerSecond - 1; ++i)
        schedule.linkUpTick();
    EXPECT_EQ(schedule.scheduleRelink(), 300);
    schedule.linkCameUp();
    for (int i = 0; i < kStableLinkSeconds * kTicksPerSecond; ++i)
        schedule.linkUpTick();
    EXPECT_EQ(schedule.scheduleRelink(), kFirstRelinkPauseSeconds);

    EXPECT_TRUE(schedule.stopRelinking());
    EXPECT_FALSE(schedule.stopRelinking());
    EXPECT_FALSE(schedule.relinkDue());
    EXPECT_EQ(schedule.scheduleRelink(), kFirstRelinkPauseSeconds);
}

TEST(LinkScheduleTest, KeepsALinkForItsTimeOrUntilStopped) {
    LinkSchedule schedule;
    EXPECT_FALSE(schedule.keeping());
    EXPECT_EQ(ticksUntil([&] { return schedule.keepOver(); }, 100), -1);
    schedule.keepLink(30);
    EXPECT_TRUE(schedule.keeping());
    EXPECT_EQ(ticksUntil([&] { return schedule.keepOver(); }, 1000), 30 * kTicksPerSecond);
    EXPECT_FALSE(schedule.keeping());

    schedule.keepLink(30);
    schedule.stopKeeping();
    EXPECT_EQ(ticksUntil([&] { return schedule.keepOver(); }, 1000), -1);
}

TEST(LinkScheduleTest, WaitsForThePreviousLinkOnceAndNotForEver) {
    LinkSchedule schedule;
    EXPECT_TRUE(schedule.waitForPreviousLink());
    EXPECT_FALSE(schedule.waitForPreviousLink()); // already waiting: the wait is not restarted
    EXPECT_TRUE(schedule.waitingForPreviousLink());
    EXPECT_EQ(ticksUntil([&] { return schedule.previousLinkOverdue(); }, 1000),
              kPreviousLinkCloseWaitSeconds * kTicksPerSecond);
    EXPECT_FALSE(schedule.waitingForPreviousLink());

    // The end that comes in time ends the wait, and says that a link was waiting for it.
    schedule.waitForPreviousLink();
    EXPECT_TRUE(schedule.previousLinkEnded());
    EXPECT_FALSE(schedule.previousLinkEnded());
    EXPECT_EQ(ticksUntil([&] { return schedule.previousLinkOverdue(); }, 1000), -1);

    schedule.waitForPreviousLink();
    schedule.stopWaitingForPreviousLink();
    EXPECT_FALSE(schedule.waitingForPreviousLink());
    EXPECT_EQ(ticksUntil([&] { return schedule.previousLinkOverdue(); }, 1000), -1);
}

TEST(RadioPortCheckTest, SaysAProblemOnceAndInABoxOnlyAtTheFirstList) {
    const std::string problemOf2 =
        "Radio port 2 is not one of the packet engine's radio ports (0, 1): connects "
        "are refused until RadioPort in Options > Preferences names one of them";
    struct Step {
        std::vector<int> ports;
        int inUse;
        bool tell;
        bool box;
    };
    RadioPortCheck check;
    const Step steps[] = {
        {{0, 1}, 2, true, true},   // the first list: log and box
        {{0, 1}, 2, false, false}, // the same story again after a reconnect: nothing new
        {{0, 1, 2}, 2, false, false},
        {{0, 1}, 2, true, false}, // the port went away later: the log, no box
    };
    for (const Step &step : steps) {
        const RadioPortCheck::Verdict verdict = check.heard(step.ports, step.inUse);
        EXPECT_EQ(verdict.tell, step.tell);
        EXPECT_EQ(verdict.showBox, step.box);
        if (step.tell) {
            EXPECT_EQ(verdict.problem, problemOf2);
        }
    }
}

TEST(KeepaliveFilterTest, OneEmptyLineInTheIntervalAndNoneWithoutALink) {
    KeepaliveFilter filter;
    const ClientLine empty{"", true};
    EXPECT_FALSE(filter.keepOff(empty, false, false)); // quiet keepalives off: every line goes
    EXPECT_FALSE(filter.keepOff({"sh/dx", true}, true, true));
    EXPECT_FALSE(filter.keepOff({"", false}, true, true)); // a piece of a long line is no keepalive

    EXPECT_TRUE(filter.keepOff(empty, true, false)); // no link to take it
    EXPECT_FALSE(filter.keepOff(empty, true, true)); // the first with a link goes
    EXPECT_TRUE(filter.keepOff(empty, true, true));
    for (int i = 0; i < kKeepaliveIntervalSeconds * kTicksPerSecond - 1; ++i)
        filter.tick();
    EXPECT_TRUE(filter.keepOff(empty, true, true));
    filter.tick();
    EXPECT_FALSE(filter.keepOff(empty, true, true));
}

} // namespace
} // namespace corvantle
