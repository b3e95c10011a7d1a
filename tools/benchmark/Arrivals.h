// Arrivals: when each marked frame of the current measurement reached one reader. Written by the reader's
// thread, read by the driver; frames of other measurements (late ones from an earlier run) are ignored.
#pragma once

#include "Marker.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace corvantle::bench {

class Arrivals final {
  public:
    struct Summary {
        std::int64_t received = 0;    // distinct frames
        std::int64_t duplicates = 0;  // frames that came more than once
        std::int64_t firstSentNs = 0; // the earliest send time among those received
        std::int64_t lastReadNs = 0;
    };

    // Starts a measurement of `frames` frames marked with `phase`.
    void expect(int phase, std::size_t frames);
    // `marks` were read at `readNs`.
    void record(const std::vector<Marker> &marks, std::int64_t readNs);
    Summary summary() const;
    // The read time of each frame by sequence number; 0 for one that has not arrived.
    std::vector<std::int64_t> readTimes() const;

  private:
    mutable std::mutex mutex_;
    int phase_ = -1;
    std::vector<std::int64_t> readNs_;
    Summary summary_;
};

} // namespace corvantle::bench
