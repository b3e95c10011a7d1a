// What the bridge does to its main window: labels, window state, timers, message boxes, ending the program.
//
// ui/ implements this on Qt widgets and timers; tests implement it with a recording fake, so the bridge's
// handlers run without a display.
#pragma once

#include <cstdint>
#include <string>

namespace corvantle {

// The half-second tick (counter, auto-minimize re-arm, listening again, held text) and the auto-minimize
// delay.
enum class TimerId { Tick, AutoMinimize };

// Window states, as the bridge reads and sets them.
inline constexpr int kWindowNormal = 0;
inline constexpr int kWindowMinimized = 1;
inline constexpr int kWindowMaximized = 2;

class WindowOps {
  public:
    virtual ~WindowOps() = default;

    virtual void setStatusText(const std::string &text) = 0;
    virtual void setCounterText(const std::string &text) = 0;

    virtual int windowState() const = 0;
    virtual void setWindowState(int state) = 0;

    // Setting the interval starts a new countdown; an interval of 0 never fires.
    virtual void setTimerInterval(TimerId timer, int32_t intervalMs) = 0;
    // Going from disabled to enabled starts a new countdown; enabling an enabled timer leaves it running.
    virtual void setTimerEnabled(TimerId timer, bool enabled) = 0;

    // A modal box with the prompt, the application title as caption and a single OK button.
    virtual void messageBox(const std::string &prompt) = 0;

    // Where the user sets the callsign and the cluster station, as the end of a sentence that begins "set":
    // the dialog with a window, the settings file's keys without one.
    virtual std::string whereToConfigure() const {
        return "them in Options > Preferences (a new callsign applies after a restart)";
    }

    // Ends the program at once with `exitCode`; the shutdown routine does not run.
    virtual void endProgram(int exitCode) = 0;
};

} // namespace corvantle
