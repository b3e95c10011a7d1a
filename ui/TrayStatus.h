// What the tray icon shows: the link state the window's status line names, as a picture, and a tooltip with
// the cluster, the clients and the bytes each way.
//
// The state is read from the status text the bridge gives the window, so the tray never knows more, or other,
// than the window shows.
#pragma once

#include <QIcon>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvantle {

class Bridge;

enum class TrayLinkState { NotConnected, Connected, Monitoring, Reconnecting };

// "Status: Connected" and the others; any other text (a status not yet given) is NotConnected.
TrayLinkState trayLinkState(const QString &statusText);

// The session's figures the tooltip names, read from the bridge on each tick: the station of the link while
// there is one, else the cluster the next link will ask for.
struct TraySummary {
    std::string cluster;
    std::size_t clients = 0;
    int64_t bytesFromRadio = 0;
    int64_t bytesToRadio = 0;
};

TraySummary traySummary(const Bridge &bridge);

// Several lines: the program, the cluster and the state, the clients, the bytes from and to the radio.
QString trayToolTip(TrayLinkState state, const TraySummary &summary);

// The program's icon with a badge for the state: a green disc (connected), a grey ring (not connected), a
// blue disc with an eye (monitoring), an amber circling arrow (reconnecting). Shapes differ as well as
// colours, so the state reads without colour vision too.
QIcon trayIcon(TrayLinkState state);

} // namespace corvantle
