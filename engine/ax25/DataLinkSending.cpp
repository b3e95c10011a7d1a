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

// Every frame goes out through here, so the channel's estimate knows what the TNC has been handed.
void DataLink::hand(Frame frame, TimePoint now) {
    channel_.transmit(encode(frame).size(), now);
    frames_.push_back(std::move(frame));
}

void DataLink::transmit(FrameType type, bool command, bool pollFinal, TimePoint now) {
    Frame frame = frameTo(remote_, type, command, pollFinal);
    if (isSupervisory(type)) {
        frame.nr = vr_;
        ackPending_ = false;
        t2Deadline_.reset();
    }
    hand(std::move(frame), now);
}

// A command with P set (SABM, DISC, or an RR poll) that T1 waits to see answered.
void DataLink::transmitPoll(FrameType type, TimePoint now) {
    transmit(type, true, true, now);
    pollsOut_.push_back(channel_.clearAt(now));
    if (pollsOut_.size() > kModulus) // the oldest is long lost
        pollsOut_.pop_front();
    olderAnswerSeen_ = false;
    startT1(now);
}

void DataLink::transmitInformation(std::uint8_t ns, TimePoint now) {
    Frame frame = frameTo(remote_, FrameType::I, true, false);
    frame.ns = ns;
    frame.nr = vr_;
    frame.info = unacked_[ns];
    hand(std::move(frame), now);
    ackPending_ = false;
    t2Deadline_.reset();
    if (!t1Running_)
        startT1(now);
    t3Deadline_.reset();
}

void DataLink::poll(TimePoint now) {
    transmitPoll(FrameType::RR, now);
}

// While the station's transmission probably goes on (T2 runs), our frames wait for its end: they could not
// leave sooner on a half-duplex channel, and then they carry the acknowledgement of all of it.
void DataLink::sendQueued(TimePoint now) {
    if (state_ != State::Connected || peerBusy_ || (t2Deadline_ && now < *t2Deadline_))
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
    if (advanced)
        rc_ = 0; // progress: the retries count afresh
    if (state_ != State::Connected)
        return;
    if (outstanding() == 0 && !peerBusy_) {
        if (t1Running_)
            stopT1(now);
        startT3(now); // the station was heard: the link is not idle
    } else if (advanced) {
        // The rest of the window was sent before this answer came: its own answer measures nothing.
        startT1(now, false);
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
    if (!t2Deadline_ || now >= *t2Deadline_)
        transmit(FrameType::RR, false, false, now);
}

void DataLink::startDisconnect(TimePoint now) {
    disconnectWanted_ = false;
    drainDeadline_.reset();
    state_ = State::Disconnecting;
    rc_ = 0;
    t3Deadline_.reset();
    transmitPoll(FrameType::DISC, now);
}

} // namespace corvantle::ax25
