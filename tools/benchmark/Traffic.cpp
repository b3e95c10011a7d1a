// Traffic: the three patterns of cluster traffic and when each frame of them is due.
#include "Traffic.h"

#include "Marker.h"
#include "MonotonicClock.h"
#include "StationFrames.h"

#include <algorithm>

namespace corvantle::bench {
namespace {

// Enough queued for a reader to stay busy between two turns of the engine's loop, little enough that the
// mark's send time is close to the moment the frame really goes out.
constexpr std::size_t kBurstQueueBytes = 256 * 1024;

// A data frame that is one marked line of `frameBytes` bytes.
std::string markedLineFrame(int phase, std::int64_t seq, std::size_t frameBytes) {
    return agw::encode(clusterData(markedLine({phase, seq, monotonicNs()}, frameBytes)));
}

} // namespace

SteadyTraffic::SteadyTraffic(int phase, std::int64_t framesPerSecond, std::size_t frameBytes,
                             std::int64_t seconds)
    : phase_(phase), rate_(std::max<std::int64_t>(framesPerSecond, 1)), frameBytes_(frameBytes),
      total_(rate_ * seconds), startNs_(monotonicNs()) {}

void SteadyTraffic::produce(TrafficSink &sink) {
    const std::int64_t due = std::min(total_, (monotonicNs() - startNs_) * rate_ / kNsPerSecond + 1);
    for (; next_ < due; ++next_)
        sink.toReaders(markedLineFrame(phase_, next_, frameBytes_));
}

std::int64_t SteadyTraffic::nextDueNs(const TrafficSink &) const {
    return startNs_ + next_ * kNsPerSecond / rate_;
}

BurstTraffic::BurstTraffic(int phase, std::int64_t frames, std::size_t frameBytes)
    : phase_(phase), frames_(frames), frameBytes_(frameBytes) {}

void BurstTraffic::produce(TrafficSink &sink) {
    produceFor(sink, Role::Program, nextForProgram_);
    produceFor(sink, Role::Direct, nextForDirect_);
}

void BurstTraffic::produceFor(TrafficSink &sink, Role role, std::int64_t &next) {
    while (canProduceFor(sink, role, next))
        sink.toRole(role, markedLineFrame(phase_, next++, frameBytes_));
}

bool BurstTraffic::canProduceFor(const TrafficSink &sink, Role role, std::int64_t next) const {
    return sink.holds(role) && next < frames_ && sink.pendingBytes(role) < kBurstQueueBytes;
}

std::int64_t BurstTraffic::nextDueNs(const TrafficSink &sink) const {
    const bool canProduce = canProduceFor(sink, Role::Program, nextForProgram_) ||
                            canProduceFor(sink, Role::Direct, nextForDirect_);
    return canProduce ? monotonicNs() : 0;
}

bool BurstTraffic::done(const TrafficSink &sink) const {
    return (nextForProgram_ >= frames_ || !sink.holds(Role::Program)) &&
           (nextForDirect_ >= frames_ || !sink.holds(Role::Direct));
}

MixTraffic::MixTraffic(int phase, std::int64_t intervalUs, std::size_t frameBytes, std::int64_t seconds)
    : phase_(phase), intervalNs_(std::max<std::int64_t>(intervalUs, 1) * 1000), frameBytes_(frameBytes),
      total_(seconds * kNsPerSecond / intervalNs_), startNs_(monotonicNs()) {}

void MixTraffic::produce(TrafficSink &sink) {
    for (const std::int64_t now = monotonicNs(); next_ < total_ && dueNs() <= now; ++next_) {
        const std::string payload = markedFrame({phase_, next_, monotonicNs()}, frameBytes_);
        // A real engine reports the I-frame it heard before it hands out the data, and then its own RR.
        sink.toMonitors(agw::encode(monitoredCopy(payload, next_)));
        sink.toReaders(agw::encode(clusterData(payload)));
        sink.toMonitors(agw::encode(transmittedAck(next_)));
    }
}

} // namespace corvantle::bench
