// The bridge: the coordinator of one session between the telnet clients and the cluster station.
//
// It reaches the window, the telnet socket and the packet engine only through the interfaces passed in, and
// gets the settings as values, so its handlers run in tests without a display. Its parts each own one piece
// of the session: the clients (ClientHub), the cluster link with its care over time (LinkKeeper), the text
// each way (Uplink, Downlink) and what was relayed (Traffic). The bridge decides what happens at each event
// (start-up, a frame from the engine, a client arriving or leaving, the window's half-second tick, new
// settings, shutdown) and asks its parts to do it.
//
// One session (one link to the cluster station) serves up to `maxClients` telnet clients at a time: the
// cluster's text goes to each of them, and each one's lines go to the cluster as its own requests.
#pragma once

#include "BridgeState.h"
#include "ClientHub.h"
#include "ClusterLink.h"
#include "Downlink.h"
#include "LinkKeeper.h"
#include "PacketEngine.h"
#include "RadioPortCheck.h"
#include "RefusedClients.h"
#include "SessionLog.h"
#include "StartupSettings.h"
#include "Traffic.h"
#include "Uplink.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvantle {

class WindowOps;
class TelnetSocket;

// The caption of every message box.
inline constexpr const char *kApplicationTitle = "ZR8QOD Logger - AGWPE Telnet Corvantle";

class Bridge final : public EngineListener {
  public:
    // `startup` is the settings as the program read them, with what the user must hear of them; start() puts
    // them in force and says so, so they must outlive that call.
    Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, const StartupSettings &startup);

    // Where the bridge says what happens; by default only warnings, on standard error.
    void setLog(SessionLog &log) { log_.setTarget(log); }

    // The settings in force; they change only through start() and applySettings().
    const BridgeState &state() const { return state_; }
    // Bytes relayed both ways since start-up, and whether the link to the cluster is up.
    int64_t transferredBytes() const { return traffic_.transferredBytes(); }
    // The same each way, and the link with the station it was made with, for the tray's tooltip.
    const Traffic &traffic() const { return traffic_; }
    const ClusterLink &clusterLink() const { return keeper_.link(); }
    bool linkUp() const { return keeper_.linkUp(); }

    // Settings changed in Preferences. The registered callsign, the byte counter and the link's state stay
    // the bridge's own; a link that is up keeps the station, radio port and route it was made with, and the
    // new ones apply from the next link. Monitor Mode switched on takes down the link that is up.
    void applySettings(const BridgeState &settings);

    // Start-up, before the window is shown: puts the settings in force, names the values that could not be
    // used, and asks the engine to register; the rest
    // follows the engine's answer (registrationAnswered). `done` hears once whether the bridge runs; false
    // when the start-up ended the program (no engine, or the local port cannot be listened on), and the
    // window must then not be shown.
    void start(std::function<void(bool running)> done = {});
    bool isRunning() const { return phase_ == Phase::Running; }

    // Every 500 ms: counter, auto-minimize re-arm, listening, held text, relink and keep-link times.
    void onTick();
    void onAutoMinimizeTimer();
    void onClientArrival(int32_t requestId);
    void onClientData(ClientId client);
    void onClientGone(ClientId client);
    void onClientError(ClientId client, int32_t number, const std::string &description);
    // The socket told a client from an address the allow-list does not name so, and closed it.
    void onClientRefused(const std::string &address);

    std::size_t clientCount() const { return clients_.liveCount(); }

    // Shutdown when the main window closes: runs once per program, later calls do nothing. The engine's
    // close goes on afterwards (the links' last data may leave): the program ends when it is over.
    void shutDown();
    // `closed` runs when the engine's close, started by shutDown() or by a start-up that failed after the
    // registration, is over. While engineClosing(), the program waits for it.
    void whenEngineClosed(std::function<void()> closed) { engineClosedHandler_ = std::move(closed); }
    bool engineClosing() const { return engineClosing_; }

    // From the packet engine.
    void registrationAnswered(bool registered) override;
    void frameArrived(const EngineFrame &frame) override;
    void readyForData() override;
    void radioPortsKnown(const std::vector<int> &ports) override;
    void engineClosed() override;
    void engineBack() override;

  private:
    // Every entry point holds one; when the outermost ends, the clients marked as ending are removed.
    class HandlerScope final {
      public:
        explicit HandlerScope(Bridge &bridge);
        ~HandlerScope();
        HandlerScope(const HandlerScope &) = delete;
        HandlerScope &operator=(const HandlerScope &) = delete;

      private:
        Bridge &bridge_;
    };

    void clusterFrame(const EngineFrame &frame);
    void monitorFrame(const EngineFrame &frame);
    bool isOwnCall(const std::string &call) const;
    bool isLinkFrame(const EngineFrame &frame) const;
    bool isConfiguredCluster(const EngineFrame &frame) const;
    std::string fromAddress(ClientId requestId) const;
    void startSession(ClientId client);
    void joinSession(ClientId client);
    void markEnding(ClientId client);
    void endMarkedClients();
    void leaveClient(ClientId client, bool mayKeepLink);
    void endSession(bool mayKeepLink);

    WindowOps &window_;
    PacketEngine &engine_;
    const StartupSettings &startup_;
    BridgeState state_;
    // The registered callsign and the cluster's, as the engine writes them, to compare frames with.
    std::string ownCall_;
    std::string clusterCall_;
    // A start-up message box runs the event loop, so frames can come before start-up has finished. Once
    // registered, they are handled all the same: an engine whose client stops reading stalls for all its
    // clients. Listening, and listening again, belong to the running phase only.
    enum class Phase { Loading, Registering, Registered, Running, ShutDown };
    Phase phase_ = Phase::Loading;
    std::function<void(bool running)> startDone_;
    void closeEngine();
    std::function<void()> engineClosedHandler_;
    bool engineClosing_ = false;
    bool handling() const { return phase_ == Phase::Registered || phase_ == Phase::Running; }
    int handlerDepth_ = 0;

    ForwardingLog log_;
    Traffic traffic_{log_};
    ClientHub clients_;
    Downlink downlink_{clients_};
    LinkKeeper keeper_;
    Uplink uplink_;
    RadioPortCheck radioPorts_;
    RefusedClients refusedClients_{log_};
};

} // namespace corvantle
