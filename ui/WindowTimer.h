// A window's timer control on top of QTimer: an interval and an enabled flag, ticking while both allow it.
//
// The window's half-second tick is one (the bridge starts it through WindowOps, and the program connects it
// to the bridge's handler); AutoMinimizer's delay is another.
#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>

namespace corvantle {

class WindowTimer final : public QObject {
    Q_OBJECT
  public:
    WindowTimer(int32_t intervalMs, bool enabled, QObject *parent = nullptr);

    int32_t interval() const { return intervalMs_; }
    bool isEnabled() const { return enabled_; }
    // How many countdowns have started: a countdown left running and a new one look the same otherwise.
    int countdownsStarted() const { return countdowns_; }

    // A new interval starts a new countdown; 0 (or less) stops the ticks.
    void setInterval(int32_t intervalMs);
    // Disabled to enabled starts a new countdown; enabling an enabled timer leaves its countdown running.
    void setEnabled(bool enabled);

  signals:
    void tick();

  private:
    void restart();
    void onTimeout();

    QTimer timer_;
    int32_t intervalMs_ = 0;
    bool enabled_ = false;
    bool inTick_ = false;
    int countdowns_ = 0;
};

} // namespace corvantle
