// The window's own minimizing, the AutoMinimize setting: the delay after the window was last shown normal,
// it minimizes itself, once. Restored by the user, it counts the delay again from the window's next tick;
// minimized or maximized by hand, it is left alone.
#pragma once

#include "WindowTimer.h"

#include <cstdint>
#include <functional>

namespace corvantle {

class AutoMinimizer final {
  public:
    // How the window is shown, and minimizing it.
    struct Window {
        std::function<bool()> shownNormal;
        std::function<void()> minimize;
    };

    // `tick` is the window's half-second tick.
    AutoMinimizer(WindowTimer &tick, Window window);

    // The setting: on or off, and the delay (0: never). A new delay starts a new countdown; the same one
    // leaves the countdown running.
    void set(bool on, int32_t delayMs);

    // The delay's countdown.
    WindowTimer &timer() { return delay_; }

  private:
    void rearm();
    void delayOver();

    Window window_;
    WindowTimer delay_{0, true};
    bool on_ = false;
};

} // namespace corvantle
