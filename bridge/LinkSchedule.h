// The link's care over time, counted in the bridge's half-second ticks: the pauses before asking again
// for a dropped link, how long a link without clients waits for one to come back, how long new clients
// wait for the previous link's end before their own link is asked for, the moment a new client's link
// waits, and whether a link waits for the packet engine to be back.
//
// Pure bookkeeping: LinkKeeper asks it each tick whether something is due, and does it.
#pragma once

#include <utility>

namespace corvantle {

// The pauses before asking again for a dropped link: the first, doubled after each attempt up to the
// longest, and back to the first once a link has stayed up for kStableLinkSeconds.
inline constexpr int kFirstRelinkPauseSeconds = 10;
inline constexpr int kLongestRelinkPauseSeconds = 300;
inline constexpr int kStableLinkSeconds = 180;
// A client that arrives while the last link is still closing waits this long for its end before it is told
// that no new link can be asked for. An engine first sends what the link still holds, then exchanges the
// disconnect with the other station, with retries.
inline constexpr int kPreviousLinkCloseWaitSeconds = 90;
// A new client's link is asked for this long after it arrived, or at its first line, whichever is first: a
// connection that only looks in (a port scan, a monitoring check) leaves before anything goes on the air.
inline constexpr int kConnectDelayTicks = 3;

class LinkSchedule final {
  public:
    // ---- asking again for a dropped link ----
    // Starts the pause before the next attempt and returns its length in seconds; the pause after it is
    // twice as long, up to the longest.
    int scheduleRelink();
    // Waiting to ask again, or asking.
    bool relinking() const { return relinking_; }
    // Whole seconds left of the pause, rounded up.
    int secondsUntilRelink() const;
    // Once a tick: true when the pause has just run out.
    bool relinkDue();
    // No more attempts; the next drop starts with the first pause. Returns whether attempts were under way.
    bool stopRelinking();

    // ---- the link's own time ----
    void linkCameUp();
    // Once a tick while the link is up: a link that stays up long enough resets the pauses.
    void linkUpTick();

    // ---- keeping a link for a returning client ----
    void keepLink(int seconds);
    void stopKeeping() { keepTicksLeft_ = 0; }
    bool keeping() const { return keepTicksLeft_ > 0; }
    // Once a tick: true when the time to keep the link has just run out.
    bool keepOver();

    // ---- a new link after the previous one's end ----
    // Returns false when the clients already wait for it.
    bool waitForPreviousLink();
    bool waitingForPreviousLink() const { return connectAfterPreviousLink_; }
    // The previous link ended: returns whether a new link was waiting for that.
    bool previousLinkEnded();
    // Once a tick: true when the wait has just run out with the clients still waiting (they wait no more).
    bool previousLinkOverdue();
    // The clients that waited are gone.
    void stopWaitingForPreviousLink() { previousLinkEnded(); }

    // ---- a new client's link, a moment after it arrived ----
    void delayConnect() { connectTicksLeft_ = kConnectDelayTicks; }
    bool connectDelayed() const { return connectTicksLeft_ > 0; }
    // Once a tick: true when the delay has just run out.
    bool connectDue();
    // Asked for now, or nobody wants it any more.
    void stopDelayingConnect() { connectTicksLeft_ = 0; }

    // ---- a link wanted while the packet engine is away ----
    // Returns false when the clients already wait for it.
    bool waitForEngine() { return !std::exchange(waitingForEngine_, true); }
    bool waitingForEngine() const { return waitingForEngine_; }
    // The engine is back, or nobody waits any more: returns whether a link was waiting for it.
    bool stopWaitingForEngine() { return std::exchange(waitingForEngine_, false); }

  private:
    bool relinking_ = false;
    int relinkTicksLeft_ = 0; // while waiting: ticks until the next attempt
    int relinkPauseSeconds_ = kFirstRelinkPauseSeconds;
    int ticksLinkUp_ = 0;
    int keepTicksLeft_ = 0;
    bool connectAfterPreviousLink_ = false;
    int previousLinkTicksLeft_ = 0;
    int connectTicksLeft_ = 0;
    bool waitingForEngine_ = false;
};

} // namespace corvantle
