// WindowOps on the main window: its labels, window state and timers, message boxes, and the exit code.
#pragma once

#include "WindowOps.h"

#include <optional>

namespace corvantle {

class MainForm;
class WindowTimer;

class QtWindowOps final : public WindowOps {
  public:
    explicit QtWindowOps(MainForm &form) : form_(form) {}

    void setStatusText(const std::string &text) override;
    void setCounterText(const std::string &text) override;
    int windowState() const override;
    void setWindowState(int state) override;
    void setTimerInterval(TimerId timer, int32_t intervalMs) override;
    void setTimerEnabled(TimerId timer, bool enabled) override;
    void messageBox(const std::string &prompt) override;
    // Records the code and stops the event loop if it runs; before it runs, main returns the code.
    void endProgram(int exitCode) override;

    std::optional<int> exitCode() const { return exitCode_; }

  private:
    WindowTimer &timer(TimerId id);

    MainForm &form_;
    std::optional<int> exitCode_;
};

} // namespace corvantle
