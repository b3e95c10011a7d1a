// AgwLinkPacer: the data of the user's links on its way to the radio, at the pace the radio takes it.
//
// Engines queue every data request without limit while the radio sends about 150 bytes a second at 1200
// baud. So the pacer keeps each link's data in a queue, packs the lines of a burst into frames, hands at most
// `framesInFlight` frames of a link to the engine and asks it with 'Y' how many are still unsent or
// unacknowledged. While a question stays unanswered longer than paceAnswerWait the link's data goes unpaced;
// an answer, however late, brings pacing back (Dire Wolf answers from a thread that also blocks on its
// monitor sends, so under load its answers are late, not lost). A link's 'd' waits for its data to leave,
// a bounded time: engines drop what they have not sent when told to disconnect.
//
// The pacer owns no socket and no timer: its host sends the frames, tells the time and ticks it.
#pragma once

#include "AgwFrame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace corvantle {

// What the pacer needs around it; the engine gives it a socket and a timer, tests a table.
class AgwPacerHost {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~AgwPacerHost() = default;
    // Writes a frame (callTo, port, kind, pid and data set); false when the connection could not take it,
    // which may have ended it and with it every link.
    virtual bool sendToEngine(const agw::Frame &frame) = 0;
    virtual TimePoint now() const = 0;
    // tick() is wanted every pacePollInterval from now on; stopTicks() ends that.
    virtual void startTicks() = 0;
    virtual void stopTicks() = 0;
    virtual bool ticking() const = 0;
    // Queued data left: there may be room for more.
    virtual void queueShrank() = 0;
};

struct AgwPacing {
    std::size_t framesInFlight = 8;                 // data frames outstanding in the engine per link
    std::chrono::milliseconds paceAnswerWait{1000}; // no answer to 'Y': send without pacing
    std::chrono::milliseconds sendBeforeDisconnectWait{30000}; // a link's last data, before its 'd'
};

class AgwLinkPacer final {
  public:
    // Dire Wolf drops the connection on more than 2122 bytes and LinBPQ on more than 400; 256 suits all.
    static constexpr std::size_t kMaxDataPerFrame = 256;

    AgwLinkPacer(AgwPacerHost &host, AgwPacing pacing) : host_(host), pacing_(pacing) {}

    // Links are keyed by the remote callsign, written by the caller as callsign::normal writes it.
    bool holds(const std::string &key) const { return links_.contains(key); }
    // A link asked for: a new one, whatever was queued for an earlier one to the same station dropped.
    void startLink(const std::string &key, std::uint8_t port);
    // The engine reported the link up: held from now on, shown as `shownCall`.
    void linkUp(const std::string &key, const std::string &shownCall, std::uint8_t port);
    // The link is down: its queue is dropped.
    void linkDown(const std::string &key);
    // Every link as the engine would report it: the station as shown and the radio port.
    std::vector<std::pair<std::string, std::uint8_t>> links() const;
    void clear();

    // Queues data for the link (held from now on); it leaves at the next pump().
    void queue(const std::string &key, const std::string &data, std::uint8_t port);
    // Hands the link's queue to the engine as far as pacing allows.
    void pump(const std::string &key);
    // The engine's answer to 'Y' for the link: `count` frames outstanding.
    void outstandingAnswered(const std::string &key, std::uint32_t count);
    // Disconnects the link: at once, or once its data has left. Sends the 'd' also for a link not held.
    void disconnect(const std::string &key, std::uint8_t port);
    // Asks again while a link has data waiting or frames in the engine; gives up on an engine that does not
    // answer; sends the 'd's whose wait is over.
    void tick();

    // At shutdown: every link's 'd' waits at most until `deadline` for its data to leave. False when no
    // data waits.
    bool holdDisconnectsUntil(AgwPacerHost::TimePoint deadline);
    // True once every paced link's data has left.
    bool dataLeft() const;
    // At shutdown: what is left goes now, unpaced, then each link's 'd' unless one went already.
    void endLinks();

    std::size_t queuedBytes() const { return queuedBytes_; }

  private:
    enum class Pacing { Unknown, Answers, Silent };
    struct Link {
        std::string shownCall;
        std::uint8_t port = 0;
        bool disconnectRequested = false;
        std::deque<std::string> queued; // 'D' payloads not yet given to the engine; the last may grow
        std::size_t inFlight = 0;       // frames given to the engine and not yet sent and acknowledged
        bool askedOutstanding = false;  // a 'Y' is on its way
        std::size_t sentSinceAsked = 0; // data frames handed to the engine after that 'Y'
        AgwPacerHost::TimePoint askedAt{};
        bool disconnectWhenSent = false; // a 'd' waits for the link's data to leave
        AgwPacerHost::TimePoint disconnectDeadline{};
        Pacing pacing = Pacing::Unknown;
    };

    static agw::Frame request(char kind, const std::string &key, std::uint8_t port);
    void askOutstanding(const std::string &key);
    void flushQueue(const std::string &key);
    void sendWaitingDisconnect(const std::string &key);
    void forgetQueue(Link &link);
    void keepTicking();

    AgwPacerHost &host_;
    AgwPacing pacing_;
    std::map<std::string, Link> links_;
    std::size_t queuedBytes_ = 0;
};

} // namespace corvantle
