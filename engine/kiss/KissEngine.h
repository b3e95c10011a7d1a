// KissEngine: the bridge's packet engine on a KISS TNC (a hardware TNC in KISS mode, or an engine's KISS
// port), running the program's own AX.25 link.
//
// It speaks KISS over a KissTransport (TCP with TcpKissTransport), runs one DataLink for the user's callsign
// and hands the bridge the same EngineFrames the AGW engine does: LinkUp and LinkDown notices with the AGW
// engines' texts, LinkData for text from the station, and the I and UI frames heard between other stations
// as HeardInformation and HeardUnnumbered. Radio port N is the TNC's KISS port N (0 to 15). A lost TNC is
// reported as the link going down and is reopened every few seconds; a connect asked meanwhile opens it at
// once and goes out when it is open. Everything runs on the calling thread's event loop; only registration
// at start-up and close at shutdown wait, a bounded time.
#pragma once

#include "DataLink.h"
#include "KissDecoder.h"
#include "KissFrame.h"
#include "KissTransport.h"
#include "PacketEngine.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvantle::kiss {

// A TNC parameter sent each time the KISS port opens (TXDELAY, PERSIST, SLOTTIME, TXTAIL, FULLDUP).
struct TncParameter {
    std::uint8_t port = 0;
    Command command = Command::TxDelay;
    std::uint8_t value = 0;
};

struct KissEngineOptions {
    ax25::LinkSettings link;                       // MAXFRAME, PACLEN, FRACK, T3, N2
    std::vector<TncParameter> tncParameters;       // none by default: the TNC keeps its own
    std::chrono::milliseconds openWait{3000};      // registration: the KISS port must open within this
    std::chrono::milliseconds retryInterval{5000}; // between reopening attempts after a loss
    std::chrono::milliseconds closeDataWait{5000}; // at shutdown, for the text queued to be acknowledged
    std::chrono::milliseconds closeGrace{3000};    // then for the link to go down
    std::size_t queuedDataBytes = 64 * 1024;       // text waiting for the radio before canTakeData is false
};

class KissEngine final : public PacketEngine {
  public:
    explicit KissEngine(std::unique_ptr<KissTransport> transport, KissEngineOptions options = {});
    ~KissEngine() override;
    KissEngine(const KissEngine &) = delete;
    KissEngine &operator=(const KissEngine &) = delete;

    void setListener(EngineListener *listener) override { listener_ = listener; }
    // Where the engine says what went wrong (default: standard error) and, when set, every AX.25 frame sent
    // and received, one line each ("KISS> port 0 N0CALL>GB7DXC SABM C P").
    using LogLine = std::function<void(const std::string &line)>;
    void setLog(LogLine warnings, LogLine frames = {}) {
        warnings_ = std::move(warnings);
        frameLog_ = std::move(frames);
    }

    void registerCallsign(const std::string &callsign, const std::string &programName) override;
    std::string connect(const std::string &station, const std::vector<std::string> &digipeaters,
                        int radioPort) override;
    bool sendData(const std::string &station, const std::string &data, int) override {
        return queueData(station, data);
    }
    // Queues text for the link to `station`; false when there is no such link (or no open KISS port), and
    // nothing of it will leave.
    bool queueData(const std::string &station, const std::string &data);
    bool canTakeData() const override;
    void disconnect(const std::string &station, int radioPort) override;
    void close() override;
    // False from the loss of the TNC's port until it is open again.
    bool reachable() const override { return !portLost_; }
    // The TNC named as the settings give it ("Can't connect to the KISS TNC at /dev/ttyUSB0"), or the
    // callsign that is no AX.25 address.
    std::string registrationFailure() const override;

    // True while the KISS port is open.
    bool isUp() const { return transport_->isOpen(); }

  private:
    using Clock = ax25::DataLink::Clock;

    void note(const std::string &line) const;
    void answerLater(bool registered);
    void announceBackLater();
    void openAnswered(bool opened);
    void onCloseCheck();
    void finishClose();
    void installHandlers();
    void onOpened();
    void onClosed(const std::string &why);
    void onBytes(std::string_view bytes);
    void onFrame(std::uint8_t port, const ax25::Frame &frame);
    void logFrame(const char *direction, std::uint8_t port, const std::string &what) const;
    void onTimer();
    void openPort();
    void startLink(const ax25::Address &remote, const std::vector<ax25::Address> &via, std::uint8_t port);
    void endPendingConnect();
    void pump();
    void scheduleTimer();
    void deliver(EngineFrame frame);
    void deliverLater(EngineFrame frame);
    void announceRoomLater();
    bool isLinkStation(const std::string &station) const;

    std::unique_ptr<KissTransport> transport_;
    KissEngineOptions options_;
    EngineListener *listener_ = nullptr;
    LogLine warnings_;
    LogLine frameLog_;
    std::optional<ax25::DataLink> link_; // from registration on
    std::string refusedCall_;            // the last registration's callsign, when it is no AX.25 address
    std::uint8_t linkPort_ = 0;
    KissDecoder decoder_;
    QObject context_; // owns the timers' connections and the later deliveries
    QTimer linkTimer_;
    QTimer retryTimer_;
    QTimer openTimer_;                      // registration: the wait for the port to open
    QTimer closePoll_;                      // shutdown: the wait for the link to go down
    Clock::time_point closeDataDeadline_{}; // shutdown: the text still unacknowledged then is dropped
    Clock::time_point closeDeadline_{};     // shutdown: the port closes then, link down or not
    std::uint64_t registration_ = 0; // counts registrations and closes, so an abandoned answer is dropped
    bool awaitingOpen_ = false;      // registerCallsign() waits for the port to open
    bool linkEnding_ = false;        // close() waits for the link to go down
    std::deque<EngineFrame> pending_;
    bool delivering_ = false;
    bool wasFull_ = false;
    bool reopens_ = false; // after a loss; not at start-up and not once closed
    bool closing_ = false;
    bool portOpen_ = false;
    bool portLost_ = false; // lost and not open again yet
    bool opening_ = false;  // an open() of the port is under way
    // A connect asked while the port was reopening: it goes out once the port is open.
    struct PendingConnect {
        ax25::Address remote;
        std::vector<ax25::Address> via;
        std::uint8_t port = 0;
    };
    std::optional<PendingConnect> pendingConnect_;
};

} // namespace corvantle::kiss
