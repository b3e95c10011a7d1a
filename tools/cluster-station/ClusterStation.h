// ClusterStation: runs the test DX cluster on a packet engine until a signal or the engine's end.
//
// Registers the station's callsign through the project's engine library (AgwEngine, which finds the engine
// at --host and --port), turns the frames it hands over ('c' link up, 'D' connected data, 'd' link down)
// into ClusterService events and the service's actions into data and disconnect requests, and sends a spot
// to every caller on a timer, all on the Qt event loop.
//
// Asked to disconnect, an engine throws away the link's data it has not sent yet, so each disconnect waits
// until DeliveryWatch sees the link's last data out and answered (or a time limit passes): a goodbye line
// then reaches the caller. SIGINT and SIGTERM disconnect every caller and wait briefly for the engine to
// confirm before closing, so no caller is left with a stale link; a second signal ends the wait.
#pragma once

#include "AgwEngine.h"
#include "ClusterService.h"
#include "DeliveryWatch.h"
#include "StationOptions.h"

#include <QTimer>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantle::cluster {

class ClusterStation final : public EngineListener {
  public:
    explicit ClusterStation(StationOptions options);

    // Needs a QCoreApplication and runs its event loop. The process exit status: 0 after a signal, 1 when
    // the engine could not be used or went away.
    int run();

    void frameArrived(const EngineFrame &frame) override;
    // The station's bursts stay far below what the engine library queues, so it never waits for room.
    void readyForData() override {}
    // The station starts with the engine's answer; a refusal ends the run with 1.
    void registrationAnswered(bool registered) override;
    // The engine has let go: the run ends.
    void engineClosed() override;

  private:
    using Clock = std::chrono::steady_clock;

    void handle(const EngineFrame &frame);
    void linkUp(const std::string &remote);
    void watchDelivery(const EngineFrame &frame);
    void perform(const std::vector<Action> &actions);
    void sendText(const std::string &remote, const std::string &text);
    void sendSpot();
    void drainThenDisconnect(const std::string &remote);
    void disconnectSettledLinks();
    void onSignal();
    void startStopping();
    void check();
    void finish(int status);
    void logFrame(const char *direction, const EngineFrame &frame) const;

    StationOptions options_;
    std::string ownCall_; // as the engine names it in frames: upper case, no "-0"
    ClusterService service_;
    AgwEngine engine_;
    DeliveryWatch delivery_;
    QTimer spotTimer_;
    QTimer checkTimer_; // disconnects that waited long enough, the stop deadline, the engine's health
    // Links whose disconnect waits for their data to be delivered, with when to stop waiting.
    std::map<std::string, Clock::time_point> draining_;
    Clock::duration drainLimit_;
    std::optional<Clock::time_point> stopDeadline_;
    bool ready_ = false;
    std::vector<EngineFrame> early_; // frames that came with the registration answer, before READY
    bool interrupted_ = false;       // a signal came before the station was ready
    bool finished_ = false;
};

} // namespace corvantle::cluster
