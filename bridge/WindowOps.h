// What the bridge does to its main window: labels, the tick, the auto-minimize setting, message boxes,
// ending the program.
//
// ui/ implements this on Qt widgets and timers, and without a window for the headless program; tests
// implement it with a recording fake, so the bridge's handlers run without a display.
#pragma once

#include <cstdint>
#include <string>

namespace corvantle {

class WindowOps {
  public:
    virtual ~WindowOps() = default;

    virtual void setStatusText(const std::string &text) = 0;
    virtual void setCounterText(const std::string &text) = 0;

    // The half-second tick (counter, listening again, held text, the link's care) runs from now on.
    virtual void startTicking() = 0;

    // The AutoMinimize setting: with `on`, the window minimizes itself `delayMs` after it was last shown
    // normal (0: never). The window keeps its own timer; a new delay starts a new countdown.
    virtual void setAutoMinimize(bool on, int32_t delayMs) = 0;

    // A modal box with the prompt, the application title as caption and a single OK button.
    virtual void messageBox(const std::string &prompt) = 0;

    // At start-up, when the callsign or the cluster station is still the placeholder: where and how to set
    // them, in the window's words (a box) or the settings file's (without a window).
    virtual void remindToConfigure() = 0;

    // Where the user sets the callsign and the cluster station, as the end of a sentence that begins "set":
    // the dialog with a window, the settings file's keys without one.
    virtual std::string whereToConfigure() const {
        return "them in Options > Preferences (a new callsign applies after a restart)";
    }

    // Ends the program at once with `exitCode`; the shutdown routine does not run.
    virtual void endProgram(int exitCode) = 0;
};

} // namespace corvantle
