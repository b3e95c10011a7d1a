// DataLink: the requests (connect, send, disconnect), the timers and the link's state. What received frames
// do is in DataLinkReceiving.cpp, what goes out and when in DataLinkSending.cpp.
#include "DataLink.h"

#include <algorithm>
#include <utility>

namespace corvantle::ax25 {

DataLink::DataLink(Address own, LinkSettings settings)
    : own_(std::move(own)), settings_(settings), channel_(settings.bitRate, settings.keyUp),
      t1_(settings.frack) {
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
    transmitPoll(FrameType::SABM, now);
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
    t1Running_ = false;
    t3Deadline_.reset();
    drainDeadline_.reset();
    disconnectWanted_ = false;
    reestablishing_ = false;
}

// ---- timers ----

void DataLink::tick(TimePoint now) {
    if (const std::optional<TimePoint> t1 = t1Deadline(); t1 && now >= *t1) {
        t1Running_ = false;
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

// T1 ran out: the request or poll goes again, with a longer T1, until N2 expiries have made no progress.
void DataLink::onT1(TimePoint now) {
    if (state_ == State::Disconnected)
        return;
    if (rc_ >= settings_.retries) {
        if (state_ == State::Connected || state_ == State::TimerRecovery)
            transmit(FrameType::DM, false, false, now);
        return goDown(state_ == State::Disconnecting ? DownReason::ByUs : DownReason::RetriesExhausted);
    }
    ++rc_;
    growT1();
    // An answer taken for an older poll's, and none since: the next answer is the newest poll's.
    trustNextAnswer_ = std::exchange(olderAnswerSeen_, false);
    switch (state_) {
    case State::Connecting:
        transmitPoll(FrameType::SABM, now);
        return;
    case State::Disconnecting:
        transmitPoll(FrameType::DISC, now);
        return;
    case State::Connected:
    case State::TimerRecovery:
        state_ = State::TimerRecovery;
        poll(now);
        return;
    case State::Disconnected:
        return;
    }
}

void DataLink::onT3(TimePoint now) {
    if (state_ != State::Connected)
        return;
    state_ = State::TimerRecovery;
    poll(now);
}

// T1 starts counting once our frames can have left, and stands still while the channel is busy.
void DataLink::startT1(TimePoint now, bool timed) {
    t1Running_ = true;
    t1Timed_ = timed;
    t1Start_ = now;
    t1BusyMark_ = channel_.busyTotal() - (channel_.clearAt(now) - now);
}

// A frame is heard only once it has ended, so T1 cannot stand still while an answer is on the air: it allows
// for the longest frame the station may be sending, key-up included, on top.
std::optional<DataLink::TimePoint> DataLink::t1Deadline() const {
    if (!t1Running_)
        return std::nullopt;
    const std::size_t longestFrame = settings_.paclen + 16 + 7 * via_.size();
    return t1Start_ + t1_ + channel_.transmissionTime(longestFrame) + (channel_.busyTotal() - t1BusyMark_);
}

ChannelTime::Duration DataLink::idleSinceT1Started(TimePoint now) const {
    const ChannelTime::Duration idle = (now - t1Start_) - (channel_.busyTotal() - t1BusyMark_);
    return std::max(idle, ChannelTime::Duration::zero());
}

// An answer to what T1 was started for measures the round trip, the busy channel left out; T1 follows the
// smoothed round trip, within bounds.
void DataLink::stopT1(TimePoint now) {
    if (t1Running_ && t1Timed_ && settings_.adaptT1) {
        using std::chrono::milliseconds;
        const auto roundTrip = std::chrono::duration_cast<milliseconds>(idleSinceT1Started(now));
        const milliseconds previous = smoothedRoundTrip_.value_or(baseT1() / 2);
        smoothedRoundTrip_ = (previous * 7 + roundTrip) / 8;
        t1_ = std::clamp(*smoothedRoundTrip_ * 2, floorT1(), std::max(floorT1(), settings_.maxT1));
    }
    t1Running_ = false;
}

// Each expiry lengthens T1 by a quarter, so that a round trip longer than T1 gets its answer in a few tries.
void DataLink::growT1() {
    if (settings_.adaptT1)
        t1_ = std::min(t1_ + t1_ / 4, std::max(t1_, settings_.maxT1));
}

void DataLink::startT3(TimePoint now) {
    t3Deadline_ = now + settings_.keepalive;
}

std::chrono::milliseconds DataLink::baseT1() const {
    return settings_.frack * static_cast<int>(2 * via_.size() + 1);
}

std::chrono::milliseconds DataLink::floorT1() const {
    return settings_.minT1 * static_cast<int>(2 * via_.size() + 1);
}

std::optional<DataLink::TimePoint> DataLink::nextDeadline() const {
    std::optional<TimePoint> next;
    for (const std::optional<TimePoint> &deadline : {t1Deadline(), t2Deadline_, t3Deadline_, drainDeadline_})
        if (deadline && (!next || *deadline < *next))
            next = deadline;
    return next;
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
    pollsOut_.clear();
    olderAnswerSeen_ = trustNextAnswer_ = false;
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
