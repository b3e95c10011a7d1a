// The bridge: the main window's logic and owner of the bridge state.
//
// It reaches the window, the telnet socket, the packet engine and the settings only through the interfaces
// passed in, so its handlers run in tests without a display. The engine hands it frames as they arrive;
// the window's half-second tick keeps the counter, the auto-minimize and the listener up to date and lets
// out text held back waiting for a line end.
#pragma once

#include "BridgeState.h"
#include "ClientLines.h"
#include "PacketEngine.h"
#include "RadioLines.h"
#include "SessionLog.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace corvantle {

class WindowOps;
class TelnetSocket;
class SettingsStore;

// The caption of every message box.
inline constexpr const char *kApplicationTitle = "ZR8QOD Logger - AGWPE Telnet Corvantle";

// Bounds of what the bridge holds for one session.
inline constexpr std::size_t kMaxUnsentToClientBytes = 1 << 20;  // a client that reads nothing
inline constexpr std::size_t kMaxLinesWaitingForLinkBytes = 4096; // typed before the link is up
inline constexpr std::size_t kClientReadBytes = 4096;            // read from the client per step

class Bridge final : public EngineListener {
  public:
    Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, SettingsStore &store);

    // Where the bridge says what happens; by default only warnings, on standard error.
    void setLog(SessionLog &log) { log_ = &log; }

    BridgeState &state() { return state_; }
    const BridgeState &state() const { return state_; }

    // Start-up, before the window is shown. Returns false when it ended the program (no engine, or the
    // local port cannot be listened on); the window must then not be shown.
    bool start();

    void onTick();               // every 500 ms: counter, auto-minimize re-arm, listening, held text
    void onAutoMinimizeTimer();
    void onClientArrival(int32_t requestId);
    void onClientData();
    void onClientGone();
    void onClientError(int32_t number, const std::string &description);

    // Shutdown when the main window closes: runs once per program, later calls do nothing.
    void shutDown();

    // From the packet engine.
    void frameArrived(const EngineFrame &frame) override;
    void readyForData() override;

  private:
    // The session's link to the cluster station.
    enum class Link { Down, Pending, Up };

    void clusterFrame(const EngineFrame &frame);
    void monitorFrame(const EngineFrame &frame);
    void clusterLinkUp(const EngineFrame &frame);
    void clusterLinkDown(const EngineFrame &frame);
    bool isCluster(const std::string &station) const;
    bool relayRadioText(const std::string &text);
    void flushRadioText();

    void requestLink();
    bool canTakeClientText() const;
    void takeClientLine(const ClientLine &line);
    void sendHeldLines();
    void dropHeldLines();

    // Sends text to the client with telnet line ends; when that fails, ends the session and returns false.
    bool sendToClient(const std::string &text);
    bool clientConnected() const;
    void sendDisconnectRequest(const std::string &station);
    void setLink(Link link);
    void endSession();
    void endSessionBecause(const std::string &reason);
    void listenAgain();
    void noteBytesRelayed();

    WindowOps &window_;
    TelnetSocket &socket_;
    PacketEngine &engine_;
    SettingsStore &store_;
    BridgeState state_;
    // A start-up message box runs the event loop, so frames can come before start-up has finished. Once
    // registered, they are handled all the same: an engine whose client stops reading stalls for all its
    // clients. Listening, and listening again, belong to the running phase only.
    enum class Phase { Loading, Registered, Running, ShutDown };
    Phase phase_ = Phase::Loading;
    std::string lastListenError_;

    WarningsOnlyLog warningsOnly_;
    SessionLog *log_ = &warningsOnly_;
    // Bytes relayed each way since the last note in the log, and ticks since then.
    int64_t bytesFromRadio_ = 0;
    int64_t bytesToRadio_ = 0;
    int ticksSinceBytesNote_ = 0;

    Link link_ = Link::Down;
    ClientLines clientLines_;
    RadioLines radioLines_;
    // Ticks since the last text arrived while part of a line is held; at 2 the held text goes out.
    int clientHeldTicks_ = 0;
    int radioHeldTicks_ = 0;
    std::deque<std::string> linesWaitingForLink_;
    std::size_t linesWaitingBytes_ = 0;
};

} // namespace corvantle
