// One clock for every thread and process of the benchmark: Qt's monotonic clock is the system-wide
// CLOCK_MONOTONIC, so a send time written into a payload by the fake engine compares directly with a read
// time taken by a reader.
#pragma once

#include <QDeadlineTimer>

#include <cstdint>

namespace corvantle::bench {

inline std::int64_t monotonicNs() {
    return QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
}

inline constexpr std::int64_t kNsPerMs = 1'000'000;
inline constexpr std::int64_t kNsPerSecond = 1'000'000'000;

} // namespace corvantle::bench
