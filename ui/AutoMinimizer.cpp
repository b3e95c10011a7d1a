#include "AutoMinimizer.h"

#include <utility>

namespace corvantle {

AutoMinimizer::AutoMinimizer(WindowTimer &tick, Window window) : window_(std::move(window)) {
    QObject::connect(&tick, &WindowTimer::tick, &delay_, [this] { rearm(); });
    QObject::connect(&delay_, &WindowTimer::tick, &delay_, [this] { delayOver(); });
}

void AutoMinimizer::set(bool on, int32_t delayMs) {
    if (delayMs != delay_.interval())
        delay_.setInterval(delayMs);
    on_ = on;
    delay_.setEnabled(on);
}

// Each tick: a window shown normal again (the user restored it) is minimized the delay after. Enabling a
// timer that runs leaves its countdown alone.
void AutoMinimizer::rearm() {
    if (on_ && window_.shownNormal())
        delay_.setEnabled(true);
}

void AutoMinimizer::delayOver() {
    if (on_ && window_.shownNormal())
        window_.minimize();
    delay_.setEnabled(false);
}

} // namespace corvantle
