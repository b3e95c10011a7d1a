// WindowOps on the main window: its labels, the tick, its own minimizing (AutoMinimize), message boxes, and
// ending the program.
#pragma once

#include "AutoMinimizer.h"
#include "WindowOps.h"

namespace corvantle {

class MainForm;

// How the window is shown, as windowState() reads it and setWindowState() sets it.
inline constexpr int kWindowNormal = 0;
inline constexpr int kWindowMinimized = 1;
inline constexpr int kWindowMaximized = 2;

class QtWindowOps final : public WindowOps {
  public:
    explicit QtWindowOps(MainForm &form);

    void setStatusText(const std::string &text) override;
    void setCounterText(const std::string &text) override;
    void startTicking() override;
    void setAutoMinimize(bool on, int32_t delayMs) override;
    void messageBox(const std::string &prompt) override;
    void remindToConfigure() override;
    // Stops the event loop with the code, which main returns.
    void endProgram(int exitCode) override;

    // Minimized also while hidden in the tray; a window not shown yet reads as the state it will show in.
    int windowState() const;
    void setWindowState(int state);
    AutoMinimizer &autoMinimizer() { return autoMinimizer_; }

  private:
    MainForm &form_;
    AutoMinimizer autoMinimizer_;
};

} // namespace corvantle
