#include "Downlink.h"

#include "Ticks.h"

#include <utility>

namespace corvantle {

std::vector<std::string> Downlink::relay(const std::string &text) {
    std::vector<std::string> writes = lines_.feed(text);
    if (!writes.empty())
        midLine_ = false;
    heldTicks_ = 0;
    return writes;
}

std::vector<std::string> Downlink::flush() {
    heldTicks_ = 0;
    std::string held = lines_.takeHeld();
    if (held.empty())
        return {};
    midLine_ = held.back() != '\r' && held.back() != '\n';
    return {std::move(held)};
}

std::vector<std::string> Downlink::endLine() {
    std::vector<std::string> writes = flush();
    if (std::exchange(midLine_, false))
        writes.emplace_back("\r");
    return writes;
}

std::vector<std::string> Downlink::tick() {
    if (lines_.holding() && ++heldTicks_ >= kHoldTicks)
        return flush();
    return {};
}

void Downlink::reset() {
    lines_.reset();
    heldTicks_ = 0;
    midLine_ = false;
}

} // namespace corvantle
