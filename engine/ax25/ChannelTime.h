// ChannelTime: the link's estimate of a half-duplex radio channel it cannot see.
//
// A KISS TNC says neither when it transmits nor when it hears a carrier. What the link does know is what it
// handed to the TNC and what was heard, and when. From that and the channel's bit rate this estimates when
// our frames can have left (a transmission keys up, then sends its frames back to back) and how long the
// channel was busy, ours or another's, so that T1 counts only the time in which an answer could have come,
// as a TNC that sees its PTT and DCD pauses it. Frames heard while ours were still waiting mean ours waited
// behind them: on a half-duplex channel nothing overlaps.
#pragma once

#include <chrono>
#include <cstddef>

namespace corvantle::ax25 {

class ChannelTime final {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Duration = Clock::duration;

    // A bit rate of 0 makes every frame take no time: frames leave when handed over and nothing is busy.
    ChannelTime(int bitRate, std::chrono::milliseconds keyUp);

    // The time a frame of `bytes` (address to information) is on the air, with flags, checksum and bit
    // stuffing, without the key-up.
    Duration airTime(std::size_t bytes) const;

    // A frame of `bytes` handed to the TNC: it follows what is still waiting, or keys up afresh. Returns when
    // it can have left.
    TimePoint transmit(std::size_t bytes, TimePoint now);

    // A frame of `bytes` was heard, its end at `now`. Returns how far our waiting frames were put back.
    Duration heard(std::size_t bytes, TimePoint now);

    // When the frames handed over so far can have left (never before `now`).
    TimePoint clearAt(TimePoint now) const { return ourEnd_ > now ? ourEnd_ : now; }

    // A transmission of one frame of `bytes`, key-up included.
    Duration transmissionTime(std::size_t bytes) const { return keyUp_ + airTime(bytes); }

    // When a frame of `bytes` heard at `now` began, key-up included.
    TimePoint startOfHeard(std::size_t bytes, TimePoint now) const { return now - transmissionTime(bytes); }

    // Busy time so far, ours and others', counting our waiting frames to their end. Only differences matter.
    Duration busyTotal() const { return busyTotal_; }

  private:
    int bitRate_;
    Duration keyUp_;
    TimePoint ourStart_{}; // our current transmission: its key-up starts here
    TimePoint ourEnd_{};   // and its last frame ends here
    TimePoint heardEnd_{}; // the end of the last frame heard
    Duration busyTotal_{};
};

} // namespace corvantle::ax25
