#include "Downlink.h"

#include "Ticks.h"

#include <utility>

namespace corvantle {

bool Downlink::relay(const std::string &text) {
    for (const std::string &line : lines_.feed(text)) {
        midLine_ = false;
        if (!clients_.sendToAll(line))
            return false;
    }
    heldTicks_ = 0;
    return !clients_.empty();
}

void Downlink::flush() {
    heldTicks_ = 0;
    const std::string held = lines_.takeHeld();
    if (held.empty())
        return;
    midLine_ = held.back() != '\r' && held.back() != '\n';
    clients_.sendToAll(held);
}

void Downlink::endLine() {
    flush();
    if (std::exchange(midLine_, false))
        clients_.sendToAll("\r");
}

void Downlink::tick() {
    if (lines_.holding() && ++heldTicks_ >= kHoldTicks)
        flush(); // a prompt without a line end
}

void Downlink::reset() {
    lines_.reset();
    heldTicks_ = 0;
    midLine_ = false;
}

} // namespace corvantle
