// AgwEngine: the bridge's packet engine, spoken over the AGW Packet Engine TCP API with Qt Network.
//
// The facade over the connection (AgwConnection) and the links' data (AgwLinkPacer): it turns the bridge's
// requests into frames, keeps track of the user's own links and hands the listener what the bridge may see.
//
// It talks to a software packet engine (Dire Wolf and others) on a TCP port, registers the user's callsign,
// turns the bridge's requests into AGW frames and hands each frame the engine sends to the listener as it
// arrives. It hides what the bridge must never see twice (monitored copies of the user's own links), paces
// data to the radio with the engine's count of frames outstanding, notices an engine that went away or
// stopped answering, reports the links as down and reconnects on its own. Everything is asynchronous on the
// calling thread's event loop, registration and close included: each answers the listener once.
#pragma once

#include "AgwConnection.h"
#include "AgwLinkPacer.h"
#include "PacketEngine.h"
#include "SettingsTable.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvantle {

// Every wait and bound of the engine link; tests shorten them.
struct AgwTiming {
    std::chrono::milliseconds connectWait{2000};       // TCP connect, name lookup included
    std::chrono::milliseconds answerWait{3000};        // the engine's answer to a registration
    std::chrono::milliseconds retryInterval{5000};     // between reconnect attempts after a lost connection
    std::chrono::milliseconds closeDataWait{5000};     // at shutdown, for the links' data to leave
    std::chrono::milliseconds closeGrace{1000};        // at shutdown, for the links to go down
    std::chrono::milliseconds quietBeforeProbe{30000}; // nothing heard this long: ask for the version
    std::chrono::milliseconds probeAnswerWait{5000};   // no answer to that: the connection is dead
    std::chrono::milliseconds paceAnswerWait{1000};    // no answer to 'Y': send without pacing
    std::chrono::milliseconds pacePollInterval{250};   // asking 'Y' again while the window is full
    std::chrono::milliseconds sendBeforeDisconnectWait{30000}; // a link's last data, before its 'd'
};

// Bounds of what the library keeps in memory.
struct AgwLimits {
    std::size_t framesInFlight = 8;            // data frames outstanding in the engine per link
    std::size_t queuedDataBytes = 64 * 1024;   // data waiting for the radio, over all links
    std::size_t unsentToEngineBytes = 1 << 20; // written but not yet taken by the engine's socket
    std::size_t readChunkBytes = 64 * 1024;    // read and handled per event, so the window stays live
};

class AgwEngine final : public PacketEngine, private AgwPacerHost {
  public:
    // `address` is where the engine listens, as the settings name it; every registration and reconnect goes
    // there (the settings say a changed address applies at the next start).
    explicit AgwEngine(settings::EngineAddress address, AgwTiming timing = {}, AgwLimits limits = {});
    ~AgwEngine() override;
    AgwEngine(const AgwEngine &) = delete;
    AgwEngine &operator=(const AgwEngine &) = delete;

    void setListener(EngineListener *listener) override { listener_ = listener; }

    // Where the library says what went wrong (default: standard error) and, when set, every AGW frame sent
    // and received, one line each.
    using LogLine = std::function<void(const std::string &line)>;
    void setLog(LogLine warnings, LogLine frames);
    void registerCallsign(const std::string &callsign, const std::string &programName) override;
    std::string connect(const std::string &station, const std::vector<std::string> &digipeaters,
                        int radioPort) override;
    bool sendData(const std::string &station, const std::string &data, int radioPort) override;
    bool canTakeData() const override;
    void disconnect(const std::string &station, int radioPort) override;
    void close() override;
    bool reachable() const override { return connection_.isUp(); }
    // The same words whatever failed: the engine did not answer, refused, or the callsign does not fit.
    std::string registrationFailure() const override { return "Can't connect to AGW Packet Engine"; }

    // True while registered with a reachable engine.
    bool isUp() const { return connection_.isUp(); }

  private:
    void note(const std::string &line) const;
    void onUp();
    void onAttemptFailed(const std::string &why);
    void onLost();
    void answerLater(bool registered);
    void closeStep();
    void finishClose();

    void handleFrame(agw::Frame frame);
    void trackLinkNotice(const agw::Frame &frame);
    bool isOwnLinkTraffic(const agw::Frame &frame) const;
    void deliver(EngineFrame frame);
    void deliverLater(EngineFrame frame);
    void announceRoomLater();
    void onPortList(const agw::Frame &frame);

    agw::Frame request(char kind, const std::string &remote, std::uint8_t port) const;
    void pumpLater(const std::string &key);

    // What the pacer asks of its surroundings.
    bool sendToEngine(const agw::Frame &frame) override;
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void startTicks() override { paceTimer_.start(); }
    void stopTicks() override { paceTimer_.stop(); }
    bool ticking() const override { return paceTimer_.isActive(); }
    void queueShrank() override { announceRoomLater(); }

    settings::EngineAddress address_;
    AgwTiming timing_;
    AgwLimits limits_;
    EngineListener *listener_ = nullptr;
    LogLine warnings_;
    std::string ownCall_;            // as registered, written as callsign::normal writes it
    bool closing_ = false;           // close() was called: nothing more reaches the listener
    bool answerPending_ = false;     // registerCallsign() has not been answered yet
    std::uint64_t registration_ = 0; // counts registrations and closes, so an abandoned answer is dropped
    // The shutdown's steps: the links' data leaving, then the links going down; each with a deadline.
    enum class CloseStage { None, DataLeaving, LinksEnding };
    CloseStage closeStage_ = CloseStage::None;
    TimePoint closeDeadline_{};
    QTimer closePoll_; // looks at the shutdown's progress

    AgwConnection connection_;
    AgwLinkPacer pacer_; // the user's own links, keyed by the remote call as callsign::normal writes it
    QTimer paceTimer_;   // 'Y' answers and the next 'Y'
    bool wasFull_ = false;
    // The engine's radio ports, once its answer to 'G' on this connection has named any.
    std::optional<std::vector<int>> radioPorts_;
    std::set<std::string> linksToPump_; // links given data in this turn of the event loop
    bool pumpScheduled_ = false;
};

} // namespace corvantle
