#include "KissEngine.h"

#include "Ax25Frame.h"
#include "Callsign.h"
#include "FrameText.h"
#include "KissEngineFrames.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace corvantle::kiss {
namespace {

std::optional<std::uint8_t> kissPortOf(int radioPort) {
    if (radioPort < 0 || radioPort > kMaxPort)
        return std::nullopt;
    return static_cast<std::uint8_t>(radioPort);
}

} // namespace

KissEngine::KissEngine(std::unique_ptr<KissTransport> transport, KissEngineOptions options)
    : transport_(std::move(transport)), options_(std::move(options)) {
    linkTimer_.setSingleShot(true);
    retryTimer_.setSingleShot(true);
    openTimer_.setSingleShot(true);
    closePoll_.setInterval(std::chrono::milliseconds(20));
    QObject::connect(&linkTimer_, &QTimer::timeout, &context_, [this] { onTimer(); });
    QObject::connect(&openTimer_, &QTimer::timeout, &context_, [this] {
        note("the KISS port " + transport_->name() + " did not open within " +
             std::to_string(options_.openWait.count()) + " ms");
        openAnswered(false);
    });
    QObject::connect(&closePoll_, &QTimer::timeout, &context_, [this] { onCloseCheck(); });
    QObject::connect(&retryTimer_, &QTimer::timeout, &context_, [this] { openPort(); });
    installHandlers();
}

KissEngine::~KissEngine() {
    // Whoever listened or kept the log may be gone already: the last words go to standard error.
    listener_ = nullptr;
    warnings_ = nullptr;
    frameLog_ = nullptr;
    // No time is left to wait: the link's DISC goes out, and the port closes at once.
    if (link_ && transport_->isOpen() && link_->state() != ax25::DataLink::State::Disconnected) {
        link_->disconnect(Clock::now(), ax25::DataLink::Drain::Now);
        pump();
    }
    finishClose();
    transport_->setHandlers({});
}

void KissEngine::note(const std::string &line) const {
    if (warnings_)
        warnings_(line);
    else
        std::fprintf(stderr, "corvantle: KISS engine: %s\n", line.c_str());
}

void KissEngine::logFrame(const char *direction, std::uint8_t port, const std::string &what) const {
    if (frameLog_)
        frameLog_(std::string(direction) + " port " + std::to_string(port) + " " + what);
}

// ---- the KISS port ----

void KissEngine::registerCallsign(const std::string &callsign, const std::string &) {
    closing_ = false;
    reopens_ = false;
    ++registration_;
    const std::optional<ax25::Address> own = ax25::Address::parse(callsign);
    refusedCall_ = own ? std::string() : callsign;
    if (!own) {
        note("the callsign \"" + callsign +
             "\" is no AX.25 callsign (1 to 6 letters or digits, SSID 0 to 15)");
        answerLater(false);
        return;
    }
    link_.emplace(*own, options_.link);
    if (transport_->isOpen()) {
        reopens_ = true;
        answerLater(true);
        return;
    }
    // The port opens in the background; the answer waits for it, at most openWait.
    awaitingOpen_ = true;
    openTimer_.start(options_.openWait);
    openPort();
}

std::string KissEngine::registrationFailure() const {
    if (!refusedCall_.empty())
        return "Your callsign \"" + refusedCall_ + "\" " + callsign::airProblem(refusedCall_);
    return "Can't connect to the KISS TNC at " + transport_->name();
}

void KissEngine::openPort() {
    opening_ = true;
    transport_->open();
}

// From the event loop, never from inside the call or a transport's handler.
void KissEngine::answerLater(bool registered) {
    const std::uint64_t registration = registration_;
    QTimer::singleShot(0, &context_, [this, registration, registered] {
        if (registration == registration_ && listener_ != nullptr)
            listener_->registrationAnswered(registered);
    });
}

// The port opened or failed while the registration waited for it, or the wait ran out.
void KissEngine::openAnswered(bool opened) {
    if (!std::exchange(awaitingOpen_, false))
        return;
    openTimer_.stop();
    if (opened) {
        reopens_ = true;
    } else {
        transport_->close();
    }
    answerLater(opened);
}

void KissEngine::installHandlers() {
    transport_->setHandlers({
        .opened = [this] { onOpened(); },
        .received = [this](std::string_view bytes) { onBytes(bytes); },
        .closed = [this](const std::string &why) { onClosed(why); },
    });
}

void KissEngine::onOpened() {
    opening_ = false;
    retryTimer_.stop();
    const bool back = portLost_;
    if (back)
        note("the KISS port " + transport_->name() + " is open again");
    portOpen_ = true;
    portLost_ = false;
    for (const TncParameter &parameter : options_.tncParameters)
        transport_->write(parameterFrame(parameter.port, parameter.command, parameter.value));
    openAnswered(true);
    if (std::optional<PendingConnect> pending = std::exchange(pendingConnect_, std::nullopt))
        startLink(pending->remote, pending->via, pending->port);
    if (back)
        announceBackLater();
}

// Back after a loss: the bridge may ask for the links its clients still want. From the event loop, as the
// registration's answer.
void KissEngine::announceBackLater() {
    const std::uint64_t registration = registration_;
    QTimer::singleShot(0, &context_, [this, registration] {
        if (registration == registration_ && listener_ != nullptr && !closing_ && portOpen_)
            listener_->engineBack();
    });
}

// The TNC is gone, and the link with it: the bridge hears that the link went down.
void KissEngine::onClosed(const std::string &why) {
    opening_ = false;
    // One line when the port goes away, not one per attempt to reopen it.
    if (portOpen_)
        note("the KISS port " + transport_->name() + " is lost: " + why);
    else if (!reopens_)
        note("the KISS port " + transport_->name() + " cannot be opened: " + why);
    portLost_ = portLost_ || portOpen_;
    portOpen_ = false;
    decoder_ = KissDecoder();
    if (link_ && link_->state() != ax25::DataLink::State::Disconnected) {
        const std::string remote = link_->remote().text();
        link_->drop();
        linkTimer_.stop();
        deliver(linkDownFrame(linkPort_, remote, link_->own().text()));
    }
    announceRoomLater();
    // A connect that waited for this attempt to open the port fails with it.
    endPendingConnect();
    if (reopens_ && !closing_)
        retryTimer_.start(options_.retryInterval);
    openAnswered(false);
}

// The link to the station of a connect that cannot go out is down, as the bridge hears for any link.
void KissEngine::endPendingConnect() {
    if (std::optional<PendingConnect> pending = std::exchange(pendingConnect_, std::nullopt))
        if (link_)
            deliverLater(linkDownFrame(pending->port, pending->remote.text(), link_->own().text()));
}

void KissEngine::onBytes(std::string_view bytes) {
    decoder_.feed(bytes);
    while (std::optional<Frame> kissFrame = decoder_.next()) {
        if (kissFrame->command != Command::Data)
            continue;
        const std::optional<ax25::Frame> frame = ax25::decode(kissFrame->payload);
        logFrame("KISS<", kissFrame->port,
                 frame ? ax25::frameText(*frame)
                       : "unreadable, " + std::to_string(kissFrame->payload.size()) + " bytes");
        if (frame)
            onFrame(kissFrame->port, *frame);
    }
}

// Frames of the user's own link go to the link; everything else with text is heard on the channel.
void KissEngine::onFrame(std::uint8_t port, const ax25::Frame &frame) {
    if (!link_)
        return;
    const bool ownLink = port == linkPort_ && link_->carries(frame);
    if (!ownLink)
        if (std::optional<EngineFrame> heard = monitoredFrameOf(frame, port))
            deliver(std::move(*heard));
    if (port == linkPort_) {
        link_->received(frame, Clock::now());
        pump();
    }
}

// ---- the bridge's requests ----

std::string KissEngine::connect(const std::string &station, const std::vector<std::string> &digipeaters,
                                int radioPort) {
    if (!link_)
        return "no callsign is registered";
    const std::optional<ax25::Address> remote = ax25::Address::parse(station);
    if (!remote)
        return "the station \"" + station + "\" is no AX.25 callsign";
    if (digipeaters.size() > ax25::kMaxDigipeaters)
        return std::to_string(digipeaters.size()) + " digipeaters are named, at most " +
               std::to_string(ax25::kMaxDigipeaters) + " fit";
    std::vector<ax25::Address> via;
    for (const std::string &digi : digipeaters) {
        const std::optional<ax25::Address> address = ax25::Address::parse(digi);
        if (!address)
            return "the digipeater \"" + digi + "\" is no AX.25 callsign";
        via.push_back(*address);
    }
    const std::optional<std::uint8_t> port = kissPortOf(radioPort);
    if (!port)
        return "radio port " + std::to_string(radioPort) + " is no KISS port (0 to 15)";
    if (link_->state() != ax25::DataLink::State::Disconnected)
        return "a link to " + link_->remote().text() + " is open already";
    if (pendingConnect_)
        return "a link to " + pendingConnect_->remote.text() + " is waiting for the KISS port already";
    if (!transport_->isOpen()) {
        if (!reopens_ || closing_)
            return "the KISS port " + transport_->name() + " is not open";
        // The port was lost and is being reopened: the connect waits for it rather than fail, and the port
        // is tried at once rather than at the next attempt.
        pendingConnect_ = PendingConnect{*remote, std::move(via), *port};
        if (!opening_) {
            retryTimer_.stop();
            openPort();
        }
        return {};
    }
    startLink(*remote, via, *port);
    return {};
}

void KissEngine::startLink(const ax25::Address &remote, const std::vector<ax25::Address> &via,
                           std::uint8_t port) {
    linkPort_ = port;
    link_->connect(remote, via, Clock::now());
    pump();
}

bool KissEngine::queueData(const std::string &station, const std::string &data) {
    if (!transport_->isOpen() || !isLinkStation(station))
        return false;
    link_->send(data, Clock::now());
    if (!canTakeData())
        wasFull_ = true;
    pump();
    return true;
}

bool KissEngine::canTakeData() const {
    return !link_ || link_->queuedBytes() < options_.queuedDataBytes;
}

void KissEngine::disconnect(const std::string &station, int radioPort) {
    const std::optional<ax25::Address> asked = ax25::Address::parse(station);
    if (pendingConnect_ && asked && *asked == pendingConnect_->remote) {
        endPendingConnect();
        return;
    }
    if (isLinkStation(station)) {
        link_->disconnect(Clock::now());
        pump();
        return;
    }
    // No link to that station: say so, as AGW engines do.
    if (link_)
        if (const std::optional<ax25::Address> remote = ax25::Address::parse(station))
            deliverLater(
                linkDownFrame(kissPortOf(radioPort).value_or(0), remote->text(), link_->own().text()));
}

// The text just typed (a logger's "bye") still reaches the station: the link takes it, and goes down on the
// air once the station has acknowledged it all, or once closeDataWait has passed, before the port closes, so
// the station keeps no stale link.
void KissEngine::close() {
    ++registration_; // an answer not given yet is abandoned
    awaitingOpen_ = false;
    openTimer_.stop();
    reopens_ = false;
    retryTimer_.stop();
    pendingConnect_.reset(); // the bridge hears nothing more once it closes the engine
    if (linkEnding_)
        return; // already closing: its engineClosed follows
    if (link_ && transport_->isOpen() && link_->state() != ax25::DataLink::State::Disconnected) {
        const Clock::time_point now = Clock::now();
        link_->disconnect(now, ax25::DataLink::Drain::AfterQueue);
        pump();
        linkEnding_ = true;
        closeDataDeadline_ = now + options_.closeDataWait;
        closeDeadline_ = closeDataDeadline_ + options_.closeGrace;
        closePoll_.start();
        return;
    }
    finishClose();
    QTimer::singleShot(0, &context_, [this] {
        if (listener_ != nullptr)
            listener_->engineClosed();
    });
}

void KissEngine::onCloseCheck() {
    using State = ax25::DataLink::State;
    const Clock::time_point now = Clock::now();
    const State state = link_ ? link_->state() : State::Disconnected;
    if (state != State::Disconnected && transport_->isOpen() && now < closeDeadline_) {
        const bool draining = state == State::Connected || state == State::TimerRecovery;
        if (draining && now >= closeDataDeadline_) {
            // The station acknowledged not all of it in time: what is left is dropped, the link goes down.
            link_->disconnect(now, ax25::DataLink::Drain::Now);
            pump();
        }
        if (!draining)
            closeDeadline_ = std::min(closeDeadline_, now + options_.closeGrace);
        return;
    }
    finishClose();
    if (listener_ != nullptr)
        listener_->engineClosed();
}

void KissEngine::finishClose() {
    linkEnding_ = false;
    opening_ = false;
    closePoll_.stop();
    closing_ = true;
    linkTimer_.stop();
    if (link_)
        link_->drop();
    transport_->close();
    portOpen_ = portLost_ = false;
}

bool KissEngine::isLinkStation(const std::string &station) const {
    if (!link_ || link_->state() == ax25::DataLink::State::Disconnected)
        return false;
    const std::optional<ax25::Address> address = ax25::Address::parse(station);
    return address && *address == link_->remote();
}

// ---- the link's output ----

void KissEngine::onTimer() {
    if (!link_)
        return;
    link_->tick(Clock::now());
    pump();
}

// The link's frames to the TNC, its events to the bridge, and its next timer.
void KissEngine::pump() {
    if (!link_)
        return;
    for (const ax25::Frame &frame : link_->takeFrames()) {
        logFrame("KISS>", linkPort_, ax25::frameText(frame));
        transport_->write(dataFrame(linkPort_, ax25::encode(frame)));
    }
    for (const ax25::LinkEvent &event : link_->takeEvents())
        deliver(linkFrameOf(event, linkPort_, link_->remote(), link_->own()));
    scheduleTimer();
    announceRoomLater();
}

void KissEngine::scheduleTimer() {
    const std::optional<Clock::time_point> deadline = link_->nextDeadline();
    if (!deadline) {
        linkTimer_.stop();
        return;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    linkTimer_.start(std::max(wait, std::chrono::milliseconds(0)));
}

// In order, and never from inside the listener: a bridge that answers a frame with a request sees the
// frames that request causes after the one it is handling.
void KissEngine::deliver(EngineFrame frame) {
    pending_.push_back(std::move(frame));
    if (delivering_)
        return;
    delivering_ = true;
    while (!pending_.empty()) {
        EngineFrame next = std::move(pending_.front());
        pending_.pop_front();
        if (listener_ != nullptr && !closing_)
            listener_->frameArrived(next);
    }
    delivering_ = false;
}

// Room for more text is announced from the event loop, never from inside a request of the bridge's.
void KissEngine::announceRoomLater() {
    if (!wasFull_ || !canTakeData())
        return;
    wasFull_ = false;
    QTimer::singleShot(0, &context_, [this] {
        if (listener_ != nullptr && !closing_)
            listener_->readyForData();
    });
}

void KissEngine::deliverLater(EngineFrame frame) {
    QTimer::singleShot(0, &context_, [this, frame = std::move(frame)] { deliver(frame); });
}

} // namespace corvantle::kiss
