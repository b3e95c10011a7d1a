// The main window: link status, byte counter, the Options and About menus and the two timers.
//
// It only shows what QtWindowOps writes into it and reports the user's menu commands and the closing of
// the window as signals; main connects those to the bridge and the dialogs.
#pragma once

#include "WindowTimer.h"

#include <QMainWindow>

#include <memory>

class QCloseEvent;
class QString;

namespace Ui {
class MainForm;
}

namespace corvantle {

class MainForm final : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainForm(QWidget *parent = nullptr);
    ~MainForm() override;

    void setStatusText(const QString &text);
    void setCounterText(const QString &text);

    WindowTimer &tickTimer() { return tickTimer_; }                 // frame pump
    WindowTimer &autoMinimizeTimer() { return autoMinimizeTimer_; } // auto-minimize

  signals:
    void preferencesRequested();
    void sessionLogRequested();
    void aboutRequested();
    // The window is being closed: emitted once, just before the application is told to quit.
    void closing();

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    std::unique_ptr<Ui::MainForm> ui_;
    WindowTimer tickTimer_{500, true};
    WindowTimer autoMinimizeTimer_{0, true};
    bool closed_ = false;
};

} // namespace corvantle
