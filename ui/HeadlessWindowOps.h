// WindowOps without a window, for a program run as a service: the labels go nowhere, there is nothing to
// minimize, message boxes become lines on standard error with the same words, and the tick is a plain
// timer.
//
// What speaks of the window names the settings file and the keys instead: the reminder to configure the
// program, and the box of stored values that could not be used (each was named in a line of its own just
// before). A message the program ends on is its error.
#pragma once

#include "WindowOps.h"
#include "WindowTimer.h"

#include <string>

namespace corvantle {

class StandardErrorLog;

class HeadlessWindowOps final : public WindowOps {
  public:
    // `settingsFile` is where the reminder tells the user to set the callsign and the cluster.
    HeadlessWindowOps(StandardErrorLog &log, std::string settingsFile);

    void setStatusText(const std::string &) override {}
    void setCounterText(const std::string &) override {}
    void startTicking() override { tick_.setEnabled(true); }
    void setAutoMinimize(bool, int32_t) override {}
    void messageBox(const std::string &prompt) override;
    void remindToConfigure() override;
    std::string whereToConfigure() const override;
    // Stops the event loop with the code, which the program returns; an error code ends on the last warning.
    void endProgram(int exitCode) override;

    WindowTimer &tickTimer() { return tick_; }

  private:
    std::string unusableSettingsLine(const std::string &box) const;

    StandardErrorLog &log_;
    std::string settingsFile_;
    // As the main window's.
    WindowTimer tick_{500, true};
};

} // namespace corvantle
