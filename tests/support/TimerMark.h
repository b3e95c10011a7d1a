// A precise single-shot timer that marks a moment, for tests about what does or does not happen by then.
// The event loop fires expired timers in the order of their deadlines, so whether another timer's event
// comes before or after the mark does not depend on how busy the machine is, only on the deadlines (coarse
// timers move theirs by at most 5 % of their interval). A fixed wait has no such guarantee: a starved
// event loop can reach its end before it has run the timers that expired meanwhile.
#pragma once

#include <QSignalSpy>
#include <QTimer>

namespace corvantle::test {

class TimerMark final {
  public:
    explicit TimerMark(int inMs) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        timer_.start(inMs);
    }
    QSignalSpy &reached() { return reached_; }
    // Runs the event loop until the mark, and every timer due before it, has fired.
    bool wait(int limitMs = 10000) { return !reached_.isEmpty() || reached_.wait(limitMs); }

  private:
    QTimer timer_;
    QSignalSpy reached_{&timer_, &QTimer::timeout};
};

} // namespace corvantle::test
