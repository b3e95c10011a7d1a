// The bridge: the main window's logic and owner of the bridge state.
//
// It reaches the window, the telnet socket, the packet engine and the settings only through the interfaces
// passed in, so its handlers run in tests without a display. The engine hands it frames as they arrive;
// the window's half-second tick keeps the counter, the auto-minimize and the listener up to date, lets
// out text held back waiting for a line end, and times the link's own care: the pauses before asking for
// a dropped link again, and how long a link waits for a client to come back.
//
// One session (one link to the cluster station) serves up to `maxClients` telnet clients at a time: the
// cluster's text goes to each of them, and each one's lines go to the cluster as its own requests.
#pragma once

#include "BridgeState.h"
#include "ClientLines.h"
#include "ClusterLink.h"
#include "PacketEngine.h"
#include "RadioLines.h"
#include "SessionLog.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantle {

class WindowOps;
class TelnetSocket;
class SettingsStore;

using ClientId = int32_t;

// The caption of every message box.
inline constexpr const char *kApplicationTitle = "ZR8QOD Logger - AGWPE Telnet Corvantle";

// Bounds of what the bridge holds for one session.
inline constexpr std::size_t kMaxUnsentToClientBytes = 1 << 20;   // each client that reads nothing
inline constexpr std::size_t kMaxLinesWaitingForLinkBytes = 4096; // typed before the link is up
inline constexpr std::size_t kClientReadBytes = 4096;             // read from the client per step

// The pauses before asking again for a dropped link: the first, doubled after each attempt up to the
// longest, and back to the first once a link has stayed up for kStableLinkSeconds.
inline constexpr int kFirstRelinkPauseSeconds = 10;
inline constexpr int kLongestRelinkPauseSeconds = 300;
inline constexpr int kStableLinkSeconds = 180;
// With quiet keepalives, at most one empty line from the clients reaches the cluster in this time.
inline constexpr int kKeepaliveIntervalSeconds = 300;
// A client that arrives while the last link is still closing waits this long for its end before it is told
// that no new link can be asked for. An engine first sends what the link still holds, then exchanges the
// disconnect with the other station, with retries.
inline constexpr int kPreviousLinkCloseWaitSeconds = 90;

class Bridge final : public EngineListener {
  public:
    Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, SettingsStore &store);

    // Where the bridge says what happens; by default only warnings, on standard error.
    void setLog(SessionLog &log) { log_ = &log; }

    BridgeState &state() { return state_; }
    const BridgeState &state() const { return state_; }

    // Settings changed in Preferences. The registered callsign, the byte counter and the link's state stay
    // the bridge's own; a link that is up keeps the station, radio port and route it was made with, and the
    // new ones apply from the next link. Monitor Mode switched on takes down the link that is up.
    void applySettings(const BridgeState &settings);

    // Start-up, before the window is shown: reads the settings and asks the engine to register; the rest
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

    std::size_t clientCount() const { return liveClientCount(); }

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

  private:
    // One telnet client of the session: the line it is typing, and ticks since its last text. A client
    // whose end is decided (it left, failed or is closed by the bridge) is only marked while a handler runs,
    // and removed once the handler is done, so that no handler finds its state gone halfway through.
    struct Client {
        ClientLines lines;
        int heldTicks = 0;
        bool ending = false;
    };
    // A line typed while the link came up, and whose it is.
    struct WaitingLine {
        ClientId client;
        std::string text;
    };
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
    void linkCameUp(const EngineFrame &frame);
    void linkWentDown(const EngineFrame &frame);
    void previousLinkWentDown();
    void afterLinkEnded();
    bool relayRadioText(const std::string &text);
    void flushRadioText();

    void startSession(ClientId client);
    void joinSession(ClientId client);
    void requestLink();
    void waitForPreviousLink();
    void previousLinkWaitWhenDue();
    bool linesWaitForLink() const;
    void scheduleRelink();
    void relinkWhenDue();
    void stopRelinking();
    void keepLinkWhileDue();
    std::string reconnectingLine(int seconds) const;

    void readClientText(ClientId client);
    bool mustWaitForAnothersLine(ClientId client) const {
        return linePartlySent_.has_value() && *linePartlySent_ != client;
    }
    void sendToCluster(ClientId client, const std::string &text);
    void sendLinesOfLeftClients();
    void endLineOfLeavingClient(ClientId client);
    void readEveryClient();
    void letOutHeldClientLines();
    bool canTakeClientText() const;
    void takeClientLine(ClientId client, const ClientLine &line);
    bool keepOffTheAir(const ClientLine &line);
    void sendHeldLines();
    void dropHeldLines();

    // Sends text to one client with telnet line ends; when that fails, ends that client and returns false.
    bool sendToClient(ClientId client, const std::string &text);
    // The same to every client; false when none is left.
    bool sendToAll(const std::string &text);
    std::vector<ClientId> clientIds() const;
    bool hasClient(ClientId client) const;
    std::size_t liveClientCount() const;
    bool noClients() const { return liveClientCount() == 0; }
    int maxClients() const;
    void sendDisconnectRequest();
    void disconnectStranger(const EngineFrame &frame);
    bool attemptMatchesSettings() const;
    std::vector<std::string> routeInSettings() const;
    void closeLink();
    void setLinkState(ClusterLink::State state);
    void markEnding(ClientId client);
    void endMarkedClients();
    void closeEveryClient();
    void leaveClient(ClientId client, bool mayKeepLink);
    void endSession(bool mayKeepLink);
    void endClientBecause(ClientId client, const std::string &reason);
    void updateListening();
    void listenAgain();
    void noteEachMinute();

    WindowOps &window_;
    TelnetSocket &socket_;
    PacketEngine &engine_;
    SettingsStore &store_;
    BridgeState state_;
    // A start-up message box runs the event loop, so frames can come before start-up has finished. Once
    // registered, they are handled all the same: an engine whose client stops reading stalls for all its
    // clients. Listening, and listening again, belong to the running phase only.
    enum class Phase { Loading, Registering, Registered, Running, ShutDown };
    Phase phase_ = Phase::Loading;
    std::function<void(bool running)> startDone_;
    void closeEngine();
    std::function<void()> engineClosedHandler_;
    bool engineClosing_ = false;
    std::string lastListenError_;
    int handlerDepth_ = 0;

    WarningsOnlyLog warningsOnly_;
    SessionLog *log_ = &warningsOnly_;
    // Bytes relayed each way since the last note in the log, and ticks since then.
    int64_t bytesFromRadio_ = 0;
    int64_t bytesToRadio_ = 0;
    int ticksSinceMinuteNote_ = 0;

    ClusterLink link_;
    std::map<ClientId, Client> clients_;
    RadioLines radioLines_;
    // Ticks since the last radio text arrived while part of a line is held; at 2 the held text goes out.
    int radioHeldTicks_ = 0;
    std::deque<WaitingLine> linesWaitingForLink_;
    std::size_t linesWaitingBytes_ = 0;
    // A client whose long line has gone out in part: until its end goes too, the other clients' text waits
    // (in their sockets, or here for a client that left), so that no line reaches the cluster cut by another.
    std::optional<ClientId> linePartlySent_;
    std::deque<WaitingLine> linesOfLeftClients_;

    // Clients arrived while the last link was closing: the connect goes out once its down notice has come.
    bool connectAfterPreviousLink_ = false;
    int previousLinkTicksLeft_ = 0;

    bool relinking_ = false;  // the link dropped under the clients: waiting to ask again, or asking
    int relinkTicksLeft_ = 0; // while waiting: ticks until the next attempt
    int relinkPauseSeconds_ = kFirstRelinkPauseSeconds; // the pause before the next attempt
    int ticksLinkUp_ = 0;
    int keepTicksLeft_ = 0; // the link stays up without clients for this long

    int ticksSinceKeepalive_ = 0;      // since an empty line last went to the cluster
    bool keepaliveSent_ = false;       // one has, since start-up
    int64_t keepalivesKeptOff_ = 0;    // empty lines not sent, since the last note in the log
    int64_t allKeepalivesKeptOff_ = 0; // the same since start-up

    bool radioPortsHeard_ = false;     // the engine has listed its radio ports since start-up
    std::string radioPortProblemSaid_; // what the log last said of the radio port in use and that list
};

} // namespace corvantle
