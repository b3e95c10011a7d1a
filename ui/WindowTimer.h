// A window's timer control on top of QTimer: an interval and an enabled flag, ticking while both allow it.
//
// The bridge drives the tick and the auto-minimize timer through WindowOps; QtWindowOps forwards
// those calls here, and main connects each timer's tick() to its bridge handler.
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
};

} // namespace corvantle
