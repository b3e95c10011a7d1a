#include "DataLink.h"

#include <algorithm>
#include <utility>

namespace corvantle::ax25 {
namespace {

bool isSupervisory(FrameType type) {
    return type == FrameType::RR || type == FrameType::RNR || type == FrameType::REJ;
}

// The path back to a station: its digipeaters in reverse order, none of them repeated yet.
std::vector<Hop> pathBack(const std::vector<Hop> &heard) {
    std::vector<Hop> back;
    for (auto hop = heard.rbegin(); hop != heard.rend(); ++hop)
        back.push_back({hop->address, false});
    return back;
}

} // namespace

DataLink::DataLink(Address own, LinkSettings settings)
    : own_(std::move(own)), settings_(settings), t1_(settings.frack) {
    settings_.maxFrame = std::clamp<std::size_t>(settings_.maxFrame, 1, kModulus - 1);
    settings_.paclen = std::max<std::size_t>(settings_.paclen, 1);
}

// ---- requests ----

bool DataLink::connect(const Address &remote, const std::vector<Address> &via, TimePoint now) {
    if (state_ != State::Disconnected)
        return false;
    remote_ = remote;
    via_.assign(via.begin(),
                via.begin() + static_cast<std::ptrdiff_t>(std::min(via.size(), kMaxDigipeaters)));
    reset();
    t1_ = baseT1();
    smoothedRoundTrip_.reset();
    state_ = State::Connecting;
    rc_ = 0;
    transmit(FrameType::SABM, true, true);
    startT1(now);
    return true;
}

void DataLink::send(std::string_view text, TimePoint now) {
    const bool open =
        state_ == State::Connecting || state_ == State::Connected || state_ == State::TimerRecovery;
    if (!open || disconnectWanted_ || text.empty())
        return;
    queuedBytes_ += text.size();
    while (!text.empty()) {
        if (queue_.empty() || queue_.back().size() >= settings_.paclen)
            queue_.emplace_back();
        const std::size_t room = settings_.paclen - queue_.back().size();
        queue_.back() += text.substr(0, room);
        text.remove_prefix(std::min(room, text.size()));
    }
    flush(now);
}

void DataLink::disconnect(TimePoint now, Drain drain) {
    switch (state_) {
    case State::Disconnected:
    case State::Disconnecting:
        return;
    case State::Connecting:
        queue_.clear();
        queuedBytes_ = 0;
        startDisconnect(now);
        return;
    case State::Connected:
    case State::TimerRecovery:
        if (drain == Drain::Now) {
            abandonQueue();
            startDisconnect(now);
            return;
        }
        if (!disconnectWanted_)
            drainDeadline_ = now + settings_.drainLimit;
        disconnectWanted_ = true;
        flush(now);
        return;
    }
}

void DataLink::abandonQueue() {
    queue_.clear();
    for (std::string &text : unacked_)
        text.clear();
    va_ = vs_;
    queuedBytes_ = 0;
}

void DataLink::drop() {
    reset();
    queue_.clear();
    queuedBytes_ = 0;
    state_ = State::Disconnected;
    t1Deadline_.reset();
    t3Deadline_.reset();
    drainDeadline_.reset();
    disconnectWanted_ = false;
    reestablishing_ = false;
}

// ---- received frames ----

void DataLink::received(const Frame &frame, TimePoint now) {
    if (frame.destination != own_)
        return;
    // Heard before the last digipeater sent it on: the frame has not reached us yet.
    for (const Hop &hop : frame.via)
        if (!hop.repeated)
            return;
    if (state_ == State::Disconnected || frame.source != remote_) {
        answerStranger(frame);
        return;
    }
    receivedInLink(frame, now);
    flush(now);
}

void DataLink::receivedInLink(const Frame &frame, TimePoint now) {
    switch (state_) {
    case State::Connecting:
        whileConnecting(frame, now);
        return;
    case State::Connected:
    case State::TimerRecovery:
        whileUp(frame, now);
        return;
    case State::Disconnecting:
        whileDisconnecting(frame, now);
        return;
    case State::Disconnected:
        return;
    }
}

// Nobody gets a link from us: a request for one, or a poll, is answered with DM.
void DataLink::answerStranger(const Frame &frame) {
    const bool asksForLink = frame.type == FrameType::SABM || frame.type == FrameType::SABME;
    if (!frame.command || !(asksForLink || frame.type == FrameType::DISC || frame.pollFinal))
        return;
    Frame dm;
    dm.destination = frame.source;
    dm.source = own_;
    dm.via = pathBack(frame.via);
    dm.command = false;
    dm.type = FrameType::DM;
    dm.pollFinal = frame.pollFinal;
    frames_.push_back(std::move(dm));
}

void DataLink::whileConnecting(const Frame &frame, TimePoint now) {
    switch (frame.type) {
    case FrameType::UA:
        linkUp(now);
        return;
    case FrameType::DM:
        goDown(reestablishing_ ? DownReason::ByPeer : DownReason::Refused);
        return;
    case FrameType::SABM: // both sides asked at once
        transmit(FrameType::UA, false, frame.pollFinal);
        linkUp(now);
        return;
    case FrameType::SABME:
    case FrameType::DISC:
        transmit(FrameType::DM, false, frame.pollFinal);
        return;
    default:
        return;
    }
}

void DataLink::whileUp(const Frame &frame, TimePoint now) {
    switch (frame.type) {
    case FrameType::I:
        informationFrame(frame, now);
        return;
    case FrameType::RR:
    case FrameType::RNR:
    case FrameType::REJ:
        supervisoryFrame(frame, now);
        return;
    case FrameType::SABM: // the station starts the link afresh; what it had not acknowledged goes again
        transmit(FrameType::UA, false, frame.pollFinal);
        requeueUnacknowledged();
        reestablishing_ = true; // the link stays up for the user
        linkUp(now);
        return;
    case FrameType::SABME:
        transmit(FrameType::DM, false, frame.pollFinal);
        goDown(DownReason::ByPeer);
        return;
    case FrameType::DISC:
        transmit(FrameType::UA, false, frame.pollFinal);
        goDown(DownReason::ByPeer);
        return;
    case FrameType::DM:
        goDown(DownReason::ByPeer);
        return;
    case FrameType::FRMR: // the station cannot go on: start the link afresh, keeping the text
        requeueUnacknowledged();
        reset();
        reestablishing_ = true;
        state_ = State::Connecting;
        rc_ = 0;
        t3Deadline_.reset();
        transmit(FrameType::SABM, true, true);
        startT1(now);
        return;
    default:
        return;
    }
}

void DataLink::whileDisconnecting(const Frame &frame, TimePoint) {
    switch (frame.type) {
    case FrameType::UA:
    case FrameType::DM:
        goDown(DownReason::ByUs);
        return;
    case FrameType::DISC:
        transmit(FrameType::UA, false, frame.pollFinal);
        goDown(DownReason::ByUs);
        return;
    case FrameType::SABM:
    case FrameType::SABME:
        transmit(FrameType::DM, false, frame.pollFinal);
        return;
    default:
        if (frame.command && frame.pollFinal)
            transmit(FrameType::DM, false, true);
        return;
    }
}

void DataLink::informationFrame(const Frame &frame, TimePoint now) {
    if (!validNr(frame.nr))
        return;
    acknowledge(frame.nr, now);
    if (frame.ns == vr_) {
        vr_ = (vr_ + 1) % kModulus;
        rejectSent_ = false;
        events_.push_back({LinkEvent::Kind::Data, DownReason::ByUs, frame.info});
        if (frame.pollFinal)
            transmit(FrameType::RR, false, true);
        else
            ackPending_ = true;
    } else if (rejectSent_) {
        // A gap already reported: wait for the retransmission, answering polls only.
        if (frame.pollFinal)
            transmit(FrameType::RR, false, true);
    } else {
        rejectSent_ = true;
        transmit(FrameType::REJ, false, frame.pollFinal);
    }
}

void DataLink::supervisoryFrame(const Frame &frame, TimePoint now) {
    if (!validNr(frame.nr))
        return;
    peerBusy_ = frame.type == FrameType::RNR;
    if (frame.command && frame.pollFinal)
        transmit(FrameType::RR, false, true);
    if (state_ == State::TimerRecovery && !frame.command && frame.pollFinal) {
        // The answer to our poll says what arrived; what did not goes again.
        acknowledge(frame.nr, now);
        stopT1(now);
        rc_ = 0;
        state_ = State::Connected;
        if (outstanding() > 0 && !peerBusy_)
            retransmitFrom(va_, now);
        if (outstanding() > 0 || peerBusy_)
            startT1(now);
        else
            startT3(now);
        return;
    }
    acknowledge(frame.nr, now);
    if (frame.type == FrameType::REJ && state_ == State::Connected && outstanding() > 0)
        retransmitFrom(va_, now);
    // A busy station is polled after T1 until it has room again.
    if (peerBusy_ && state_ == State::Connected && !t1Deadline_)
        startT1(now);
}

// ---- timers ----

void DataLink::tick(TimePoint now) {
    if (t1Deadline_ && now >= *t1Deadline_) {
        t1Deadline_.reset();
        onT1(now);
    }
    if (t3Deadline_ && now >= *t3Deadline_) {
        t3Deadline_.reset();
        onT3(now);
    }
    // A station that keeps the text waiting (busy, or acknowledging nothing) does not hold the disconnect.
    if (drainDeadline_ && now >= *drainDeadline_) {
        drainDeadline_.reset();
        if (disconnectWanted_ && (state_ == State::Connected || state_ == State::TimerRecovery)) {
            abandonQueue();
            startDisconnect(now);
        }
    }
    flush(now);
}

void DataLink::onT1(TimePoint now) {
    switch (state_) {
    case State::Connecting:
        if (rc_ >= settings_.retries)
            return goDown(DownReason::RetriesExhausted);
        ++rc_;
        transmit(FrameType::SABM, true, true);
        startT1(now);
        return;
    case State::Connected:
        rc_ = 1;
        state_ = State::TimerRecovery;
        poll(now);
        return;
    case State::TimerRecovery:
        if (rc_ >= settings_.retries) {
            transmit(FrameType::DM, false, false);
            return goDown(DownReason::RetriesExhausted);
        }
        ++rc_;
        poll(now);
        return;
    case State::Disconnecting:
        if (rc_ >= settings_.retries)
            return goDown(DownReason::ByUs);
        ++rc_;
        transmit(FrameType::DISC, true, true);
        startT1(now);
        return;
    case State::Disconnected:
        return;
    }
}

void DataLink::onT3(TimePoint now) {
    if (state_ != State::Connected)
        return;
    rc_ = 1;
    state_ = State::TimerRecovery;
    poll(now);
}

void DataLink::startT1(TimePoint now) {
    t1Started_ = now;
    t1Deadline_ = now + t1_;
}

// An acknowledgement that came without retries measures the round trip; T1 follows it, within bounds.
void DataLink::stopT1(TimePoint now) {
    if (t1Deadline_ && settings_.adaptT1 && rc_ == 0) {
        using std::chrono::milliseconds;
        const auto roundTrip = std::chrono::duration_cast<milliseconds>(now - t1Started_);
        const milliseconds previous = smoothedRoundTrip_.value_or(baseT1() / 2);
        smoothedRoundTrip_ = (previous * 7 + roundTrip) / 8;
        t1_ = std::clamp(*smoothedRoundTrip_ * 2, settings_.minT1, settings_.maxT1);
    }
    t1Deadline_.reset();
}

void DataLink::startT3(TimePoint now) {
    t3Deadline_ = now + settings_.keepalive;
}

std::chrono::milliseconds DataLink::baseT1() const {
    return settings_.frack * static_cast<int>(2 * via_.size() + 1);
}

std::optional<DataLink::TimePoint> DataLink::nextDeadline() const {
    std::optional<TimePoint> next;
    for (const std::optional<TimePoint> &deadline : {t1Deadline_, t2Deadline_, t3Deadline_, drainDeadline_})
        if (deadline && (!next || *deadline < *next))
            next = deadline;
    return next;
}

// ---- sending ----

Frame DataLink::frameTo(const Address &destination, FrameType type, bool command, bool pollFinal) const {
    Frame frame;
    frame.destination = destination;
    frame.source = own_;
    for (const Address &digi : via_)
        frame.via.push_back({digi, false});
    frame.command = command;
    frame.type = type;
    frame.pollFinal = pollFinal;
    return frame;
}

void DataLink::transmit(FrameType type, bool command, bool pollFinal) {
    Frame frame = frameTo(remote_, type, command, pollFinal);
    if (isSupervisory(type)) {
        frame.nr = vr_;
        ackPending_ = false;
        t2Deadline_.reset();
    }
    frames_.push_back(std::move(frame));
}

void DataLink::transmitInformation(std::uint8_t ns, TimePoint now) {
    Frame frame = frameTo(remote_, FrameType::I, true, false);
    frame.ns = ns;
    frame.nr = vr_;
    frame.info = unacked_[ns];
    frames_.push_back(std::move(frame));
    ackPending_ = false;
    t2Deadline_.reset();
    if (!t1Deadline_)
        startT1(now);
    t3Deadline_.reset();
}

void DataLink::poll(TimePoint now) {
    transmit(FrameType::RR, true, true);
    startT1(now);
}

void DataLink::sendQueued(TimePoint now) {
    if (state_ != State::Connected || peerBusy_)
        return;
    while (!queue_.empty() && outstanding() < settings_.maxFrame) {
        unacked_[vs_] = std::move(queue_.front());
        queue_.pop_front();
        transmitInformation(vs_, now);
        vs_ = (vs_ + 1) % kModulus;
    }
}

void DataLink::retransmitFrom(std::uint8_t nr, TimePoint now) {
    for (std::uint8_t ns = nr; ns != vs_; ns = (ns + 1) % kModulus)
        transmitInformation(ns, now);
    startT1(now);
}

void DataLink::acknowledge(std::uint8_t nr, TimePoint now) {
    bool advanced = false;
    while (va_ != nr) {
        queuedBytes_ -= unacked_[va_].size();
        unacked_[va_].clear();
        va_ = (va_ + 1) % kModulus;
        advanced = true;
    }
    if (state_ != State::Connected)
        return;
    if (outstanding() == 0 && !peerBusy_) {
        if (t1Deadline_)
            stopT1(now);
        startT3(now); // the station was heard: the link is not idle
    } else if (advanced) {
        startT1(now);
    }
}

// After each event: queued text out while the window allows, the disconnect once all is acknowledged, and an
// acknowledgement that no I frame carried.
void DataLink::flush(TimePoint now) {
    sendQueued(now);
    if (disconnectWanted_ && state_ == State::Connected && queue_.empty() && outstanding() == 0)
        startDisconnect(now);
    if (!ackPending_ || (state_ != State::Connected && state_ != State::TimerRecovery))
        return;
    if (settings_.ackDelay.count() == 0 || (t2Deadline_ && now >= *t2Deadline_))
        transmit(FrameType::RR, false, false);
    else if (!t2Deadline_)
        t2Deadline_ = now + settings_.ackDelay;
}

void DataLink::startDisconnect(TimePoint now) {
    disconnectWanted_ = false;
    drainDeadline_.reset();
    state_ = State::Disconnecting;
    rc_ = 0;
    t3Deadline_.reset();
    transmit(FrameType::DISC, true, true);
    startT1(now);
}

// ---- state ----

void DataLink::linkUp(TimePoint now) {
    reset();
    state_ = State::Connected;
    rc_ = 0;
    stopT1(now);
    startT3(now);
    if (!reestablishing_)
        events_.push_back({LinkEvent::Kind::Up, DownReason::ByUs, {}});
    reestablishing_ = false;
}

void DataLink::reset() {
    vs_ = va_ = vr_ = 0;
    for (std::string &text : unacked_)
        text.clear();
    peerBusy_ = rejectSent_ = ackPending_ = false;
    t2Deadline_.reset();
    queuedBytes_ = 0;
    for (const std::string &text : queue_)
        queuedBytes_ += text.size();
}

void DataLink::requeueUnacknowledged() {
    for (std::uint8_t ns = vs_; ns != va_;) {
        ns = (ns + kModulus - 1) % kModulus;
        queue_.push_front(std::move(unacked_[ns]));
        unacked_[ns].clear();
    }
    vs_ = va_;
}

void DataLink::goDown(DownReason reason) {
    drop();
    events_.push_back({LinkEvent::Kind::Down, reason, {}});
}

bool DataLink::validNr(std::uint8_t nr) const {
    return static_cast<std::uint8_t>((nr + kModulus - va_) % kModulus) <= outstanding();
}

std::uint8_t DataLink::outstanding() const {
    return static_cast<std::uint8_t>((vs_ + kModulus - va_) % kModulus);
}

bool DataLink::carries(const Frame &frame) const {
    if (state_ == State::Disconnected)
        return false;
    return (frame.source == remote_ && frame.destination == own_) ||
           (frame.source == own_ && frame.destination == remote_);
}

std::vector<Frame> DataLink::takeFrames() {
    return std::exchange(frames_, {});
}

std::vector<LinkEvent> DataLink::takeEvents() {
    return std::exchange(events_, {});
}

} // namespace corvantle::ax25
