// The tray icon.
#include "LinkTray.h"

namespace corvantle {

LinkTray::LinkTray(QObject *parent) : QObject(parent) {
    menu_.addAction(QStringLiteral("&Show window"), this, &LinkTray::showWindowRequested);
    menu_.addAction(QStringLiteral("&Preferences"), this, &LinkTray::preferencesRequested);
    menu_.addAction(QStringLiteral("Session &log..."), this, &LinkTray::sessionLogRequested);
    menu_.addSeparator();
    menu_.addAction(QStringLiteral("&Quit"), this, &LinkTray::quitRequested);
    icon_.setContextMenu(&menu_);
    // A click (or a double click, as some trays report it) brings the window back.
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit showWindowRequested();
    });
    update();
}

void LinkTray::showStatus(const QString &statusText) {
    const TrayLinkState state = trayLinkState(statusText);
    if (state == state_)
        return;
    state_ = state;
    update();
}

void LinkTray::showSummary(const TraySummary &summary) {
    summary_ = summary;
    // Setting the same tooltip again costs the tray a round trip; only a change is passed on.
    const QString text = trayToolTip(state_, summary_);
    if (text != icon_.toolTip())
        icon_.setToolTip(text);
}

void LinkTray::update() {
    icon_.setIcon(trayIcon(state_));
    icon_.setToolTip(trayToolTip(state_, summary_));
}

} // namespace corvantle
