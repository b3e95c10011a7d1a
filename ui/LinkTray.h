// The tray icon: the link state at a glance, the session's figures in its tooltip, and a menu to show the
// window, open Preferences or the session log, or quit.
//
// The main window owns it, and only where the desktop has a tray. Its menu's commands are the window's own:
// it reports them as signals, and Quit is the window's close.
#pragma once

#include "TrayStatus.h"

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace corvantle {

class LinkTray final : public QObject {
    Q_OBJECT
  public:
    explicit LinkTray(QObject *parent = nullptr);

    void show() { icon_.show(); }
    void hide() { icon_.hide(); }

    // The window's status line, as the bridge gave it.
    void showStatus(const QString &statusText);
    void showSummary(const TraySummary &summary);

    TrayLinkState state() const { return state_; }
    QString toolTip() const { return icon_.toolTip(); }
    QMenu &menu() { return menu_; }
    QSystemTrayIcon &icon() { return icon_; }

  signals:
    void showWindowRequested();
    void preferencesRequested();
    void sessionLogRequested();
    void quitRequested();

  private:
    void update();

    QSystemTrayIcon icon_;
    QMenu menu_;
    TrayLinkState state_ = TrayLinkState::NotConnected;
    TraySummary summary_;
};

} // namespace corvantle
