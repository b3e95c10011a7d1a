// What the session relayed: the byte counter the window shows, and the note the log gets once a minute
// while there is traffic, with how many keepalives stayed off the air. Driven by the bridge's ticks.
#pragma once

#include "SessionLog.h"

#include <cstdint>
#include <string>

namespace corvantle {

class Traffic final {
  public:
    explicit Traffic(SessionLog &log) : log_(log) {}

    void fromRadio(std::size_t bytes);
    void toRadio(std::size_t bytes);
    void keepaliveKeptOff();

    // Bytes relayed both ways since start-up. Wider than the window can ever show, so it never wraps.
    int64_t transferredBytes() const { return transferredBytes_; }
    // Bytes relayed each way since start-up, for the tray's tooltip.
    int64_t bytesFromRadio() const { return allFromRadio_; }
    int64_t bytesToRadio() const { return allToRadio_; }
    // The window's counter: "Bytes Transferred: 12K".
    std::string counterText() const;

    // Every tick; once a minute, the note.
    void tick();

  private:
    SessionLog &log_;
    int64_t transferredBytes_ = 0;
    int64_t allFromRadio_ = 0;
    int64_t allToRadio_ = 0;
    // Since the last note, and ticks since then.
    int64_t bytesFromRadio_ = 0;
    int64_t bytesToRadio_ = 0;
    int64_t keepalivesKeptOff_ = 0;
    int ticksSinceNote_ = 0;
    int64_t allKeepalivesKeptOff_ = 0; // since start-up
};

} // namespace corvantle
