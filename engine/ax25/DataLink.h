// DataLink: one AX.25 version 2.0 connected-mode link (modulo 8) from the user's callsign to one station.
//
// It is a state machine with time passed in: the caller hands it received frames, requests and the time,
// calls tick() at nextDeadline(), and takes the frames to transmit and the events (link up, link down with
// its reason, text received in order and once) after each call. It owns no timer, socket or thread, so the
// whole protocol is tested with tables of frames and ticks.
//
// It opens links (SABM, retried), never accepts them: a SABM from any other station is answered with DM,
// frames for other callsigns are ignored. Text is sent in I frames of at most PACLEN bytes, at most MAXFRAME
// of them unacknowledged; a lost frame is recovered by REJ or, after T1, by polling; a busy station (RNR) is
// polled until it has room; a quiet link is polled after T3; N2 expiries of T1 without progress end the link.
// An N(R) that acknowledges what was never sent starts the link afresh under the user.
//
// T1 counts only the time in which an answer could have come: it starts when our frames can have left and
// stands still while the channel is busy (see ChannelTime). It follows the smoothed round trip measured from
// each answer matched to what it answers, and grows with each expiry. Acknowledgements wait T2 for the rest
// of the station's transmission, or ride on our next I frame.
#pragma once

#include "Ax25Frame.h"
#include "ChannelTime.h"
#include "LinkEvent.h"
#include "LinkSettings.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::ax25 {

class DataLink final {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    enum class State { Disconnected, Connecting, Connected, TimerRecovery, Disconnecting };

    explicit DataLink(Address own, LinkSettings settings = {});

    // Asks `remote` for a link through `via` (digipeaters, in order). False when a link is already up or
    // being opened or closed.
    bool connect(const Address &remote, const std::vector<Address> &via, TimePoint now);

    // Queues text for the link (while it is being opened or is up, and no disconnect was asked for);
    // otherwise the text is dropped. Small pieces are packed together, up to PACLEN per frame.
    void send(std::string_view text, TimePoint now);

    enum class Drain {
        AfterQueue, // once everything queued has been sent and acknowledged, or the drain limit passed
        Now,        // at once, dropping what is queued
    };
    // Ends the link; a connect still pending is withdrawn at once.
    void disconnect(TimePoint now, Drain drain = Drain::AfterQueue);

    void received(const Frame &frame, TimePoint now);
    void tick(TimePoint now);

    // Forgets the link without a word on the air, when the TNC itself is gone. No event follows.
    void drop();

    // When tick() is due next, if a timer runs.
    std::optional<TimePoint> nextDeadline() const;

    std::vector<Frame> takeFrames();
    std::vector<LinkEvent> takeEvents();

    State state() const { return state_; }
    const Address &own() const { return own_; }
    const Address &remote() const { return remote_; }
    // Text queued or sent and not yet acknowledged.
    std::size_t queuedBytes() const { return queuedBytes_; }
    // Whether `frame` is traffic of this link, in either direction.
    bool carries(const Frame &frame) const;
    // T1 as it stands now.
    std::chrono::milliseconds t1() const { return t1_; }

  private:
    static constexpr std::uint8_t kModulus = 8;

    void receivedInLink(const Frame &frame, TimePoint now);
    void whileConnecting(const Frame &frame, TimePoint now);
    void whileUp(const Frame &frame, TimePoint now);
    void whileDisconnecting(const Frame &frame, TimePoint now);
    void informationFrame(const Frame &frame, TimePoint now);
    void supervisoryFrame(const Frame &frame, TimePoint now);
    void answerStranger(const Frame &frame, TimePoint now);
    void heard(const Frame &frame, TimePoint now);
    bool answersAnOlderPoll(const Frame &answer, TimePoint now);
    void pollAnswered(const Frame &frame, TimePoint now);
    void reestablish(TimePoint now);

    void onT1(TimePoint now);
    void onT3(TimePoint now);

    Frame frameTo(const Address &destination, FrameType type, bool command, bool pollFinal) const;
    void hand(Frame frame, TimePoint now);
    void transmit(FrameType type, bool command, bool pollFinal, TimePoint now);
    void transmitPoll(FrameType type, TimePoint now);
    void transmitInformation(std::uint8_t ns, TimePoint now);
    void poll(TimePoint now);
    void sendQueued(TimePoint now);
    void retransmitFrom(std::uint8_t nr, TimePoint now);
    void acknowledge(std::uint8_t nr, TimePoint now);
    void flush(TimePoint now);
    void linkUp(TimePoint now);
    void reset();
    void requeueUnacknowledged();
    void goDown(DownReason reason);
    void startDisconnect(TimePoint now);
    void abandonQueue();

    bool validNr(std::uint8_t nr) const;
    std::uint8_t outstanding() const;
    void startT1(TimePoint now, bool timed = true);
    void stopT1(TimePoint now);
    void growT1();
    std::optional<TimePoint> t1Deadline() const;
    ChannelTime::Duration idleSinceT1Started(TimePoint now) const;
    void startT3(TimePoint now);
    std::chrono::milliseconds baseT1() const;
    std::chrono::milliseconds floorT1() const;

    Address own_;
    LinkSettings settings_;
    State state_ = State::Disconnected;
    Address remote_;
    std::vector<Address> via_;
    bool reestablishing_ = false; // a link reset (FRMR) in progress: no second "link up"

    std::uint8_t vs_ = 0; // next send sequence number
    std::uint8_t va_ = 0; // oldest unacknowledged
    std::uint8_t vr_ = 0; // next expected
    int rc_ = 0;          // T1 expiries since the request, or since the last progress of the link
    bool peerBusy_ = false;
    bool rejectSent_ = false;
    bool ackPending_ = false;
    bool disconnectWanted_ = false;

    std::deque<std::string> queue_;               // text not sent yet, PACLEN pieces
    std::array<std::string, kModulus> unacked_{}; // text of sent I frames, by N(S)
    std::size_t queuedBytes_ = 0;

    ChannelTime channel_;
    // T1 runs from t1Start_ for t1_ plus the busy time since: busyTotal() - t1BusyMark_.
    bool t1Running_ = false;
    bool t1Timed_ = false; // its answer measures a round trip (not after a partial acknowledgement or RNR)
    TimePoint t1Start_{};
    ChannelTime::Duration t1BusyMark_{};
    // When each poll (RR, SABM or DISC with P) not answered yet can have left, oldest first. An answer
    // answers the newest poll that had left before the answer began.
    std::deque<TimePoint> pollsOut_;
    bool olderAnswerSeen_ = false; // since the newest poll
    bool trustNextAnswer_ = false; // T1 ran out after an answer was taken for an older poll's
    std::optional<TimePoint> t2Deadline_;
    std::optional<TimePoint> t3Deadline_;
    std::optional<TimePoint> drainDeadline_;
    std::chrono::milliseconds t1_;
    std::optional<std::chrono::milliseconds> smoothedRoundTrip_;

    std::vector<Frame> frames_;
    std::vector<LinkEvent> events_;
};

} // namespace corvantle::ax25
