// WindowOps without a window, for a program run as a service: the labels go nowhere, message boxes become
// lines on standard error with the same words, and the two timers are plain timers.
//
// Boxes that speak of the window name the settings file and the keys instead: the reminder to configure the
// program, and the box of stored values that could not be used (each was named in a line of its own just
// before). A message the program ends on is its error.
#pragma once

#include "WindowOps.h"
#include "WindowTimer.h"

#include <optional>
#include <string>

namespace corvantle {

class StandardErrorLog;

class HeadlessWindowOps final : public WindowOps {
  public:
    // `settingsFile` is where the reminder tells the user to set the callsign and the cluster.
    HeadlessWindowOps(StandardErrorLog &log, std::string settingsFile);

    void setStatusText(const std::string &) override {}
    void setCounterText(const std::string &) override {}
    int windowState() const override { return state_; }
    void setWindowState(int state) override { state_ = state; }
    void setTimerInterval(TimerId timer, int32_t intervalMs) override;
    void setTimerEnabled(TimerId timer, bool enabled) override;
    void messageBox(const std::string &prompt) override;
    std::string whereToConfigure() const override;
    // Records the code and stops the event loop if it runs; before it runs, main returns the code.
    void endProgram(int exitCode) override;

    WindowTimer &tickTimer() { return tick_; }
    WindowTimer &autoMinimizeTimer() { return autoMinimize_; }
    std::optional<int> exitCode() const { return exitCode_; }

  private:
    std::string unusableSettingsLine(const std::string &box) const;
    WindowTimer &timer(TimerId id) { return id == TimerId::Tick ? tick_ : autoMinimize_; }

    StandardErrorLog &log_;
    std::string settingsFile_;
    int state_ = kWindowNormal;
    // As the main window's.
    WindowTimer tick_{500, true};
    WindowTimer autoMinimize_{0, true};
    std::optional<int> exitCode_;
};

} // namespace corvantle
