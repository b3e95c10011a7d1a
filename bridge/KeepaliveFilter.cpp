#include "KeepaliveFilter.h"

#include "Ticks.h"

namespace corvantle {
namespace {
constexpr int kIntervalTicks = kKeepaliveIntervalSeconds * kTicksPerSecond;
}

bool KeepaliveFilter::keepOff(const ClientLine &line, bool quiet, bool linkTakesLines) {
    if (!quiet || !line.ended || !line.text.empty())
        return false;
    const bool due = !keepaliveSent_ || ticksSinceKeepalive_ >= kIntervalTicks;
    if (due && linkTakesLines) {
        keepaliveSent_ = true;
        ticksSinceKeepalive_ = 0;
        return false;
    }
    return true;
}

void KeepaliveFilter::tick() {
    if (ticksSinceKeepalive_ < kIntervalTicks)
        ++ticksSinceKeepalive_;
}

} // namespace corvantle
