// DataLink, sending: frames addressed to the station, the window of unacknowledged I frames, the queue
// behind it, and sending again from a given N(R).
#include "DataLink.h"

#include <algorithm>

namespace corvantle::ax25 {
namespace {

bool isSupervisory(FrameType type) {
    return type == FrameType::RR || type == FrameType::RNR || type == FrameType::REJ;
}

} // namespace

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

} // namespace corvantle::ax25
