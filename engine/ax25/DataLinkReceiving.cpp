// DataLink, receiving: what each frame from the station does to the link in each state, and the
// acknowledgements that received I and supervisory frames carry for our own frames.
#include "DataLink.h"

#include <utility>

namespace corvantle::ax25 {
namespace {

// The path back to a station: its digipeaters in reverse order, none of them repeated yet.
std::vector<Hop> pathBack(const std::vector<Hop> &heard) {
    std::vector<Hop> back;
    for (auto hop = heard.rbegin(); hop != heard.rend(); ++hop)
        back.push_back({hop->address, false});
    return back;
}

} // namespace

void DataLink::received(const Frame &frame, TimePoint now) {
    heard(frame, now);
    if (frame.destination != own_)
        return;
    // Heard before the last digipeater sent it on: the frame has not reached us yet.
    for (const Hop &hop : frame.via)
        if (!hop.repeated)
            return;
    if (state_ == State::Disconnected || frame.source != remote_) {
        answerStranger(frame, now);
        return;
    }
    receivedInLink(frame, now);
    flush(now);
}

// Every frame heard on the channel, anyone's, kept it busy, and kept ours waiting if they had not left yet.
void DataLink::heard(const Frame &frame, TimePoint now) {
    const std::size_t bytes = encode(frame).size();
    const TimePoint start = channel_.startOfHeard(bytes, now);
    const ChannelTime::Duration delay = channel_.heard(bytes, now);
    for (TimePoint &end : pollsOut_)
        if (end > start)
            end += delay;
}

// Polls look alike, and so do their answers (F set): an answer answers the newest poll that can have left
// before the answer began (the oldest, if none). It is an older poll's when a newer one is still out. Once T1
// has run out after such an answer, the next one is taken for the newest poll's whenever it came.
bool DataLink::answersAnOlderPoll(const Frame &answer, TimePoint now) {
    if (pollsOut_.empty())
        return false;
    if (std::exchange(trustNextAnswer_, false)) {
        pollsOut_.clear();
        return false;
    }
    const TimePoint start = channel_.startOfHeard(encode(answer).size(), now);
    std::size_t answered = 0;
    for (std::size_t i = 1; i < pollsOut_.size(); ++i)
        if (pollsOut_[i] <= start)
            answered = i;
    pollsOut_.erase(pollsOut_.begin(), pollsOut_.begin() + static_cast<std::ptrdiff_t>(answered + 1));
    const bool older = !pollsOut_.empty();
    olderAnswerSeen_ = olderAnswerSeen_ || older;
    return older;
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
void DataLink::answerStranger(const Frame &frame, TimePoint now) {
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
    channel_.transmit(encode(dm).size(), now);
    frames_.push_back(std::move(dm));
}

void DataLink::whileConnecting(const Frame &frame, TimePoint now) {
    switch (frame.type) {
    case FrameType::UA:
        // The UA to an earlier SABM does not measure the round trip of the last one.
        if (answersAnOlderPoll(frame, now))
            t1Timed_ = false;
        linkUp(now);
        return;
    case FrameType::DM:
        goDown(reestablishing_ ? DownReason::ByPeer : DownReason::Refused);
        return;
    case FrameType::SABM: // both sides asked at once
        transmit(FrameType::UA, false, frame.pollFinal, now);
        t1Timed_ = false;
        linkUp(now);
        return;
    case FrameType::SABME:
    case FrameType::DISC:
        transmit(FrameType::DM, false, frame.pollFinal, now);
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
        transmit(FrameType::UA, false, frame.pollFinal, now);
        requeueUnacknowledged();
        reestablishing_ = true; // the link stays up for the user
        t1Timed_ = false;
        linkUp(now);
        return;
    case FrameType::SABME:
        transmit(FrameType::DM, false, frame.pollFinal, now);
        goDown(DownReason::ByPeer);
        return;
    case FrameType::DISC:
        transmit(FrameType::UA, false, frame.pollFinal, now);
        goDown(DownReason::ByPeer);
        return;
    case FrameType::DM:
        goDown(DownReason::ByPeer);
        return;
    case FrameType::FRMR: // the station cannot go on
        reestablish(now);
        return;
    default:
        return;
    }
}

// The link starts afresh (SABM), under the user, who hears of it only if it fails; the text not acknowledged
// goes again.
void DataLink::reestablish(TimePoint now) {
    requeueUnacknowledged();
    reset();
    reestablishing_ = true;
    state_ = State::Connecting;
    rc_ = 0;
    t3Deadline_.reset();
    t1_ = std::max(t1_, baseT1());
    transmitPoll(FrameType::SABM, now);
}

void DataLink::whileDisconnecting(const Frame &frame, TimePoint now) {
    switch (frame.type) {
    case FrameType::UA:
    case FrameType::DM:
        goDown(DownReason::ByUs);
        return;
    case FrameType::DISC:
        transmit(FrameType::UA, false, frame.pollFinal, now);
        goDown(DownReason::ByUs);
        return;
    case FrameType::SABM:
    case FrameType::SABME:
        transmit(FrameType::DM, false, frame.pollFinal, now);
        return;
    default:
        if (frame.command && frame.pollFinal)
            transmit(FrameType::DM, false, true, now);
        return;
    }
}

// An N(R) outside the window acknowledges what was never sent: the two ends no longer agree, and the link
// starts afresh.
void DataLink::informationFrame(const Frame &frame, TimePoint now) {
    if (!validNr(frame.nr))
        return reestablish(now);
    acknowledge(frame.nr, now);
    if (frame.ns == vr_) {
        vr_ = (vr_ + 1) % kModulus;
        rejectSent_ = false;
        events_.push_back({LinkEvent::Kind::Data, DownReason::ByUs, frame.info});
        if (frame.pollFinal) {
            transmit(FrameType::RR, false, true, now);
        } else {
            // The acknowledgement waits until the rest of the station's transmission could have come.
            ackPending_ = true;
            t2Deadline_ = now + channel_.airTime(encode(frame).size()) + settings_.ackDelay;
        }
    } else if (rejectSent_) {
        // A gap already reported: wait for the retransmission, answering polls only.
        if (frame.pollFinal)
            transmit(FrameType::RR, false, true, now);
    } else {
        rejectSent_ = true;
        transmit(FrameType::REJ, false, frame.pollFinal, now);
    }
}

void DataLink::supervisoryFrame(const Frame &frame, TimePoint now) {
    if (!validNr(frame.nr))
        return reestablish(now);
    peerBusy_ = frame.type == FrameType::RNR;
    if (peerBusy_)
        t1Timed_ = false; // the time a busy station keeps us waiting is no round trip
    if (frame.command && frame.pollFinal)
        transmit(FrameType::RR, false, true, now);
    if (!frame.command && frame.pollFinal) {
        if (state_ == State::TimerRecovery)
            return pollAnswered(frame, now);
        answersAnOlderPoll(frame, now); // a late answer: the poll it answers is no longer out
    }
    acknowledge(frame.nr, now);
    if (frame.type == FrameType::REJ && state_ == State::Connected && outstanding() > 0)
        retransmitFrom(va_, now);
    // A busy station is polled after T1 until it has room again.
    if (peerBusy_ && state_ == State::Connected && !t1Running_)
        startT1(now, false);
}

// The answer to our poll says what arrived; what did not goes again. An answer to an older poll only
// acknowledges: the newest poll's answer, on its way, says the same or more.
void DataLink::pollAnswered(const Frame &frame, TimePoint now) {
    if (answersAnOlderPoll(frame, now)) {
        t1Timed_ = false;
        // Nothing left to send again: no need to wait for the newest answer.
        if (frame.nr != vs_)
            return acknowledge(frame.nr, now);
    }
    const bool progress = frame.nr != va_;
    acknowledge(frame.nr, now);
    stopT1(now);
    state_ = State::Connected;
    // Retries count on while the station answers and acknowledges nothing; a busy one is not failing.
    if (progress || outstanding() == 0 || peerBusy_)
        rc_ = 0;
    if (outstanding() > 0 && !peerBusy_)
        retransmitFrom(va_, now);
    if (outstanding() > 0 || peerBusy_) {
        if (!t1Running_)
            startT1(now, !peerBusy_);
    } else {
        startT3(now);
    }
}

} // namespace corvantle::ax25
