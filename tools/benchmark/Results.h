// The benchmark's workload and its figures: what each measurement offers, and what came of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvantle::bench {

namespace workload {
inline constexpr std::int64_t kSteadyFramesPerSecond = 50'000;
inline constexpr std::int64_t kSteadySeconds = 5;
inline constexpr std::int64_t kBulkFrameBytes = 200;
inline constexpr std::int64_t kBurstFrames = 100'000;
// 1200 baud carries about 120 bytes of data a second: one 80-byte spot line every 2/3 s.
inline constexpr std::int64_t kSlowFrameBytes = 80;
inline constexpr std::int64_t kSlowIntervalUs = 666'667;
// 9600 baud, about 1,000 bytes of data a second in full 256-byte frames.
inline constexpr std::int64_t kFastFrameBytes = 256;
inline constexpr std::int64_t kFastIntervalUs = 256'000;
inline constexpr std::int64_t kMixSeconds = 12;
// Data frames in a mix; with fewer than 100 of them, p99 is the slowest frame.
constexpr std::int64_t mixFrames(std::int64_t intervalUs) {
    return kMixSeconds * 1'000'000 / intervalUs;
}
inline constexpr std::int64_t kUplinkLines = 100'000; // enough to take tens of milliseconds, not a few
inline constexpr std::int64_t kUplinkLineBytes = 60;
inline constexpr std::int64_t kIdleSeconds = 10;
} // namespace workload

// One figure, or the reason there is none; `note` may also qualify a figure that is there.
struct Figure {
    std::optional<double> value;
    std::string note;
    bool partial = false; // the value covers only part of the work: the rest never arrived
};

struct Throughput {
    Figure program;
    Figure direct;
};

struct Latency {
    Figure p50Ms;
    Figure p99Ms;
    std::int64_t undelivered = 0; // frames the direct reader got and the telnet client never did
};

struct Results {
    Throughput steady;
    Throughput burst;
    Latency slowLink;
    Latency fastLink;
    Throughput uplink;
    Figure idleCpuPercent;
    Figure peakAfterSteadyMb;
    Figure peakAfterBurstMb;
    std::vector<double> listenDelaysMs; // one per run of the program that got as far as listening
};

} // namespace corvantle::bench
