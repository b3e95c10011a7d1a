// A window's timer control on top of QTimer.
#include "WindowTimer.h"

namespace corvantle {

WindowTimer::WindowTimer(int32_t intervalMs, bool enabled, QObject *parent)
    : QObject(parent), intervalMs_(intervalMs), enabled_(enabled) {
    connect(&timer_, &QTimer::timeout, this, &WindowTimer::onTimeout);
    restart();
}

void WindowTimer::setInterval(int32_t intervalMs) {
    intervalMs_ = intervalMs;
    restart();
}

void WindowTimer::setEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    restart();
}

void WindowTimer::restart() {
    if (enabled_ && intervalMs_ > 0) {
        timer_.start(intervalMs_);
        ++countdowns_;
    } else
        timer_.stop();
}

void WindowTimer::onTimeout() {
    // A handler that opens a message box runs a nested event loop; the timer must not call it again
    // from inside that loop, or every interval would stack up one more box. QTimer holds back only the
    // countdown that is running, not one the handler started anew.
    if (inTick_ || !enabled_ || intervalMs_ <= 0)
        return;
    inTick_ = true;
    emit tick();
    inTick_ = false;
}

} // namespace corvantle
