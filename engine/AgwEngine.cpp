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
#include "EngineFrames.h"
#include "SettingsStore.h"
#include "SettingsTable.h"

#include <QEventLoop>
#include <QSignalBlocker>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string_view>
#include <utility>
#include <vector>

namespace corvantle {
namespace {

using namespace agw;

// Dire Wolf drops the connection on more than 2122 bytes and LinBPQ on more than 400; 256 suits every engine.
constexpr std::size_t kMaxDataPerFrame = 256;
constexpr std::uint8_t kPidText = 0xF0;

// One frame as a line of the frame log: kind, radio port, stations, length, and the first bytes of the
// data with control bytes escaped.
std::string frameLine(const char *direction, const agw::Frame &frame) {
    constexpr std::size_t kShownBytes = 40;
    std::string shown;
    for (const char c : std::string_view(frame.data).substr(0, kShownBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    if (frame.data.size() > kShownBytes)
        shown += "...";
    return std::string(direction) + " " + (frame.kind ? std::string(1, frame.kind) : "\\0") + " port " +
           std::to_string(frame.port) + " " + frame.callFrom + ">" + frame.callTo + " " +
           std::to_string(frame.data.size()) + " bytes \"" + shown + "\"";
}

std::uint32_t littleEndianCount(const std::string &data) {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(data.size(), 4); ++i)
        count |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    return count;
}

} // namespace

void AgwEngine::note(const std::string &line) const {
    if (warnings_)
        warnings_(line);
    else
        std::cerr << "corvantle: " << line << std::endl;
}

AgwEngine::OwnLink AgwEngine::newLink(const std::string &call, std::uint8_t port) {
    OwnLink link;
    link.shownCall = call;
    link.port = port;
    return link;
}

AgwEngine::AgwEngine(SettingLookup lookup, AgwTiming timing, AgwLimits limits)
    : lookup_(std::move(lookup)), timing_(timing), limits_(limits) {
    // Qt keeps at most this much of the engine's stream itself; the rest waits in the kernel.
    socket_.setReadBufferSize(static_cast<qint64>(limits_.readChunkBytes) * 4);
    for (QTimer *timer : {&attemptTimer_, &retryTimer_, &quietTimer_, &probeTimer_})
        timer->setSingleShot(true);
    paceTimer_.setInterval(timing_.pacePollInterval);

    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] { onConnected(); });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { onReadyRead(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_,
                     [this] { onSocketTrouble("closed by the engine"); });
    QObject::connect(&socket_, &QAbstractSocket::errorOccurred, &socket_,
                     [this] { onSocketTrouble(socket_.errorString().toStdString()); });
    QObject::connect(&attemptTimer_, &QTimer::timeout, &socket_, [this] {
        onAttemptFailed(state_ == State::Connecting
                            ? "no connection within " + std::to_string(timing_.connectWait.count()) + " ms"
                            : "no answer to the registration within " +
                                  std::to_string(timing_.answerWait.count()) + " ms");
    });
    QObject::connect(&retryTimer_, &QTimer::timeout, &socket_, [this] { startConnecting(); });
    QObject::connect(&quietTimer_, &QTimer::timeout, &socket_, [this] { onQuiet(); });
    QObject::connect(&probeTimer_, &QTimer::timeout, &socket_, [this] {
        loseConnection("no answer within " + std::to_string(timing_.probeAnswerWait.count()) +
                       " ms to a version request");
    });
    QObject::connect(&paceTimer_, &QTimer::timeout, &socket_, [this] { onPaceTick(); });
    QObject::connect(&socket_, &QTcpSocket::bytesWritten, &socket_, [this] { announceRoomLater(); });
}

AgwEngine::~AgwEngine() {
    // Whoever listened or kept the log may be gone already: the last words go to standard error.
    listener_ = nullptr;
    warnings_ = nullptr;
    frameLog_ = nullptr;
    close();
}

// ---- registration and the connection to the engine ----

bool AgwEngine::registerCallsign(const std::string &callsign, const std::string &programName) {
    abortSocket();
    ownLinks_.clear();
    queuedBytes_ = 0;
    closing_ = false;
    reconnects_ = false;
    ownCall_ = normalCall(callsign);
    if (const std::string problem = callProblem(ownCall_); !problem.empty()) {
        note("the callsign \"" + callsign + "\" " + problem + "; it cannot be registered");
        state_ = State::Closed;
        return false;
    }
    readEngineAddress(programName);
    startConnecting();
    // The window is not shown yet; the event loop runs, and the connect and answer timers end the wait.
    while (state_ == State::Connecting || state_ == State::Registering)
        QEventLoop().processEvents(QEventLoop::WaitForMoreEvents);
    if (state_ != State::Up)
        return false;
    reconnects_ = true;
    return true;
}

// The keys, defaults and checks are the settings table's; the lookup only says where the values live.
void AgwEngine::readEngineAddress(const std::string &programName) {
    struct LookupStore final : SettingsStore {
        explicit LookupStore(const SettingLookup &lookup) : lookup(lookup) {}
        std::string readSetting(const std::string &appName, const std::string &section,
                                const std::string &key, const std::string &defaultText) const override {
            return lookup(appName, section, key, defaultText);
        }
        bool writeSetting(const std::string &, const std::string &, const std::string &, const std::string &,
                          std::string &error) override {
            error = "read only";
            return false;
        }
        std::string location() const override { return {}; }
        const SettingLookup &lookup;
    };
    std::stringstream warnings;
    const settings::EngineAddress address =
        settings::readEngineAddress(LookupStore(lookup_), programName, warnings);
    for (std::string line; std::getline(warnings, line);)
        note(line.rfind("corvantle: ", 0) == 0 ? line.substr(11) : line);
    host_ = address.host;
    port_ = address.port;
}

// Name lookup and connect run in the background; attemptTimer_ bounds both.
void AgwEngine::startConnecting() {
    abortSocket();
    state_ = State::Connecting;
    registrationRefused_ = false;
    socket_.connectToHost(QString::fromStdString(host_), port_);
    attemptTimer_.start(timing_.connectWait);
}

void AgwEngine::onConnected() {
    if (state_ != State::Connecting)
        return;
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    state_ = State::Registering;
    attemptTimer_.start(timing_.answerWait);
    sendFrame(request('X', {}, 0));
}

void AgwEngine::onRegistrationAnswer(bool accepted) {
    if (!accepted) {
        registrationRefused_ = true;
        onAttemptFailed("the engine refused to register " + ownCall_);
        return;
    }
    attemptTimer_.stop();
    state_ = State::Up;
    // Monitoring is a toggle that starts off on every new connection: one 'm' per connection.
    sendFrame(request('m', {}, 0));
    // A restarted engine may have other channels: its list is asked on every connection.
    radioPorts_.reset();
    sendFrame(request('G', {}, 0));
    quietTimer_.start(timing_.quietBeforeProbe);
    if (reconnects_)
        note("connection to the packet engine at " + host_ + ":" + std::to_string(port_) + " is back");
}

void AgwEngine::onSocketTrouble(const std::string &why) {
    if (state_ == State::Connecting || state_ == State::Registering)
        onAttemptFailed(why);
    else if (state_ == State::Up)
        loseConnection(why);
}

void AgwEngine::onAttemptFailed(const std::string &why) {
    const State was = state_;
    state_ = reconnects_ ? State::Waiting : State::Closed;
    abortSocket();
    if (!reconnects_) {
        note("cannot register with the packet engine at " + host_ + ":" + std::to_string(port_) + ": " + why);
        return;
    }
    if (was == State::Registering)
        note("reconnecting to the packet engine: " + why + "; trying again later");
    retryTimer_.start(timing_.retryInterval);
}

// The engine went away: every link it held is gone, and the bridge must hear so or it believes them up.
void AgwEngine::loseConnection(const std::string &why) {
    if (state_ != State::Up)
        return;
    // What the engine sent before it went is still handled.
    if (socket_.bytesAvailable() > 0 && why.rfind("closed", 0) == 0)
        onReadyRead();
    if (state_ != State::Up)
        return;
    state_ = State::Waiting;
    abortSocket();
    note("connection to the packet engine at " + host_ + ":" + std::to_string(port_) + " lost (" + why +
         "); reconnecting");
    std::vector<EngineFrame> notices;
    for (const auto &[key, link] : ownLinks_)
        notices.push_back({'d', link.port, link.shownCall, ownCall_, disconnectNotice(link.shownCall)});
    ownLinks_.clear();
    queuedBytes_ = 0;
    // Later, not from inside whatever request found the connection gone.
    for (EngineFrame &notice : notices)
        deliverLater(std::move(notice));
    announceRoomLater();
    if (reconnects_)
        retryTimer_.start(timing_.retryInterval);
}

void AgwEngine::abortSocket() {
    ++connection_;
    for (QTimer *timer : {&attemptTimer_, &retryTimer_, &quietTimer_, &probeTimer_, &paceTimer_})
        timer->stop();
    const QSignalBlocker quiet(socket_);
    socket_.abort();
    reader_.reset();
}

void AgwEngine::close() {
    if (state_ == State::Up) {
        closing_ = true;
        // An engine drops what it has not sent yet when told to disconnect: the last line a client typed
        // before the program closed (a logger's "bye") would never reach the cluster. Wait, a bounded time,
        // for each link's data to leave; the 'd' that waited for it goes out then.
        letLinksDataLeave();
        // When a client goes, the engine drops its links without telling the other station, which then
        // keeps a stale session (a cluster refuses the next login). End them first and give them a moment.
        std::vector<std::string> keys;
        for (const auto &[key, link] : ownLinks_)
            keys.push_back(key);
        for (const std::string &key : keys) {
            bool disconnectWaited = false; // its 'd' waited for data to leave: shutting down, it goes now
            if (const auto link = ownLinks_.find(key); link != ownLinks_.end())
                disconnectWaited = std::exchange(link->second.disconnectWhenSent, false);
            flushQueue(key);
            // Sending the queue can end the connection, and with it every link.
            const auto held = ownLinks_.find(key);
            if (held == ownLinks_.end() || state_ != State::Up)
                continue;
            if (!held->second.disconnectRequested || disconnectWaited)
                sendFrame(request('d', key, held->second.port));
        }
        QTimer grace;
        grace.setSingleShot(true);
        grace.start(timing_.closeGrace);
        while (state_ == State::Up && !ownLinks_.empty() && grace.isActive())
            QEventLoop().processEvents(QEventLoop::WaitForMoreEvents);
        if (state_ == State::Up) {
            sendFrame(request('x', {}, 0));
            socket_.flush();
        }
    }
    reconnects_ = false;
    state_ = State::Closed;
    abortSocket();
    ownLinks_.clear();
    queuedBytes_ = 0;
    closing_ = false;
}

void AgwEngine::letLinksDataLeave() {
    const auto deadline = std::chrono::steady_clock::now() + timing_.closeDataWait;
    bool waiting = false;
    for (auto &[key, link] : ownLinks_) {
        if (link.pacing == Pacing::Silent || (link.queued.empty() && link.inFlight == 0))
            continue;
        if (!link.disconnectWhenSent) {
            link.disconnectWhenSent = link.disconnectRequested;
            link.disconnectDeadline = deadline;
        }
        link.disconnectDeadline = std::min(link.disconnectDeadline, deadline);
        waiting = true;
    }
    if (!waiting)
        return;
    if (!paceTimer_.isActive())
        paceTimer_.start();
    const auto dataLeft = [this] {
        return std::all_of(ownLinks_.begin(), ownLinks_.end(), [](const auto &entry) {
            const OwnLink &link = entry.second;
            return link.pacing == Pacing::Silent || (link.queued.empty() && link.inFlight == 0);
        });
    };
    QTimer limit;
    limit.setSingleShot(true);
    limit.start(timing_.closeDataWait);
    while (state_ == State::Up && !dataLeft() && limit.isActive())
        QEventLoop().processEvents(QEventLoop::WaitForMoreEvents);
}

// ---- frames from the engine ----

void AgwEngine::onReadyRead() {
    if (state_ != State::Registering && state_ != State::Up)
        return;
    quietTimer_.start(timing_.quietBeforeProbe);
    probeTimer_.stop();
    const std::uint64_t connection = connection_;
    const QByteArray chunk = socket_.read(static_cast<qint64>(limits_.readChunkBytes));
    reader_.append(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())));
    while (std::optional<agw::Frame> frame = reader_.next()) {
        if (frameLog_)
            frameLog_(frameLine("AGW<", *frame));
        handleFrame(std::move(*frame));
        // Handling a frame can end the connection (a write past its bound); its bytes are gone then.
        if (connection != connection_)
            return;
    }
    if (reader_.broken()) {
        onSocketTrouble("the engine sent a frame of impossible length");
        return;
    }
    // A big backlog is handled a chunk per turn of the event loop, so the window stays live meanwhile.
    if (connection == connection_ && socket_.bytesAvailable() > 0)
        QTimer::singleShot(0, &socket_, [this, connection] {
            if (connection == connection_)
                onReadyRead();
        });
}

void AgwEngine::handleFrame(agw::Frame frame) {
    switch (frame.kind) {
    case 'X':
    case 'x': // Dire Wolf answers 'X'; one soundmodem answers 'x'
        if (state_ == State::Registering)
            onRegistrationAnswer(!frame.data.empty() && frame.data[0] == 1);
        return;
    case 'R': // the answer to the sign-of-life probe; the bytes themselves were the sign
        return;
    case 'G':
        onPortList(frame);
        return;
    case 'Y':
        onOutstandingAnswer(frame);
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
    // A link of another callsign registered with the same engine, to the same station, is not ours.
    if (normalCall(frame.callFrom) != ownCall_ && normalCall(frame.callTo) != ownCall_)
        return;
    const std::string remote = normalCall(remoteOf(frame, ownCall_));
    if (frame.kind == 'd') {
        if (const auto held = ownLinks_.find(remote); held != ownLinks_.end()) {
            forgetQueue(held->second);
            ownLinks_.erase(held);
        }
        return;
    }
    OwnLink &link = ownLinks_[remote];
    link.shownCall = remoteOf(frame, ownCall_);
    link.port = frame.port;
}

bool AgwEngine::isOwnLinkTraffic(const agw::Frame &frame) const {
    const std::string from = normalCall(frame.callFrom);
    const std::string to = normalCall(frame.callTo);
    return (from == ownCall_ && ownLinks_.contains(to)) || (to == ownCall_ && ownLinks_.contains(from));
}

void AgwEngine::deliver(EngineFrame frame) {
    // Nothing reaches the bridge once it has closed the engine, not even notices made up just before.
    if (listener_ != nullptr && !closing_ && state_ != State::Closed)
        listener_->frameArrived(frame);
}

void AgwEngine::deliverLater(EngineFrame frame) {
    QTimer::singleShot(0, &socket_, [this, frame = std::move(frame)] { deliver(frame); });
}

void AgwEngine::announceRoomLater() {
    if (!wasFull_ || !canTakeData())
        return;
    wasFull_ = false;
    QTimer::singleShot(0, &socket_, [this] {
        if (listener_ != nullptr && !closing_)
            listener_->readyForData();
    });
}

// Nothing heard for a while: a remote engine whose machine lost power is never reported by TCP.
void AgwEngine::onQuiet() {
    if (state_ != State::Up)
        return;
    sendFrame(request('R', {}, 0));
    probeTimer_.start(timing_.probeAnswerWait);
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
    const std::uint64_t connection = connection_;
    QTimer::singleShot(0, &socket_, [this, connection, ports] {
        if (connection == connection_ && listener_ != nullptr && !closing_ && state_ == State::Up)
            listener_->radioPortsKnown(ports);
    });
}

// ---- requests ----

bool AgwEngine::sendFrame(const agw::Frame &frame) {
    if (state_ != State::Registering && state_ != State::Up)
        return false;
    if (frameLog_)
        frameLog_(frameLine("AGW>", frame));
    // One write per frame: LinBPQ drops the connection on a frame split across writes.
    const std::string bytes = encode(frame);
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (static_cast<std::size_t>(socket_.bytesToWrite()) <= limits_.unsentToEngineBytes)
        return true;
    onSocketTrouble("the engine took no data for too long: " + std::to_string(socket_.bytesToWrite()) +
                    " bytes unsent");
    return false;
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
    const std::string remote = normalCall(station);
    std::vector<std::string> digis;
    for (const std::string &digi : digipeaters)
        if (std::string call = normalCall(digi); !call.empty())
            digis.push_back(call);
    if (const std::string problem = routeProblem(remote, digis); !problem.empty())
        return problem;
    if (state_ != State::Up)
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
    if (!sendFrame(frame))
        return "the packet engine is not connected";
    // Counted as a link from now on: the monitored frames of the link can arrive before its 'C' notice.
    if (const auto held = ownLinks_.find(remote); held != ownLinks_.end())
        forgetQueue(held->second);
    ownLinks_[remote] = newLink(remote, port);
    return {};
}

bool AgwEngine::canTakeData() const {
    // Data already written but not yet taken by the engine counts too: an engine that reads slowly holds the
    // client back instead of filling this program's memory.
    return queuedBytes_ + static_cast<std::size_t>(socket_.bytesToWrite()) < limits_.queuedDataBytes;
}

bool AgwEngine::sendData(const std::string &station, const std::string &data, int radioPort) {
    if (radioPort < 0 || radioPort > 255 || state_ != State::Up)
        return false;
    if (data.empty())
        return true;
    const std::string remote = normalCall(station);
    OwnLink &link = ownLinks_[remote];
    if (link.shownCall.empty())
        link = newLink(remote, static_cast<std::uint8_t>(radioPort));
    // Each frame costs a header and a transmission on a slow channel: data that fits whole into the frame
    // still waiting at the queue's tail joins it. Longer data starts a frame of its own and goes in full
    // frames, so a line is never cut only to fill a frame.
    if (data.size() <= kMaxDataPerFrame && !link.queued.empty() &&
        link.queued.back().size() + data.size() <= kMaxDataPerFrame) {
        link.queued.back() += data;
    } else {
        for (std::size_t at = 0; at < data.size(); at += kMaxDataPerFrame)
            link.queued.push_back(data.substr(at, kMaxDataPerFrame));
    }
    queuedBytes_ += data.size();
    pumpLater(remote);
    if (!canTakeData())
        wasFull_ = true;
    return true;
}

void AgwEngine::disconnect(const std::string &station, int radioPort) {
    if (radioPort < 0 || radioPort > 255)
        return;
    const std::string remote = normalCall(station);
    if (const auto held = ownLinks_.find(remote); held != ownLinks_.end()) {
        OwnLink &link = held->second;
        link.disconnectRequested = true;
        // Engines drop what they have not sent yet when told to disconnect, and the last lines a client
        // typed would be lost: an engine that reports what is outstanding (or may, not having been asked
        // yet) gets the 'd' once all has left.
        if (link.pacing != Pacing::Silent && (!link.queued.empty() || link.inFlight > 0)) {
            link.disconnectWhenSent = true;
            link.disconnectDeadline = std::chrono::steady_clock::now() + timing_.sendBeforeDisconnectWait;
            if (!paceTimer_.isActive())
                paceTimer_.start();
            return;
        }
        flushQueue(remote);
    }
    sendFrame(request('d', remote, static_cast<std::uint8_t>(radioPort)));
}

// The 'd' that waited for a link's data to leave: now, or at its deadline with what is left dropped.
void AgwEngine::sendWaitingDisconnect(const std::string &key) {
    const auto held = ownLinks_.find(key);
    if (held == ownLinks_.end() || !held->second.disconnectWhenSent)
        return;
    held->second.disconnectWhenSent = false;
    forgetQueue(held->second);
    sendFrame(request('d', key, held->second.port));
}

// ---- pacing data to the radio ----
//
// Engines queue every data request without limit while the radio sends about 150 bytes a second at 1200
// baud. So at most `framesInFlight` frames of a link are handed to the engine; its answer to 'Y' says how
// many are still unsent or unacknowledged. While a question stays unanswered longer than paceAnswerWait the
// link's data goes unpaced; an answer, however late, brings pacing back (Dire Wolf answers from a thread that
// also blocks on its monitor sends, so under load its answers are late, not lost).

void AgwEngine::pump(const std::string &key) {
    auto held = ownLinks_.find(key);
    if (held == ownLinks_.end())
        return;
    OwnLink &link = held->second;
    bool sentAny = false;
    while (!link.queued.empty() &&
           (link.pacing == Pacing::Silent || link.inFlight < limits_.framesInFlight)) {
        agw::Frame frame = request('D', key, link.port);
        frame.pid = kPidText;
        frame.data = link.queued.front();
        if (!sendFrame(frame))
            return;
        queuedBytes_ -= link.queued.front().size();
        link.queued.pop_front();
        ++link.inFlight;
        if (link.askedOutstanding)
            ++link.sentSinceAsked;
        sentAny = true;
    }
    if (!link.queued.empty() && link.pacing != Pacing::Silent) {
        // Asking at once after progress keeps a fast engine busy; a full window waits for the next tick.
        if (sentAny && !link.askedOutstanding)
            askOutstanding(key);
        if (!paceTimer_.isActive())
            paceTimer_.start();
    }
    announceRoomLater();
}

// What the caller hands over in one turn of the event loop (the lines of one read from a client) is packed
// into frames first; the pump runs at the end of the turn, once per burst, and never waits longer.
void AgwEngine::pumpLater(const std::string &key) {
    linksToPump_.insert(key);
    if (pumpScheduled_)
        return;
    pumpScheduled_ = true;
    QTimer::singleShot(0, &socket_, [this] {
        pumpScheduled_ = false;
        for (const std::string &due : std::exchange(linksToPump_, {}))
            pump(due);
    });
}

void AgwEngine::flushQueue(const std::string &key) {
    if (const auto held = ownLinks_.find(key); held != ownLinks_.end()) {
        held->second.pacing = Pacing::Silent;
        pump(key);
    }
}

void AgwEngine::askOutstanding(const std::string &key) {
    OwnLink &link = ownLinks_.at(key);
    link.askedOutstanding = true;
    link.sentSinceAsked = 0;
    link.askedAt = std::chrono::steady_clock::now();
    sendFrame(request('Y', key, link.port));
}

void AgwEngine::onOutstandingAnswer(const agw::Frame &frame) {
    const auto held = ownLinks_.find(normalCall(remoteOf(frame, ownCall_)));
    if (held == ownLinks_.end())
        return;
    OwnLink &link = held->second;
    link.askedOutstanding = false;
    // Also after the wait for this answer ran out: a busy engine answers late, and pacing comes back.
    link.pacing = Pacing::Answers;
    // The engine counted what it held when it answered; what left here since then is on its way to it.
    link.inFlight = littleEndianCount(frame.data) + link.sentSinceAsked;
    const std::string key = held->first;
    pump(key);
    if (const auto still = ownLinks_.find(key);
        still != ownLinks_.end() && still->second.queued.empty() && still->second.inFlight == 0)
        sendWaitingDisconnect(key);
}

// Asks again while a link has data waiting, or frames the engine still holds, so the count stays fresh for
// the next burst; gives up on an engine that does not answer.
void AgwEngine::onPaceTick() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::string> watched;
    for (const auto &[key, link] : ownLinks_)
        if (!link.queued.empty() || (link.pacing != Pacing::Silent && link.inFlight > 0) ||
            link.disconnectWhenSent)
            watched.push_back(key);
    if (watched.empty()) {
        paceTimer_.stop();
        return;
    }
    for (const std::string &key : watched) {
        const auto held = ownLinks_.find(key);
        if (held == ownLinks_.end())
            continue;
        OwnLink &link = held->second;
        if (link.disconnectWhenSent && now >= link.disconnectDeadline) {
            sendWaitingDisconnect(key);
        } else if (!link.askedOutstanding) {
            askOutstanding(key);
        } else if (now - link.askedAt >= timing_.paceAnswerWait) {
            // Unpaced only until this question is answered; an engine that never answers stays unpaced.
            link.pacing = Pacing::Silent;
            pump(key);
            sendWaitingDisconnect(key);
        }
    }
}

void AgwEngine::forgetQueue(OwnLink &link) {
    for (const std::string &piece : link.queued)
        queuedBytes_ -= piece.size();
    link.queued.clear();
    announceRoomLater();
}

} // namespace corvantle
