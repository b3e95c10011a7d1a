// AgwEngine: the packet engine over the AGW Packet Engine TCP API.
//
// Sent to the engine: 'X' register, 'm' monitoring on, 'C' / 'v' connect, 'D' connected data, 'Y' frames
// outstanding on a link, 'd' disconnect, 'R' version (a sign of life), 'x' unregister. Received: answers to
// 'X', 'Y' and 'R' (kept here), 'C' / 'd' link notices, 'D' connected data, monitored 'I' 'U' 'S' 'T' frames
// and whatever else the engine sends, each handed to the listener as soon as it is whole.
// After each registration it also asks for the engine's port list ('G') and keeps its answer.
#include "AgwEngine.h"

#include "AgwCalls.h"
#include "AgwPortList.h"
#include "AgwTexts.h"
#include "Callsign.h"
#include "EngineFrames.h"

#include <algorithm>
#include <iostream>
#include <utility>
#include <vector>

namespace corvantle {
namespace {

using namespace agw;

std::uint32_t littleEndianCount(const std::string &data) {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(data.size(), 4); ++i)
        count |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    return count;
}

AgwConnectionTiming connectionTiming(const AgwTiming &timing) {
    return {timing.connectWait, timing.answerWait, timing.retryInterval, timing.quietBeforeProbe,
            timing.probeAnswerWait};
}

} // namespace

AgwEngine::AgwEngine(settings::EngineAddress address, AgwTiming timing, AgwLimits limits)
    : address_(std::move(address)), timing_(timing), limits_(limits),
      connection_(connectionTiming(timing), {limits.unsentToEngineBytes, limits.readChunkBytes},
                  {.up = [this] { onUp(); },
                   .failed = [this](const std::string &why) { onAttemptFailed(why); },
                   .lost = [this](const std::string &) { onLost(); },
                   .frame = [this](agw::Frame frame) { handleFrame(std::move(frame)); },
                   .bytesWritten = [this] { announceRoomLater(); }}),
      pacer_(*this, {limits.framesInFlight, timing.paceAnswerWait, timing.sendBeforeDisconnectWait}) {
    paceTimer_.setInterval(timing_.pacePollInterval);
    QObject::connect(&paceTimer_, &QTimer::timeout, connection_.context(), [this] { pacer_.tick(); });
    closePoll_.setInterval(std::chrono::milliseconds(20));
    QObject::connect(&closePoll_, &QTimer::timeout, connection_.context(), [this] { closeStep(); });
}

AgwEngine::~AgwEngine() {
    // Whoever listened or kept the log may be gone already: the last words go to standard error.
    listener_ = nullptr;
    setLog(nullptr, nullptr);
    // No time is left to wait: what is queued goes now, then the links' 'd' and the unregistration.
    if (connection_.isUp()) {
        closing_ = true;
        pacer_.endLinks();
        sendToEngine(request('x', {}, 0));
        connection_.flush();
    }
    connection_.close();
}

void AgwEngine::setLog(LogLine warnings, LogLine frames) {
    warnings_ = warnings;
    connection_.setLog(std::move(warnings), std::move(frames));
}

void AgwEngine::note(const std::string &line) const {
    if (warnings_)
        warnings_(line);
    else
        std::cerr << "corvantle: " << line << std::endl;
}

// ---- registration and the connection to the engine ----

void AgwEngine::registerCallsign(const std::string &callsign, const std::string &) {
    closePoll_.stop();
    closeStage_ = CloseStage::None;
    connection_.close();
    paceTimer_.stop();
    pacer_.clear();
    closing_ = false;
    ++registration_;
    answerPending_ = true;
    ownCall_ = callsign::normal(callsign);
    if (const std::string problem = callProblem(ownCall_); !problem.empty()) {
        note("the callsign \"" + callsign + "\" " + problem + "; it cannot be registered");
        answerPending_ = false;
        answerLater(false);
        return;
    }
    // The connect and answer timers bound the wait for the answer.
    connection_.open(address_.host, address_.port, ownCall_);
}

// From the event loop, not from inside the read of the engine's stream: the listener may open a message box.
void AgwEngine::answerLater(bool registered) {
    const std::uint64_t registration = registration_;
    QTimer::singleShot(0, connection_.context(), [this, registration, registered] {
        if (registration == registration_ && listener_ != nullptr)
            listener_->registrationAnswered(registered);
    });
}

void AgwEngine::onUp() {
    // Monitoring is a toggle that starts off on every new connection: one 'm' per connection.
    sendToEngine(request('m', {}, 0));
    // A restarted engine may have other channels: its list is asked on every connection.
    radioPorts_.reset();
    sendToEngine(request('G', {}, 0));
    if (std::exchange(answerPending_, false)) {
        connection_.setReconnects(true);
        answerLater(true);
        return;
    }
    // Back after a loss: the bridge may ask for the links its clients still want.
    const std::uint64_t registration = registration_;
    QTimer::singleShot(0, connection_.context(), [this, registration] {
        if (registration == registration_ && listener_ != nullptr && !closing_ && connection_.isUp())
            listener_->engineBack();
    });
}

// Only the first attempt fails this way; later ones are retried by the connection.
void AgwEngine::onAttemptFailed(const std::string &why) {
    note("cannot register with the packet engine at " + connection_.address() + ": " + why);
    if (std::exchange(answerPending_, false))
        answerLater(false);
}

// The engine went away: every link it held is gone, and the bridge must hear so or it believes them up.
void AgwEngine::onLost() {
    paceTimer_.stop();
    std::vector<EngineFrame> notices;
    for (const auto &[shownCall, port] : pacer_.links())
        notices.push_back(
            {FrameKind::LinkDown, port, callsign::normal(shownCall), ownCall_, disconnectNotice(shownCall)});
    pacer_.clear();
    // Later, not from inside whatever request found the connection gone.
    for (EngineFrame &notice : notices)
        deliverLater(std::move(notice));
    announceRoomLater();
}

void AgwEngine::close() {
    ++registration_; // an answer not given yet is abandoned
    answerPending_ = false;
    if (closeStage_ != CloseStage::None)
        return; // already closing: its engineClosed follows
    closing_ = true;
    if (!connection_.isUp()) {
        finishClose();
        return;
    }
    // An engine drops what it has not sent yet when told to disconnect: the last line a client typed
    // before the program closed (a logger's "bye") would never reach the cluster. Each link's data gets a
    // bounded time to leave; the 'd' that waited for it goes out then.
    closeStage_ = CloseStage::DataLeaving;
    closeDeadline_ = now() + timing_.closeDataWait;
    pacer_.holdDisconnectsUntil(closeDeadline_);
    closePoll_.start();
    closeStep();
}

void AgwEngine::closeStep() {
    if (!connection_.isUp()) {
        finishClose();
        return;
    }
    if (closeStage_ == CloseStage::DataLeaving) {
        if (!pacer_.dataLeft() && now() < closeDeadline_)
            return;
        // When a client goes, the engine drops its links without telling the other station, which then
        // keeps a stale session (a cluster refuses the next login). End them first and give them a moment.
        pacer_.endLinks();
        closeStage_ = CloseStage::LinksEnding;
        closeDeadline_ = now() + timing_.closeGrace;
        if (!connection_.isUp()) {
            finishClose();
            return;
        }
    }
    if (!pacer_.links().empty() && now() < closeDeadline_)
        return;
    sendToEngine(request('x', {}, 0));
    connection_.flush();
    finishClose();
}

void AgwEngine::finishClose() {
    closePoll_.stop();
    closeStage_ = CloseStage::None;
    connection_.close();
    paceTimer_.stop();
    pacer_.clear();
    QTimer::singleShot(0, connection_.context(), [this] {
        if (listener_ != nullptr)
            listener_->engineClosed();
    });
}

// ---- frames from the engine ----

void AgwEngine::handleFrame(agw::Frame frame) {
    switch (frame.kind) {
    case 'G':
        onPortList(frame);
        return;
    case 'Y':
        pacer_.outstandingAnswered(callsign::normal(remoteOf(frame, ownCall_)),
                                   littleEndianCount(frame.data));
        return;
    case 'C':
    case 'd':
        trackLinkNotice(frame);
        break;
    case 'I':
        // The engine also monitors the user's own links, before it delivers the same data as 'D', and reports
        // each retransmission again: only 'D' may reach the bridge.
        if (isOwnLinkTraffic(frame))
            return;
        break;
    default:
        break;
    }
    deliver(engineFrameOf(frame, ownCall_));
}

void AgwEngine::trackLinkNotice(const agw::Frame &frame) {
    // The frame's callsigns, normalised once for every comparison below.
    const std::string from = callsign::normal(frame.callFrom);
    const std::string to = callsign::normal(frame.callTo);
    // A link of another callsign registered with the same engine, to the same station, is not ours.
    if (from != ownCall_ && to != ownCall_)
        return;
    const bool ownCallFirst = from == ownCall_; // engines name the two ends in either order
    const std::string &remote = ownCallFirst ? to : from;
    if (frame.kind == 'd')
        pacer_.linkDown(remote);
    else
        pacer_.linkUp(remote, ownCallFirst ? frame.callTo : frame.callFrom, frame.port);
}

bool AgwEngine::isOwnLinkTraffic(const agw::Frame &frame) const {
    const std::string from = callsign::normal(frame.callFrom);
    const std::string to = callsign::normal(frame.callTo);
    return (from == ownCall_ && pacer_.holds(to)) || (to == ownCall_ && pacer_.holds(from));
}

void AgwEngine::deliver(EngineFrame frame) {
    // Nothing reaches the bridge once it has closed the engine, not even notices made up just before.
    if (listener_ != nullptr && !closing_ && !connection_.isClosed())
        listener_->frameArrived(frame);
}

void AgwEngine::deliverLater(EngineFrame frame) {
    QTimer::singleShot(0, connection_.context(), [this, frame = std::move(frame)] { deliver(frame); });
}

void AgwEngine::announceRoomLater() {
    if (!wasFull_ || !canTakeData())
        return;
    wasFull_ = false;
    QTimer::singleShot(0, connection_.context(), [this] {
        if (listener_ != nullptr && !closing_)
            listener_->readyForData();
    });
}

// The answer to the port list question of this connection. Dire Wolf takes a connect on a port it does not
// have to another channel, where the link comes up and every data frame is dropped: connects keep to the
// list. An answer that names no radio port is no list to keep to.
void AgwEngine::onPortList(const agw::Frame &frame) {
    std::vector<int> ports;
    for (const RadioPortChoice &choice : radioPortChoices(frame.data))
        ports.push_back(choice.number);
    if (ports.empty())
        return;
    radioPorts_ = ports;
    // Later, not from inside the read of the engine's stream: the listener may open a message box.
    const std::uint64_t generation = connection_.generation();
    QTimer::singleShot(0, connection_.context(), [this, generation, ports] {
        if (generation == connection_.generation() && listener_ != nullptr && !closing_ && connection_.isUp())
            listener_->radioPortsKnown(ports);
    });
}

// ---- requests ----

bool AgwEngine::sendToEngine(const agw::Frame &frame) {
    agw::Frame mine = frame;
    mine.callFrom = ownCall_;
    return connection_.send(mine);
}

agw::Frame AgwEngine::request(char kind, const std::string &remote, std::uint8_t port) const {
    agw::Frame frame;
    frame.port = port;
    frame.kind = kind;
    frame.callFrom = ownCall_;
    frame.callTo = remote;
    return frame;
}

std::string AgwEngine::connect(const std::string &station, const std::vector<std::string> &digipeaters,
                               int radioPort) {
    if (radioPort < 0 || radioPort > 255)
        return "radio port " + std::to_string(radioPort) + " is not 0 to 255";
    const std::string remote = callsign::normal(station);
    std::vector<std::string> digis;
    for (const std::string &digi : digipeaters)
        if (std::string call = callsign::normal(digi); !call.empty())
            digis.push_back(call);
    if (const std::string problem = routeProblem(remote, digis); !problem.empty())
        return problem;
    if (!connection_.isUp())
        return "the packet engine is not connected";
    if (radioPorts_ && std::find(radioPorts_->begin(), radioPorts_->end(), radioPort) == radioPorts_->end())
        return "radio port " + std::to_string(radioPort) +
               " is not one of the packet engine's radio ports (" + portNumbersText(*radioPorts_) + ")";
    const auto port = static_cast<std::uint8_t>(radioPort);
    agw::Frame frame = request('C', remote, port);
    if (!digis.empty()) {
        frame.kind = 'v';
        frame.data = digipeaterField(digis);
    }
    if (!sendToEngine(frame))
        return "the packet engine is not connected";
    // Counted as a link from now on: the monitored frames of the link can arrive before its 'C' notice.
    pacer_.startLink(remote, port);
    return {};
}

bool AgwEngine::canTakeData() const {
    // Data already written but not yet taken by the engine counts too: an engine that reads slowly holds the
    // client back instead of filling this program's memory.
    return pacer_.queuedBytes() + connection_.unsentBytes() < limits_.queuedDataBytes;
}

bool AgwEngine::sendData(const std::string &station, const std::string &data, int radioPort) {
    if (radioPort < 0 || radioPort > 255 || !connection_.isUp())
        return false;
    if (data.empty())
        return true;
    const std::string remote = callsign::normal(station);
    pacer_.queue(remote, data, static_cast<std::uint8_t>(radioPort));
    pumpLater(remote);
    if (!canTakeData())
        wasFull_ = true;
    return true;
}

void AgwEngine::disconnect(const std::string &station, int radioPort) {
    if (radioPort < 0 || radioPort > 255)
        return;
    pacer_.disconnect(callsign::normal(station), static_cast<std::uint8_t>(radioPort));
}

// What the caller hands over in one turn of the event loop (the lines of one read from a client) is packed
// into frames first; the pump runs at the end of the turn, once per burst, and never waits longer.
void AgwEngine::pumpLater(const std::string &key) {
    linksToPump_.insert(key);
    if (pumpScheduled_)
        return;
    pumpScheduled_ = true;
    QTimer::singleShot(0, connection_.context(), [this] {
        pumpScheduled_ = false;
        for (const std::string &due : std::exchange(linksToPump_, {}))
            pacer_.pump(due);
    });
}

} // namespace corvantle
