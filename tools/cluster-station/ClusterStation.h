// ClusterStation: runs the test DX cluster on an AGW packet engine until a signal or the engine's end.
//
// Registers the station's callsign, then turns the engine's frames ('C' link up, 'D' connected data, 'd' link
// down) into ClusterService events and its actions into 'D' and 'd' frames, and drives the spot timer. It
// never enables monitoring: the station only needs its own links.
//
// A disconnect request makes an engine throw away link data it has not sent yet, so before each 'd' the
// station asks with 'Y' until nothing is outstanding on that link (or a time limit passes): a goodbye line
// then reaches the caller. SIGINT and SIGTERM disconnect every caller and wait briefly for the engine to
// confirm before closing, so no caller is left with a stale link.
#pragma once

#include "AgwSocket.h"
#include "ClusterService.h"
#include "StationOptions.h"

#include <chrono>
#include <map>
#include <optional>
#include <vector>

namespace corvantle::cluster {

class ClusterStation final {
  public:
    explicit ClusterStation(StationOptions options);

    // The process exit status: 0 after a signal, 1 when the engine could not be used or went away.
    int run();

  private:
    using Clock = std::chrono::steady_clock;

    bool registerCall();
    bool serve();
    void startStopping();
    bool receiveFromEngine();
    void handle(const agw::Frame &frame);
    void perform(const std::vector<Action> &actions);
    void sendText(const std::string &remote, const std::string &text);
    void sendFrame(char kind, const std::string &remote, std::string data = {});
    void tickSpots(Clock::time_point now);
    void drainThenDisconnect(const std::string &remote);
    void tickDrains(Clock::time_point now);
    void outstandingFrames(const agw::Frame &frame);
    int pollTimeoutMs(Clock::time_point now) const;
    void logFrame(const char *direction, const agw::Frame &frame) const;

    StationOptions options_;
    ClusterService service_;
    AgwSocket engine_;
    Clock::duration spotInterval_;
    std::optional<Clock::time_point> nextSpot_;
    std::optional<Clock::time_point> stopDeadline_;
    // Links waiting for their data to go out before the 'd': when to give up waiting, when to ask again.
    struct Drain {
        Clock::time_point deadline;
        Clock::time_point nextQuery;
    };
    std::map<std::string, Drain> draining_;
    Clock::duration drainLimit_;
    std::vector<agw::Frame> early_; // frames that came in while waiting for the registration answer
    std::string failure_;           // why the engine is no longer usable; empty while it is
    bool interrupted_ = false;      // a signal came before the station was ready
};

} // namespace corvantle::cluster
