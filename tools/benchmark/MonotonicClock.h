// One clock for every process of the benchmark: CLOCK_MONOTONIC is shared system-wide, so a send time
// written into a payload by the fake engine compares directly with a read time taken by the driver.
#pragma once

#include <cstdint>
#include <ctime>

namespace corvantle::bench {

inline std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

inline constexpr std::int64_t kNsPerMs = 1'000'000;
inline constexpr std::int64_t kNsPerSecond = 1'000'000'000;

} // namespace corvantle::bench
