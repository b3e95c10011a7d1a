// Arrivals: the read times of one measurement's marked frames, shared between a reader thread and the driver.
#include "Arrivals.h"

namespace corvantle::bench {

void Arrivals::expect(int phase, std::size_t frames) {
    const std::lock_guard lock(mutex_);
    phase_ = phase;
    readNs_.assign(frames, 0);
    summary_ = {};
}

void Arrivals::record(const std::vector<Marker> &marks, std::int64_t readNs) {
    const std::lock_guard lock(mutex_);
    for (const Marker &mark : marks) {
        if (mark.phase != phase_ || mark.seq < 0 || mark.seq >= static_cast<std::int64_t>(readNs_.size()))
            continue;
        std::int64_t &readAt = readNs_[static_cast<std::size_t>(mark.seq)];
        if (readAt != 0) {
            ++summary_.duplicates;
            continue;
        }
        readAt = readNs;
        if (summary_.received++ == 0 || mark.sentNs < summary_.firstSentNs)
            summary_.firstSentNs = mark.sentNs;
        summary_.lastReadNs = readNs;
    }
}

Arrivals::Summary Arrivals::summary() const {
    const std::lock_guard lock(mutex_);
    return summary_;
}

std::vector<std::int64_t> Arrivals::readTimes() const {
    const std::lock_guard lock(mutex_);
    return readNs_;
}

} // namespace corvantle::bench
