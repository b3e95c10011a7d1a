// What the tray icon shows.
#include "TrayStatus.h"

#include "Bridge.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvantle {

namespace {

// The sizes a tray asks for most (22 to 24 pixels on X11 panels) and a large one to scale down from.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48};

QString stateWords(TrayLinkState state) {
    switch (state) {
    case TrayLinkState::Connected:
        return QStringLiteral("connected");
    case TrayLinkState::Monitoring:
        return QStringLiteral("monitoring");
    case TrayLinkState::Reconnecting:
        return QStringLiteral("reconnecting");
    case TrayLinkState::NotConnected:
        break;
    }
    return QStringLiteral("not connected");
}

// The badge fills the lower right part of the icon, over a white rim that keeps it apart from the picture.
void drawBadge(QPainter &painter, TrayLinkState state, int size) {
    const double diameter = size * 0.62;
    const QRectF disc(size - diameter, size - diameter, diameter, diameter);
    const double rim = std::max(1.0, size / 16.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(disc);
    const QRectF inner = disc.adjusted(rim, rim, -rim, -rim);
    const double stroke = std::max(1.5, diameter / 5.0);
    switch (state) {
    case TrayLinkState::Connected:
        painter.setBrush(QColor(0x1e, 0x8e, 0x3e));
        painter.drawEllipse(inner);
        break;
    case TrayLinkState::NotConnected:
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(0x70, 0x70, 0x70), stroke));
        painter.drawEllipse(inner.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2));
        break;
    case TrayLinkState::Monitoring: {
        painter.setBrush(QColor(0x1a, 0x5f, 0xc8));
        painter.drawEllipse(inner);
        const double pupil = inner.width() * 0.36;
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(inner.center() - QPointF(pupil / 2, pupil / 2), QSizeF(pupil, pupil)));
        break;
    }
    case TrayLinkState::Reconnecting: {
        const QColor amber(0xd9, 0x8a, 0x00);
        const QRectF arc = inner.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(amber, stroke, Qt::SolidLine, Qt::FlatCap));
        painter.drawArc(arc, 90 * 16, 270 * 16);
        // The arrow head at the arc's open end, pointing on round the circle.
        const QPointF end(arc.center().x(), arc.top());
        const double head = stroke * 1.6;
        QPainterPath arrow;
        arrow.moveTo(end + QPointF(-head * 0.2, -head));
        arrow.lineTo(end + QPointF(head * 1.1, 0));
        arrow.lineTo(end + QPointF(-head * 0.2, head));
        arrow.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(amber);
        painter.drawPath(arrow);
        break;
    }
    }
}

} // namespace

TrayLinkState trayLinkState(const QString &statusText) {
    if (statusText == QLatin1String("Status: Connected"))
        return TrayLinkState::Connected;
    if (statusText == QLatin1String("Status: Monitoring"))
        return TrayLinkState::Monitoring;
    if (statusText == QLatin1String("Status: Reconnecting"))
        return TrayLinkState::Reconnecting;
    return TrayLinkState::NotConnected;
}

// A link keeps the station it was made with when Preferences names another: that one is named while it lasts.
TraySummary traySummary(const Bridge &bridge) {
    const ClusterLink &link = bridge.clusterLink();
    return {link.is(ClusterLink::State::Down) ? bridge.state().cluster : link.station(), bridge.clientCount(),
            bridge.traffic().bytesFromRadio(), bridge.traffic().bytesToRadio()};
}

QString trayToolTip(TrayLinkState state, const TraySummary &summary) {
    const QString clients = summary.clients == 1 ? QStringLiteral("1 telnet client")
                                                 : QStringLiteral("%1 telnet clients").arg(summary.clients);
    return QStringLiteral("AGW Packet Engine Telnet Corvantle\n%1: %2\n%3\nFrom the radio: %4 bytes\n"
                          "To the radio: %5 bytes")
        .arg(QString::fromStdString(summary.cluster), stateWords(state), clients)
        .arg(summary.bytesFromRadio)
        .arg(summary.bytesToRadio);
}

QIcon trayIcon(TrayLinkState state) {
    const QIcon program(QStringLiteral(":/icons/corvantle-48.png"));
    QIcon icon;
    for (const int size : kIconSizes) {
        QPixmap picture(size, size);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(0, 0, program.pixmap(size, size));
        drawBadge(painter, state, size);
        painter.end();
        icon.addPixmap(picture);
    }
    return icon;
}

} // namespace corvantle
