// DataLink, receiving: what each frame from the station does to the link in each state, and the
// acknowledgements that received I and supervisory frames carry for our own frames.
#include "DataLink.h"

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

} // namespace corvantle::ax25
