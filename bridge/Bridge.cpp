// The bridge's handlers: start-up, frames from the engine, the telnet session, the tick, auto-minimize and
// shutdown.
//
// Everything runs on the user-interface thread, one handler at a time, so the state needs no locking.
#include "Bridge.h"

#include "AgwCalls.h"
#include "LineEnds.h"
#include "SettingsStore.h"
#include "SettingsTable.h"
#include "TelnetSocket.h"
#include "WindowOps.h"

#include <algorithm>
#include <iostream>

namespace corvantle {
namespace {

constexpr const char *kWelcomeLine = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";

// Text held back waiting for a line end goes out after this many ticks without more: about a second.
constexpr int kHoldTicks = 2;

// An engine's notice as the client should see it: without the engine's closing NULs.
std::string noticeText(std::string text) {
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// The same as one line of the session log.
std::string noticeLine(const std::string &text) {
    std::string line = noticeText(text);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    return line;
}

} // namespace

Bridge::Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, SettingsStore &store)
    : window_(window), socket_(socket), engine_(engine), store_(store) {
    engine_.setListener(this);
}

// ---- start-up ----

bool Bridge::start() {
    state_.programName = kProgramName;
    state_.linkUp = false;
    state_.transferredBytes = 0;

    using namespace settings;
    const StartupReader read(store_, state_.programName, std::cerr);
    state_.myCallsign = read.text(kMyCallsign);
    state_.cluster = read.text(kCluster);
    state_.radioPort = static_cast<int16_t>(read.wholeNumber(kRadioPort));
    socket_.setLocalPort(static_cast<int32_t>(read.wholeNumber(kLocalPort)));
    state_.autoMinimize = static_cast<int16_t>(read.wholeNumber(kAutoMinimize));
    state_.autoMinimizeDelayMs = static_cast<int32_t>(read.wholeNumber(kAutoMinimizeDelay));
    state_.monitorMode = read.boolean(kMonitorMode);
    state_.compatibilityMode = read.boolean(kCompatibilityMode);
    state_.connectViaDigipeaters = read.boolean(kConnectViaDigi);
    state_.digipeaters = read.text(kDigis);

    window_.setTimerInterval(TimerId::AutoMinimize, state_.autoMinimizeDelayMs);
    window_.setTimerEnabled(TimerId::AutoMinimize, state_.autoMinimize == 1);

    // Otherwise the only sign of a damaged file would be settings that seem forgotten.
    if (const std::string notice = store_.formatProblemMessage(); !notice.empty()) {
        log_->warn(notice);
        window_.messageBox(notice);
    }

    log_->note("Registering " + agw::normalCall(state_.myCallsign) + " with the packet engine");
    if (!engine_.registerCallsign(state_.myCallsign, state_.programName)) {
        log_->note("Registration failed");
        window_.messageBox("Can't connect to AGW Packet Engine");
        window_.endProgram(1);
        return false;
    }
    phase_ = Phase::Registered;
    log_->note("Registered " + agw::normalCall(state_.myCallsign));

    if (state_.cluster == "CLUSTER" || state_.myCallsign == "MYCALL")
        window_.messageBox("Please configure your Callsign and/or Cluster station in the Options Menu");

    std::string error;
    if (!socket_.listen(error)) {
        window_.messageBox("Can't listen on local TCP port " + std::to_string(socket_.localPort()) + ": " +
                           error);
        engine_.close();
        window_.endProgram(2);
        return false;
    }

    window_.setTimerEnabled(TimerId::Tick, true);
    phase_ = Phase::Running;
    log_->note("Listening for a telnet client on 127.0.0.1 port " + std::to_string(socket_.localPort()));
    return true;
}

// ---- the tick ----

void Bridge::onTick() {
    if (phase_ != Phase::Registered && phase_ != Phase::Running)
        return;

    if (clientLines_.holding() && ++clientHeldTicks_ >= kHoldTicks) {
        // A client that never ends its lines still gets through, a second late.
        clientHeldTicks_ = 0;
        if (const auto held = clientLines_.takeHeld())
            takeClientLine(*held);
    }
    if (radioLines_.holding() && ++radioHeldTicks_ >= kHoldTicks)
        flushRadioText(); // a prompt without a line end
    // A safety net: client text left waiting while the engine's queue was full.
    if (clientConnected() && socket_.bytesAvailable() > 0)
        onClientData();

    if (state_.autoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setTimerEnabled(TimerId::AutoMinimize, true);

    noteBytesRelayed();
    window_.setCounterText("Bytes Transferred: " + std::to_string(state_.transferredBytes / 1024) + "K");

    // Listening again after a session can fail (the port taken meanwhile); keep trying, once a tick.
    if (phase_ == Phase::Running && socket_.state() == SocketState::Closed)
        listenAgain();
}

void Bridge::onAutoMinimizeTimer() {
    if (state_.autoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setWindowState(kWindowMinimized);
    window_.setTimerEnabled(TimerId::AutoMinimize, false);
}

// ---- frames from the engine ----

void Bridge::frameArrived(const EngineFrame &frame) {
    if (phase_ != Phase::Registered && phase_ != Phase::Running)
        return;
    if (state_.monitorMode)
        monitorFrame(frame);
    else
        clusterFrame(frame);
}

// In a cluster session the client hears the cluster station and nobody else: a stranger who connects to
// the user's callsign could otherwise put fake spots into the logging program.
void Bridge::clusterFrame(const EngineFrame &frame) {
    switch (frame.kind) {
    case 'c':
        if (isCluster(frame.from)) {
            clusterLinkUp(frame);
        } else {
            log_->note("Link from " + frame.from + " on radio port " + std::to_string(frame.radioPort) +
                       " is not the cluster's: taken down");
            sendDisconnectRequest(frame.from);
        }
        return;
    case 'd':
        if (isCluster(frame.from))
            clusterLinkDown(frame);
        return;
    case 'D':
        if (isCluster(frame.from) && frame.radioPort == state_.radioPort && clientConnected() &&
            relayRadioText(frame.text)) {
            state_.transferredBytes += static_cast<int64_t>(frame.text.size());
            bytesFromRadio_ += static_cast<int64_t>(frame.text.size());
        }
        return;
    default:
        return;
    }
}

// Monitor Mode opens no link and passes on what the cluster is heard sending to others.
void Bridge::monitorFrame(const EngineFrame &frame) {
    switch (frame.kind) {
    case 'c':
        // A link that comes up anyway (a connect still pending when Monitor Mode was switched on) would hold
        // the cluster with nobody reading.
        sendDisconnectRequest(frame.from);
        return;
    case 'd':
        if (isCluster(frame.from))
            clusterLinkDown(frame);
        return;
    case 'D':
    case 'I':
        if (isCluster(frame.from) && frame.radioPort == state_.radioPort && clientConnected())
            relayRadioText(frame.text);
        return;
    default:
        return;
    }
}

void Bridge::clusterLinkUp(const EngineFrame &frame) {
    // A link is only wanted while its client is there; otherwise it would stay up with nobody reading.
    log_->note("Link up: " + frame.from + " on radio port " + std::to_string(frame.radioPort));
    if (!clientConnected() || !sendToClient(noticeText(frame.text))) {
        sendDisconnectRequest(frame.from);
        return;
    }
    setLink(Link::Up);
    sendHeldLines();
    onClientData(); // what the client sent while the link came up
}

void Bridge::clusterLinkDown(const EngineFrame &frame) {
    const bool hadLink = link_ != Link::Down || state_.linkUp;
    log_->note("Link down: " + frame.from + " on radio port " + std::to_string(frame.radioPort) + " (" +
               noticeLine(frame.text) + ")");
    flushRadioText();
    setLink(Link::Down);
    if (!clientConnected())
        return;
    if (state_.monitorMode)
        window_.setStatusText("Status: Monitoring");
    if ((hadLink || !state_.monitorMode) && !sendToClient(noticeText(frame.text)))
        return;
    dropHeldLines();
}

bool Bridge::isCluster(const std::string &station) const {
    return agw::normalCall(station) == agw::normalCall(state_.cluster);
}

// Whole lines only, each in a write of its own: some clients parse every read on its own.
bool Bridge::relayRadioText(const std::string &text) {
    for (const std::string &line : radioLines_.feed(text))
        if (!sendToClient(line))
            return false;
    radioHeldTicks_ = 0;
    return true;
}

void Bridge::flushRadioText() {
    radioHeldTicks_ = 0;
    const std::string held = radioLines_.takeHeld();
    if (!held.empty() && clientConnected())
        sendToClient(held);
}

// ---- the telnet session ----

void Bridge::onClientArrival(int32_t requestId) {
    if (socket_.state() != SocketState::Closed)
        socket_.close();
    socket_.accept(requestId);
    log_->note("Telnet client connected");
    clientLines_.reset();
    radioLines_.reset();
    clientHeldTicks_ = radioHeldTicks_ = 0;
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    link_ = state_.linkUp ? Link::Up : Link::Down;

    if (!sendToClient(kWelcomeLine))
        return;
    if (state_.monitorMode) {
        if (sendToClient("Monitoring " + state_.cluster + " DX Cluster Station...\r\n"))
            window_.setStatusText("Status: Monitoring");
        return;
    }
    if (!sendToClient("Connecting to " + state_.cluster + " DX Cluster Station...*Please Wait*\r\n"))
        return;
    requestLink();
}

void Bridge::requestLink() {
    std::vector<std::string> digipeaters;
    if (state_.connectViaDigipeaters && !state_.digipeaters.empty())
        digipeaters = agw::routeCalls(state_.digipeaters);
    std::string route;
    for (const std::string &digipeater : digipeaters)
        route += (route.empty() ? " via " : ",") + digipeater;
    log_->note("Connect request to " + state_.cluster + route + " on radio port " +
               std::to_string(state_.radioPort));
    const std::string problem = engine_.connect(state_.cluster, digipeaters, state_.radioPort);
    if (problem.empty()) {
        if (link_ == Link::Down)
            link_ = Link::Pending;
        return;
    }
    // Without this the client would wait at "*Please Wait*" for ever.
    log_->warn("connect request to " + state_.cluster + " not sent: " + problem);
    setLink(Link::Down);
    if (sendToClient("*** Can't connect to " + state_.cluster + ": " + problem + "\r\n"))
        sendToClient("*** DISCONNECTED From Station " + state_.cluster + "\r\n");
}

void Bridge::onClientData() {
    if (!clientConnected())
        return;
    if (state_.monitorMode) {
        while (socket_.bytesAvailable() > 0)
            socket_.read(socket_.bytesAvailable());
        return;
    }
    // What is not read now stays in the socket, and TCP holds the client back until there is room.
    while (clientConnected() && socket_.bytesAvailable() > 0 && canTakeClientText()) {
        std::size_t room = kClientReadBytes;
        if (link_ == Link::Pending)
            room = kMaxLinesWaitingForLinkBytes - linesWaitingBytes_;
        for (const ClientLine &line : clientLines_.feed(socket_.read(room))) {
            takeClientLine(line);
            if (!clientConnected())
                return;
        }
        clientHeldTicks_ = 0;
    }
}

bool Bridge::canTakeClientText() const {
    switch (link_) {
    case Link::Up:
        return engine_.canTakeData();
    case Link::Pending:
        return linesWaitingBytes_ < kMaxLinesWaitingForLinkBytes;
    case Link::Down:
        return true;
    }
    return true;
}

void Bridge::takeClientLine(const ClientLine &line) {
    const std::string text = line.ended ? withRadioLineEnd(line.text, state_.compatibilityMode) : line.text;
    switch (link_) {
    case Link::Up:
        engine_.sendData(state_.cluster, text, state_.radioPort);
        state_.transferredBytes += static_cast<int64_t>(text.size());
        bytesToRadio_ += static_cast<int64_t>(text.size());
        return;
    case Link::Pending:
        // An engine drops data for a link that is still being set up.
        linesWaitingForLink_.push_back(text);
        linesWaitingBytes_ += text.size();
        return;
    case Link::Down:
        sendToClient("*** Not sent, no link to " + state_.cluster + "\r\n");
        return;
    }
}

void Bridge::sendHeldLines() {
    for (const std::string &text : linesWaitingForLink_) {
        engine_.sendData(state_.cluster, text, state_.radioPort);
        state_.transferredBytes += static_cast<int64_t>(text.size());
        bytesToRadio_ += static_cast<int64_t>(text.size());
    }
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
}

void Bridge::dropHeldLines() {
    if (linesWaitingForLink_.empty())
        return;
    const std::size_t lines = linesWaitingForLink_.size();
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    sendToClient("*** Not sent, no link to " + state_.cluster + ": " + std::to_string(lines) +
                 (lines == 1 ? " line" : " lines") + " typed while connecting\r\n");
}

void Bridge::onClientGone() {
    // Closing the socket at shutdown may report the client's close; nothing is to be reopened then.
    if (phase_ == Phase::ShutDown)
        return;
    log_->note("Telnet client left");
    endSession();
    listenAgain();
}

void Bridge::onClientError(int32_t number, const std::string &description) {
    endSessionBecause("telnet socket error " + std::to_string(number) + ": " + description);
}

void Bridge::endSessionBecause(const std::string &reason) {
    log_->warn("ending the telnet session: " + reason);
    onClientGone();
}

// The client is gone: its last unfinished line still reaches the cluster, then the link goes down.
void Bridge::endSession() {
    if (link_ == Link::Up && !state_.monitorMode)
        if (const auto held = clientLines_.takeHeld())
            takeClientLine(*held);
    socket_.close();
    if (state_.linkUp)
        sendDisconnectRequest(state_.cluster);
    clientLines_.reset();
    radioLines_.reset();
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    if (link_ == Link::Pending)
        link_ = Link::Down;
}

void Bridge::shutDown() {
    if (phase_ == Phase::ShutDown)
        return;
    const bool running = phase_ == Phase::Running || phase_ == Phase::Registered;
    phase_ = Phase::ShutDown;
    if (running && clientConnected())
        endSession();
    else if (state_.linkUp)
        sendDisconnectRequest(state_.cluster);
    socket_.close();
    engine_.close();
}

void Bridge::readyForData() {
    if (phase_ == Phase::Running || phase_ == Phase::Registered)
        onClientData();
}

bool Bridge::sendToClient(const std::string &text) {
    const std::string bytes = withTelnetLineEnds(text);
    if (socket_.unsentBytes() + bytes.size() > kMaxUnsentToClientBytes) {
        endSessionBecause("the client stopped reading: more than " +
                          std::to_string(kMaxUnsentToClientBytes / 1024) + " KB are waiting for it");
        return false;
    }
    if (socket_.send(bytes))
        return true;
    // A client that cannot be written to is gone: end the session as on a socket error.
    endSessionBecause("sending to the client failed");
    return false;
}

bool Bridge::clientConnected() const {
    return socket_.state() == SocketState::Connected;
}

void Bridge::sendDisconnectRequest(const std::string &station) {
    log_->note("Disconnect request to " + station + " on radio port " + std::to_string(state_.radioPort));
    engine_.disconnect(station, state_.radioPort);
}

void Bridge::setLink(Link link) {
    link_ = link;
    if (link == Link::Pending)
        return;
    state_.linkUp = link == Link::Up;
    window_.setStatusText(link == Link::Up ? "Status: Connected" : "Status: Disconnected");
}

// Once a minute, while there is traffic: what a user compares with the radio's own rate.
void Bridge::noteBytesRelayed() {
    constexpr int kTicksPerMinute = 120;
    if (++ticksSinceBytesNote_ < kTicksPerMinute)
        return;
    ticksSinceBytesNote_ = 0;
    if (bytesFromRadio_ == 0 && bytesToRadio_ == 0)
        return;
    log_->note("Relayed in the last minute: " + std::to_string(bytesFromRadio_) + " bytes from the radio, " +
               std::to_string(bytesToRadio_) + " bytes to the radio");
    bytesFromRadio_ = bytesToRadio_ = 0;
}

void Bridge::listenAgain() {
    std::string error;
    if (!socket_.listen(error) && error != lastListenError_)
        log_->warn("cannot listen on local TCP port " + std::to_string(socket_.localPort()) + ": " + error +
                   "; trying again");
    lastListenError_ = error;
}

} // namespace corvantle
