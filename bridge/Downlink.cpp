#include "Downlink.h"

#include "Ticks.h"

namespace corvantle {

bool Downlink::relay(const std::string &text) {
    for (const std::string &line : lines_.feed(text))
        if (!clients_.sendToAll(line))
            return false;
    heldTicks_ = 0;
    return !clients_.empty();
}

void Downlink::flush() {
    heldTicks_ = 0;
    const std::string held = lines_.takeHeld();
    if (!held.empty())
        clients_.sendToAll(held);
}

void Downlink::tick() {
    if (lines_.holding() && ++heldTicks_ >= kHoldTicks)
        flush(); // a prompt without a line end
}

void Downlink::reset() {
    lines_.reset();
    heldTicks_ = 0;
}

} // namespace corvantle
