// The main window: link status, byte counter, the Options and About menus, the half-second tick and, where
// the desktop has a tray, the tray icon.
//
// It shows what QtWindowOps writes into it and reports the user's menu commands and the closing of the
// window as signals; the program connects those to the bridge, the dialogs and the session log. The tray icon
// follows the status line, shows the session's figures at each tick, and its menu gives the same commands
// as the window's menus; there the window can hide instead of being minimized to the task bar.
#pragma once

#include "TrayStatus.h"
#include "WindowTimer.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QCloseEvent;
class QString;

namespace Ui {
class MainForm;
}

namespace corvantle {

class LinkTray;

class MainForm final : public QMainWindow {
    Q_OBJECT
  public:
    // Whether the window has a tray icon: where the desktop has a tray, or always (a platform that shows
    // none, such as the tests' offscreen one, still runs the icon's logic).
    enum class Tray { WhereAvailable, Always, Never };

    explicit MainForm(QWidget *parent = nullptr, Tray tray = Tray::WhereAvailable);
    ~MainForm() override;

    void setStatusText(const QString &text);
    void setCounterText(const QString &text);

    // The tray icon, or null where there is none.
    LinkTray *tray() { return tray_.get(); }
    // Where the tray icon's tooltip reads the session's figures, each tick.
    void setTraySummary(std::function<TraySummary()> summary) { traySummary_ = std::move(summary); }
    // Hidden to the tray (only with a tray), and back from there.
    void hideToTray();
    void showFromTray();
    bool isHiddenInTray() const { return hiddenInTray_; }

    // The half-second tick: the bridge's handler, the tray's figures, AutoMinimize's re-arming.
    WindowTimer &tickTimer() { return tickTimer_; }

  signals:
    void preferencesRequested();
    void sessionLogRequested();
    void aboutRequested();
    // The window is being closed: emitted once, just before the application is told to quit.
    void closing();

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    void refreshTraySummary();

    std::unique_ptr<Ui::MainForm> ui_;
    std::unique_ptr<LinkTray> tray_;
    std::function<TraySummary()> traySummary_;
    bool hiddenInTray_ = false;
    WindowTimer tickTimer_{500, true};
    bool closed_ = false;
};

} // namespace corvantle
