// DataLink: the requests (connect, send, disconnect), the timers and the link's state. What received frames
// do is in DataLinkReceiving.cpp, what goes out and when in DataLinkSending.cpp.
#include "DataLink.h"

#include <algorithm>
#include <utility>

namespace corvantle::ax25 {

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
