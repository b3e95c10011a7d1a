// The bridge's handlers: start-up, frames from the engine, the telnet clients and their shared session, the
// tick (with the relink and keep-link times), auto-minimize and shutdown.
//
// Everything runs on the user-interface thread, one handler at a time, so the state needs no locking.
#include "Bridge.h"

#include "AgwCalls.h"
#include "AgwPortList.h"
#include "LineEnds.h"
#include "SettingsStore.h"
#include "SettingsTable.h"
#include "TelnetSocket.h"
#include "WindowOps.h"

#include <algorithm>
#include <iostream>
#include <utility>

namespace corvantle {
namespace {

constexpr const char *kWelcomeLine = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";

// Text held back waiting for a line end goes out after this many ticks without more: about a second.
constexpr int kHoldTicks = 2;

constexpr int kTicksPerSecond = 2;
constexpr int kTicksPerMinute = 60 * kTicksPerSecond;

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

void Bridge::start(std::function<void(bool running)> done) {
    const HandlerScope scope(*this);
    startDone_ = std::move(done);
    state_.programName = kProgramName;
    state_.linkUp = false;
    state_.transferredBytes = 0;

    using namespace settings;
    const StartupReader read(store_, state_.programName);
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
    state_.relink = read.boolean(kRelink);
    const LinkEnd linkEnd = read.linkEnd(kLinkEnd);
    state_.relink = state_.relink || linkEnd == LinkEnd::Relink;
    state_.closeClientsWhenLinkEnds = !state_.relink && linkEnd == LinkEnd::Close;
    state_.keepLinkSeconds = static_cast<int32_t>(read.wholeNumber(kKeepLinkSeconds));
    state_.maxClients = static_cast<int32_t>(read.wholeNumber(kClients));
    state_.quietKeepalives = read.boolean(kQuietKeepalives);

    window_.setTimerInterval(TimerId::AutoMinimize, state_.autoMinimizeDelayMs);
    window_.setTimerEnabled(TimerId::AutoMinimize, state_.autoMinimize == 1);

    // Otherwise the only sign of a damaged file would be settings that seem forgotten.
    if (const std::string notice = store_.formatProblemMessage(); !notice.empty()) {
        log_->warn(notice);
        window_.messageBox(notice);
    }
    // Standard error (where the log's warnings go too) is not where a user who started the program from the
    // desktop menu looks. The engine library reads and logs its own port as it registers; the box names it.
    for (const std::string &line : read.problems())
        log_->warn(line);
    const StartupReader engineRead(store_, state_.programName);
    engineRead.wholeNumber(kEnginePort);
    if (const std::string box =
            unusableSettingsMessage(read.problems(), engineRead.problems(), store_.location());
        !box.empty())
        window_.messageBox(box);

    log_->note("Registering " + agw::normalCall(state_.myCallsign) + " with the packet engine");
    phase_ = Phase::Registering;
    engine_.registerCallsign(state_.myCallsign, state_.programName);
}

// The rest of the start-up, once the engine has answered.
void Bridge::registrationAnswered(bool registered) {
    if (phase_ != Phase::Registering)
        return;
    const HandlerScope scope(*this);
    const auto done = [this](bool running) {
        if (const auto startDone = std::exchange(startDone_, nullptr))
            startDone(running);
    };
    if (!registered) {
        phase_ = Phase::Loading;
        log_->note("Registration failed");
        window_.messageBox("Can't connect to AGW Packet Engine");
        window_.endProgram(1);
        done(false);
        return;
    }
    phase_ = Phase::Registered;
    log_->note("Registered " + agw::normalCall(state_.myCallsign));

    if (state_.cluster == "CLUSTER" || state_.myCallsign == "MYCALL")
        window_.messageBox("Please configure your Callsign and/or Cluster station in the Options Menu");

    std::string error;
    if (!socket_.listen(error)) {
        // Also said where a terminal or a service manager's journal keeps it: the program ends after the box.
        const std::string reason =
            "Can't listen on local TCP port " + std::to_string(socket_.localPort()) + ": " + error;
        log_->warn(reason);
        window_.messageBox(reason);
        closeEngine();
        window_.endProgram(2);
        done(false);
        return;
    }

    window_.setTimerEnabled(TimerId::Tick, true);
    phase_ = Phase::Running;
    log_->note("Listening for a telnet client on " + socket_.listenAddress() + " port " +
               std::to_string(socket_.localPort()));
    done(true);
}

void Bridge::applySettings(const BridgeState &settings) {
    const HandlerScope scope(*this);
    BridgeState next = settings;
    next.programName = state_.programName;
    next.myCallsign = state_.myCallsign;
    next.linkUp = state_.linkUp;
    next.transferredBytes = state_.transferredBytes;
    state_ = next;
    // Monitor Mode opens no link: the clients hear the link's end from its notice, and then monitor.
    if (state_.monitorMode && link_.is(ClusterLink::State::Up))
        sendDisconnectRequest();
}

Bridge::HandlerScope::HandlerScope(Bridge &bridge) : bridge_(bridge) {
    ++bridge_.handlerDepth_;
}

Bridge::HandlerScope::~HandlerScope() {
    if (bridge_.handlerDepth_ == 1)
        bridge_.endMarkedClients();
    --bridge_.handlerDepth_;
}

// ---- the tick ----

void Bridge::onTick() {
    if (phase_ != Phase::Registered && phase_ != Phase::Running)
        return;
    const HandlerScope scope(*this);

    letOutHeldClientLines();
    if (radioLines_.holding() && ++radioHeldTicks_ >= kHoldTicks)
        flushRadioText(); // a prompt without a line end
    // A safety net: client text left waiting while the engine's queue was full.
    readEveryClient();

    relinkWhenDue();
    keepLinkWhileDue();
    previousLinkWaitWhenDue();
    if (link_.is(ClusterLink::State::Up) && ticksLinkUp_ < kStableLinkSeconds * kTicksPerSecond &&
        ++ticksLinkUp_ == kStableLinkSeconds * kTicksPerSecond)
        relinkPauseSeconds_ = kFirstRelinkPauseSeconds; // this link worked: the next drop starts afresh
    if (ticksSinceKeepalive_ < kKeepaliveIntervalSeconds * kTicksPerSecond)
        ++ticksSinceKeepalive_;

    if (state_.autoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setTimerEnabled(TimerId::AutoMinimize, true);

    noteEachMinute();
    window_.setCounterText("Bytes Transferred: " + std::to_string(state_.transferredBytes / 1024) + "K");

    // Listening again after a session can fail (the port taken meanwhile); keep trying, once a tick.
    updateListening();
}

// A client that never ends its lines still gets through, a second late. Text of its that waits unread
// (the engine's queue is full) may hold the line's end: the line is not overdue then.
void Bridge::letOutHeldClientLines() {
    for (const ClientId id : clientIds()) {
        if (!hasClient(id) || mustWaitForAnothersLine(id))
            continue;
        Client &client = clients_.at(id);
        if (socket_.bytesAvailable(id) > 0) {
            client.heldTicks = 0;
            continue;
        }
        if (!client.lines.holding() || ++client.heldTicks < kHoldTicks)
            continue;
        client.heldTicks = 0;
        if (const auto held = client.lines.takeHeld())
            takeClientLine(id, *held);
    }
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
    const HandlerScope scope(*this);
    if (state_.monitorMode)
        monitorFrame(frame);
    else
        clusterFrame(frame);
}

// In a cluster session the clients hear the cluster station and nobody else: a stranger who connects to
// the user's callsign could otherwise put fake spots into the logging program. Links of other callsigns
// registered with the same engine (another program, another instance) are none of this bridge's business.
void Bridge::clusterFrame(const EngineFrame &frame) {
    switch (frame.kind) {
    case 'c':
        if (!isOwnCall(frame.to))
            return;
        if (isLinkFrame(frame)) {
            linkCameUp(frame);
        } else if (link_.is(ClusterLink::State::Down) && isConfiguredCluster(frame)) {
            // The cluster connected to us: a link like any other, on the port it came in on.
            link_.asked(frame.from, frame.radioPort, {});
            linkCameUp(frame);
        } else {
            log_->note("Link from " + frame.from + " on radio port " + std::to_string(frame.radioPort) +
                       " is not the cluster's: taken down");
            disconnectStranger(frame);
        }
        return;
    case 'd':
        if (isLinkFrame(frame))
            linkWentDown(frame);
        return;
    case 'D':
        // Text while the link waits for a returning client has nobody to go to: dropped, not counted.
        if (link_.is(ClusterLink::State::Up) && isLinkFrame(frame) && !noClients() &&
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
        if (!isOwnCall(frame.to))
            return;
        if (isLinkFrame(frame))
            closeLink();
        else
            disconnectStranger(frame);
        return;
    case 'd':
        if (isLinkFrame(frame))
            linkWentDown(frame);
        return;
    case 'D':
    case 'I':
        if (isConfiguredCluster(frame) && !noClients())
            relayRadioText(frame.text);
        return;
    default:
        return;
    }
}

bool Bridge::isOwnCall(const std::string &call) const {
    return agw::normalCall(call) == agw::normalCall(state_.myCallsign);
}

// A notice or data of the link that is asked for, up or closing: from the station it was made with, on its
// radio port, to the registered callsign.
bool Bridge::isLinkFrame(const EngineFrame &frame) const {
    return !link_.is(ClusterLink::State::Down) && link_.owns(frame, agw::normalCall(state_.myCallsign));
}

bool Bridge::isConfiguredCluster(const EngineFrame &frame) const {
    return frame.radioPort == state_.radioPort &&
           agw::normalCall(frame.from) == agw::normalCall(state_.cluster);
}

void Bridge::linkCameUp(const EngineFrame &frame) {
    if (link_.is(ClusterLink::State::Closing)) {
        // An attempt given up by the clients that left came up after all: nobody wants it.
        log_->note("Link up: " + frame.from + " on radio port " + std::to_string(frame.radioPort) +
                   ", not wanted any more");
        sendDisconnectRequest();
        return;
    }
    // A link is only wanted while its clients are there; otherwise it would stay up with nobody reading.
    log_->note("Link up: " + frame.from + " on radio port " + std::to_string(frame.radioPort));
    link_.cameUp(noticeText(frame.text));
    if (noClients() || !sendToAll(link_.notice())) {
        closeLink();
        return;
    }
    relinking_ = false;
    relinkTicksLeft_ = 0;
    ticksLinkUp_ = 0;
    setLinkState(ClusterLink::State::Up);
    sendHeldLines();
    readEveryClient(); // what the clients sent while the link came up
}

void Bridge::linkWentDown(const EngineFrame &frame) {
    log_->note("Link down: " + frame.from + " on radio port " + std::to_string(frame.radioPort) + " (" +
               noticeLine(frame.text) + ")");
    if (link_.is(ClusterLink::State::Closing)) {
        previousLinkWentDown();
        return;
    }
    flushRadioText();
    setLinkState(ClusterLink::State::Down);
    keepTicksLeft_ = 0;
    if (noClients())
        return;
    if (state_.monitorMode)
        window_.setStatusText("Status: Monitoring");
    if (!sendToAll(noticeText(frame.text)))
        return;
    dropHeldLines();
    afterLinkEnded();
}

// The end of a link no client of now has known: its notice is not theirs. Clients that arrived meanwhile
// get their link now.
void Bridge::previousLinkWentDown() {
    setLinkState(ClusterLink::State::Down);
    keepTicksLeft_ = 0;
    previousLinkTicksLeft_ = 0;
    if (std::exchange(connectAfterPreviousLink_, false) && !noClients() && !state_.monitorMode)
        requestLink();
}

// A link that ended, or an attempt the cluster refused, while clients are there: they stay, are closed, or
// the link is asked for again after a pause.
void Bridge::afterLinkEnded() {
    if (state_.relink && !state_.monitorMode && !noClients())
        scheduleRelink();
    else
        stopRelinking();
    if (state_.closeClientsWhenLinkEnds && !state_.monitorMode && !relinking_)
        closeEveryClient();
}

// Whole lines only, each in a write of its own: some clients parse every read on its own.
bool Bridge::relayRadioText(const std::string &text) {
    for (const std::string &line : radioLines_.feed(text))
        if (!sendToAll(line))
            return false;
    radioHeldTicks_ = 0;
    return !noClients();
}

void Bridge::flushRadioText() {
    radioHeldTicks_ = 0;
    const std::string held = radioLines_.takeHeld();
    if (!held.empty())
        sendToAll(held);
}

// ---- the telnet session ----

void Bridge::onClientArrival(int32_t requestId) {
    const HandlerScope scope(*this);
    // Only a request that was already waiting when the last place was taken can find the session full.
    if (static_cast<int>(liveClientCount()) >= maxClients()) {
        socket_.refuse(requestId);
        log_->note("Telnet client refused: " + std::to_string(liveClientCount()) + " connected already");
        return;
    }
    socket_.accept(requestId);
    const bool first = noClients();
    clients_[requestId] = Client{};
    updateListening();
    if (first) {
        log_->note("Telnet client connected");
        startSession(requestId);
    } else {
        log_->note("Telnet client joined the session (" + std::to_string(liveClientCount()) + " clients)");
        joinSession(requestId);
    }
}

void Bridge::startSession(ClientId client) {
    radioLines_.reset();
    radioHeldTicks_ = 0;
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    const bool linkKept = keepTicksLeft_ > 0 && link_.is(ClusterLink::State::Up);
    keepTicksLeft_ = 0;

    if (!sendToClient(client, kWelcomeLine))
        return;
    if (state_.monitorMode) {
        if (linkKept)
            closeLink();
        if (sendToClient(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n"))
            window_.setStatusText("Status: Monitoring");
        return;
    }
    if (linkKept) {
        log_->note("Link to " + link_.station() + " kept for the returning client");
        sendToClient(client, link_.notice());
        return;
    }
    if (!sendToClient(client, "Connecting to " + state_.cluster + " DX Cluster Station...*Please Wait*\r\n"))
        return;
    requestLink();
}

// A further client shares what is there: the link that is up, the attempt under way, or the next one.
void Bridge::joinSession(ClientId client) {
    if (!sendToClient(client, kWelcomeLine) ||
        !sendToClient(client, "Joining the session with " + state_.cluster + " DX Cluster Station (" +
                                  std::to_string(liveClientCount()) + " clients)\r\n"))
        return;
    if (state_.monitorMode) {
        sendToClient(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n");
        return;
    }
    switch (link_.state()) {
    case ClusterLink::State::Up:
        sendToClient(client, link_.notice());
        return;
    case ClusterLink::State::Connecting:
        return; // the link's notice reaches every client
    case ClusterLink::State::Closing:
        if (connectAfterPreviousLink_)
            return; // the connect goes out once the previous link has ended
        [[fallthrough]];
    case ClusterLink::State::Down:
        if (relinking_) {
            sendToClient(client,
                         reconnectingLine((relinkTicksLeft_ + kTicksPerSecond - 1) / kTicksPerSecond));
        } else if (sendToClient(client, "Connecting to " + state_.cluster +
                                            " DX Cluster Station...*Please Wait*\r\n")) {
            requestLink();
        }
        return;
    }
}

void Bridge::requestLink() {
    if (link_.is(ClusterLink::State::Connecting)) {
        // An attempt that the clients before gave up is still under way: they take it over, unless the
        // settings have changed since; a second connect for the same link would be ignored.
        if (attemptMatchesSettings())
            return;
        closeLink();
    }
    if (link_.is(ClusterLink::State::Closing)) {
        // An engine ignores a connect while it takes the same link down, would drop this session's lines
        // sent into the closing link, and the old link's notice would reach the new clients.
        waitForPreviousLink();
        return;
    }
    std::vector<std::string> digipeaters = routeInSettings();
    std::string route;
    for (const std::string &digipeater : digipeaters)
        route += (route.empty() ? " via " : ",") + digipeater;
    log_->note("Connect request to " + state_.cluster + route + " on radio port " +
               std::to_string(state_.radioPort));
    if (const std::string odd = agw::airRouteProblem(state_.myCallsign, state_.cluster, digipeaters);
        !odd.empty())
        log_->warn(odd + ": the engine can make no frame for it, and the link will not come up");
    const std::string problem = engine_.connect(state_.cluster, digipeaters, state_.radioPort);
    if (problem.empty()) {
        link_.asked(state_.cluster, state_.radioPort, std::move(digipeaters));
        return;
    }
    // Without this the clients would wait at "*Please Wait*" for ever.
    log_->warn("connect request to " + state_.cluster + " not sent: " + problem);
    setLinkState(ClusterLink::State::Down);
    if (!sendToAll("*** Can't connect to " + state_.cluster + ": " + problem + "\r\n") ||
        !sendToAll("*** DISCONNECTED From Station " + state_.cluster + "\r\n"))
        return;
    dropHeldLines();
    // An engine that is away now may be back by the next attempt.
    afterLinkEnded();
}

void Bridge::waitForPreviousLink() {
    if (connectAfterPreviousLink_)
        return;
    connectAfterPreviousLink_ = true;
    previousLinkTicksLeft_ = kPreviousLinkCloseWaitSeconds * kTicksPerSecond;
    log_->note("Waiting for the previous link to " + link_.station() + " to end before connecting");
}

// The previous link's end never came: the clients waiting for a new one are told, and the old one is
// forgotten, so that the next attempt goes out.
void Bridge::previousLinkWaitWhenDue() {
    if (previousLinkTicksLeft_ == 0 || --previousLinkTicksLeft_ > 0)
        return;
    if (!std::exchange(connectAfterPreviousLink_, false) || !link_.is(ClusterLink::State::Closing))
        return;
    const std::string station = link_.station();
    log_->warn("the previous link to " + station + " did not end within " +
               std::to_string(kPreviousLinkCloseWaitSeconds) + " s; no connect request sent");
    setLinkState(ClusterLink::State::Down);
    if (!sendToAll("*** Can't connect to " + state_.cluster + ": the previous link to " + station +
                   " has not ended\r\n") ||
        !sendToAll("*** DISCONNECTED From Station " + state_.cluster + "\r\n"))
        return;
    dropHeldLines();
    afterLinkEnded();
}

std::vector<std::string> Bridge::routeInSettings() const {
    if (!state_.connectViaDigipeaters || state_.digipeaters.empty())
        return {};
    return agw::routeCalls(state_.digipeaters);
}

bool Bridge::attemptMatchesSettings() const {
    return link_.station() == agw::normalCall(state_.cluster) && link_.radioPort() == state_.radioPort &&
           link_.digipeaters() == routeInSettings();
}

// Lines typed now are kept until the link is up: it is being asked for, or will be once the last one ended.
bool Bridge::linesWaitForLink() const {
    return link_.is(ClusterLink::State::Connecting) ||
           (link_.is(ClusterLink::State::Closing) && connectAfterPreviousLink_);
}

// ---- relinking and keeping the link ----

// One line per attempt to the clients, and the status line, so the user sees that the link is looked after.
void Bridge::scheduleRelink() {
    const int seconds = relinkPauseSeconds_;
    relinkPauseSeconds_ = std::min(seconds * 2, kLongestRelinkPauseSeconds);
    relinking_ = true;
    relinkTicksLeft_ = seconds * kTicksPerSecond;
    log_->note("Reconnecting to " + state_.cluster + " in " + std::to_string(seconds) + " s");
    window_.setStatusText("Status: Reconnecting");
    sendToAll(reconnectingLine(seconds));
}

void Bridge::relinkWhenDue() {
    if (relinkTicksLeft_ == 0 || --relinkTicksLeft_ > 0)
        return;
    // Switched off meanwhile (Preferences), or the clients are now monitoring: no more attempts.
    if (noClients() || !state_.relink || state_.monitorMode) {
        stopRelinking();
        return;
    }
    requestLink();
}

void Bridge::stopRelinking() {
    const bool wasRelinking = relinking_;
    relinking_ = false;
    relinkTicksLeft_ = 0;
    relinkPauseSeconds_ = kFirstRelinkPauseSeconds;
    if (wasRelinking && !link_.is(ClusterLink::State::Up))
        window_.setStatusText(state_.monitorMode ? "Status: Monitoring" : "Status: Disconnected");
}

// A link kept for a returning client ends, with one disconnect request, when nobody came back in time.
void Bridge::keepLinkWhileDue() {
    if (keepTicksLeft_ == 0 || --keepTicksLeft_ > 0)
        return;
    if (noClients() && link_.is(ClusterLink::State::Up)) {
        log_->note("No client came back within " + std::to_string(state_.keepLinkSeconds) + " s");
        closeLink();
    }
}

std::string Bridge::reconnectingLine(int seconds) const {
    return "Reconnecting to " + state_.cluster + " in " + std::to_string(seconds) + " s...\r\n";
}

// ---- the clients' text ----

void Bridge::onClientData(ClientId client) {
    const HandlerScope scope(*this);
    if (!hasClient(client))
        return;
    const bool hadLinePartlySent = linePartlySent_ == client;
    readClientText(client);
    if (hadLinePartlySent && !linePartlySent_)
        readEveryClient(); // what the others sent while this client's long line went out
}

void Bridge::readEveryClient() {
    // A client whose line is partly out goes first: the others wait for that line's end.
    if (linePartlySent_ && hasClient(*linePartlySent_))
        readClientText(*linePartlySent_);
    for (const ClientId id : clientIds())
        if (hasClient(id) && socket_.bytesAvailable(id) > 0)
            readClientText(id);
}

void Bridge::readClientText(ClientId client) {
    if (state_.monitorMode) {
        while (socket_.bytesAvailable(client) > 0)
            socket_.read(client, socket_.bytesAvailable(client));
        return;
    }
    if (mustWaitForAnothersLine(client))
        return;
    // What is not read now stays in the socket, and TCP holds the client back until there is room.
    while (hasClient(client) && socket_.bytesAvailable(client) > 0 && canTakeClientText()) {
        std::size_t room = kClientReadBytes;
        if (linesWaitForLink())
            room = kMaxLinesWaitingForLinkBytes - linesWaitingBytes_;
        const std::string bytes = socket_.read(client, room);
        for (const ClientLine &line : clients_.at(client).lines.feed(bytes))
            takeClientLine(client, line);
        clients_.at(client).heldTicks = 0;
    }
}

bool Bridge::canTakeClientText() const {
    if (link_.is(ClusterLink::State::Up))
        return engine_.canTakeData();
    if (linesWaitForLink())
        return linesWaitingBytes_ < kMaxLinesWaitingForLinkBytes;
    return true;
}

void Bridge::takeClientLine(ClientId client, const ClientLine &line) {
    // The end of a line that went out in pieces is never a keepalive.
    if (linePartlySent_ != client && keepOffTheAir(line))
        return;
    const std::string text = line.ended ? withRadioLineEnd(line.text, state_.compatibilityMode) : line.text;
    if (link_.is(ClusterLink::State::Up)) {
        sendToCluster(client, text);
    } else if (linesWaitForLink()) {
        // An engine drops data for a link that is still being set up, or is being taken down.
        linesWaitingForLink_.push_back({client, text});
        linesWaitingBytes_ += text.size();
    } else {
        sendToClient(client, "*** Not sent, no link to " + state_.cluster + "\r\n");
    }
    if (!line.ended) {
        linePartlySent_ = client;
    } else if (linePartlySent_ == client) {
        linePartlySent_.reset();
        sendLinesOfLeftClients();
    }
}

// The link's own station and radio port, whatever the settings say by now. Only what the engine took is
// counted; the client hears of what it did not take.
void Bridge::sendToCluster(ClientId client, const std::string &text) {
    if (!engine_.sendData(link_.station(), text, link_.radioPort())) {
        sendToClient(client, "*** Not sent, no link to " + link_.station() +
                                 ": the packet engine is not connected\r\n");
        return;
    }
    state_.transferredBytes += static_cast<int64_t>(text.size());
    bytesToRadio_ += static_cast<int64_t>(text.size());
}

// The last lines of clients that left while another client's line was partly out, now that it has ended.
void Bridge::sendLinesOfLeftClients() {
    for (const WaitingLine &line : linesOfLeftClients_)
        if (link_.is(ClusterLink::State::Up))
            sendToCluster(line.client, line.text);
    linesOfLeftClients_.clear();
}

// Each empty line a logging program sends to keep its telnet link alive would be a transmission on a shared
// channel; with quiet keepalives only one in kKeepaliveIntervalSeconds goes, and none while there is no link.
bool Bridge::keepOffTheAir(const ClientLine &line) {
    if (!state_.quietKeepalives || !line.ended || !line.text.empty())
        return false;
    const bool due = !keepaliveSent_ || ticksSinceKeepalive_ >= kKeepaliveIntervalSeconds * kTicksPerSecond;
    if (due && (link_.is(ClusterLink::State::Up) || linesWaitForLink())) {
        keepaliveSent_ = true;
        ticksSinceKeepalive_ = 0;
        return false;
    }
    ++keepalivesKeptOff_;
    ++allKeepalivesKeptOff_;
    return true;
}

void Bridge::sendHeldLines() {
    for (const WaitingLine &line : linesWaitingForLink_)
        sendToCluster(line.client, line.text);
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
}

// Each client hears how many of its own lines did not go out.
void Bridge::dropHeldLines() {
    std::map<ClientId, std::size_t> linesOf;
    for (const WaitingLine &line : linesWaitingForLink_)
        ++linesOf[line.client];
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    for (const auto &[client, lines] : linesOf)
        if (hasClient(client))
            sendToClient(client, "*** Not sent, no link to " + state_.cluster + ": " + std::to_string(lines) +
                                     (lines == 1 ? " line" : " lines") + " typed while connecting\r\n");
}

// ---- clients leaving ----

void Bridge::onClientGone(ClientId client) {
    // Closing the socket at shutdown may report the client's close; nothing is to be reopened then.
    if (phase_ == Phase::ShutDown)
        return;
    const HandlerScope scope(*this);
    markEnding(client);
}

void Bridge::onClientError(ClientId client, int32_t number, const std::string &description) {
    const HandlerScope scope(*this);
    endClientBecause(client, "telnet socket error " + std::to_string(number) + ": " + description);
}

void Bridge::endClientBecause(ClientId client, const std::string &reason) {
    if (phase_ == Phase::ShutDown || !hasClient(client))
        return;
    log_->warn("ending the telnet session: " + reason);
    markEnding(client);
}

// Any send can end a client, in the middle of a handler that goes on using it (the socket may even report
// its close from inside the send): the client is only marked here, and removed when the handler is done.
void Bridge::markEnding(ClientId client) {
    if (!hasClient(client))
        return;
    clients_.at(client).ending = true;
    if (handlerDepth_ == 0) {
        const HandlerScope scope(*this);
    }
}

void Bridge::endMarkedClients() {
    for (;;) {
        const auto marked = std::find_if(clients_.begin(), clients_.end(),
                                         [](const auto &entry) { return entry.second.ending; });
        if (marked == clients_.end() || phase_ == Phase::ShutDown)
            break;
        const ClientId client = marked->first;
        log_->note("Telnet client left");
        const bool hadLinePartlySent = linePartlySent_ == client;
        leaveClient(client, true);
        if (hadLinePartlySent)
            readEveryClient(); // what the others sent while its long line went out
    }
    updateListening();
}

// Once the clients have read that the link ended: a telnet cluster closes the connection then, and logging
// programs show that (some reconnect).
void Bridge::closeEveryClient() {
    for (const ClientId id : clientIds()) {
        log_->note("Closing the telnet client: the link has ended");
        markEnding(id);
    }
}

// The client is gone: its last unfinished line still reaches the cluster. The last client's going ends the
// session.
void Bridge::leaveClient(ClientId client, bool mayKeepLink) {
    endLineOfLeavingClient(client);
    socket_.close(client);
    clients_.erase(client);
    if (noClients())
        endSession(mayKeepLink);
}

// A leaving client's last text still goes out: what it sent that waited unread in its socket (the engine's
// queue was full, or another client's long line was going out; the socket reads ahead a bounded amount),
// then its unfinished line. After the line that another client has partly sent, if there is one. (A line
// that went out in part always holds its last bytes: pieces go only once more follows.)
void Bridge::endLineOfLeavingClient(ClientId client) {
    if (!link_.is(ClusterLink::State::Up) || state_.monitorMode) {
        if (linePartlySent_ == client) {
            linePartlySent_.reset();
            sendLinesOfLeftClients();
        }
        return;
    }
    ClientLines &lines = clients_.at(client).lines;
    std::vector<ClientLine> last = lines.feed(socket_.read(client, socket_.bytesAvailable(client)));
    if (auto held = lines.takeHeld())
        last.push_back(std::move(*held));
    for (const ClientLine &line : last) {
        if (mustWaitForAnothersLine(client))
            linesOfLeftClients_.push_back(
                {client, line.ended ? withRadioLineEnd(line.text, state_.compatibilityMode) : line.text});
        else
            takeClientLine(client, line);
    }
}

// An attempt still under way stays so: a client that comes soon takes it over, and if it comes up with
// nobody there it is taken down.
void Bridge::endSession(bool mayKeepLink) {
    if (link_.is(ClusterLink::State::Up)) {
        if (mayKeepLink && state_.keepLinkSeconds > 0 && !state_.monitorMode) {
            keepTicksLeft_ = state_.keepLinkSeconds * kTicksPerSecond;
            log_->note("Keeping the link to " + link_.station() + " for " +
                       std::to_string(state_.keepLinkSeconds) + " s");
        } else {
            closeLink();
        }
    }
    radioLines_.reset();
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    linePartlySent_.reset();
    linesOfLeftClients_.clear();
    connectAfterPreviousLink_ = false;
    previousLinkTicksLeft_ = 0;
    stopRelinking(); // attempts are for clients that are there
}

void Bridge::shutDown() {
    if (phase_ == Phase::ShutDown)
        return;
    const bool running = phase_ == Phase::Running || phase_ == Phase::Registered;
    phase_ = Phase::ShutDown;
    if (running && !clients_.empty()) {
        std::vector<ClientId> ids;
        for (const auto &[id, client] : clients_)
            ids.push_back(id);
        for (const ClientId id : ids)
            leaveClient(id, false);
    } else if (link_.is(ClusterLink::State::Up)) {
        closeLink();
    }
    socket_.stopListening();
    closeEngine();
}

void Bridge::closeEngine() {
    engineClosing_ = true;
    engine_.close();
}

void Bridge::engineClosed() {
    if (!std::exchange(engineClosing_, false))
        return;
    if (engineClosedHandler_)
        engineClosedHandler_();
}

void Bridge::readyForData() {
    if (phase_ != Phase::Running && phase_ != Phase::Registered)
        return;
    const HandlerScope scope(*this);
    readEveryClient();
}

// ---- sending to the clients ----

bool Bridge::sendToClient(ClientId client, const std::string &text) {
    if (!hasClient(client))
        return false;
    const std::string bytes = withTelnetLineEnds(text);
    // A slow client is ended alone: the others, and the link, go on.
    if (socket_.unsentBytes(client) + bytes.size() > kMaxUnsentToClientBytes) {
        endClientBecause(client, "the client stopped reading: more than " +
                                     std::to_string(kMaxUnsentToClientBytes / 1024) +
                                     " KB are waiting for it");
        return false;
    }
    if (socket_.send(client, bytes))
        return true;
    // A client that cannot be written to is gone: end it as on a socket error.
    endClientBecause(client, "sending to the client failed");
    return false;
}

bool Bridge::sendToAll(const std::string &text) {
    for (const ClientId id : clientIds())
        sendToClient(id, text);
    return !noClients();
}

// The clients still in the session: not those whose end is decided.
std::vector<ClientId> Bridge::clientIds() const {
    std::vector<ClientId> ids;
    for (const auto &[id, client] : clients_)
        if (!client.ending)
            ids.push_back(id);
    return ids;
}

bool Bridge::hasClient(ClientId client) const {
    const auto found = clients_.find(client);
    return found != clients_.end() && !found->second.ending;
}

std::size_t Bridge::liveClientCount() const {
    return static_cast<std::size_t>(std::count_if(clients_.begin(), clients_.end(),
                                                  [](const auto &entry) { return !entry.second.ending; }));
}

int Bridge::maxClients() const {
    return std::clamp(state_.maxClients, 1, static_cast<int>(settings::kClients.max));
}

void Bridge::disconnectStranger(const EngineFrame &frame) {
    log_->note("Disconnect request to " + frame.from + " on radio port " + std::to_string(frame.radioPort));
    engine_.disconnect(frame.from, frame.radioPort);
}

// To the station and radio port the link was made with.
void Bridge::sendDisconnectRequest() {
    log_->note("Disconnect request to " + link_.station() + " on radio port " +
               std::to_string(link_.radioPort()));
    engine_.disconnect(link_.station(), link_.radioPort());
}

// A link no client hears of any more: its down notice is not for the clients that come next.
void Bridge::closeLink() {
    sendDisconnectRequest();
    setLinkState(ClusterLink::State::Closing);
}

void Bridge::setLinkState(ClusterLink::State state) {
    switch (state) {
    case ClusterLink::State::Up:
        link_.cameUp(link_.notice());
        break;
    case ClusterLink::State::Closing:
        link_.closing();
        break;
    case ClusterLink::State::Down:
        link_.wentDown();
        break;
    case ClusterLink::State::Connecting:
        return;
    }
    // The link is on the air from its up notice to its down notice, also while it closes.
    if (state == ClusterLink::State::Closing)
        return;
    state_.linkUp = state == ClusterLink::State::Up;
    window_.setStatusText(state_.linkUp ? "Status: Connected" : "Status: Disconnected");
}

// Once a minute, while there is traffic: what a user compares with the radio's own rate, and how many
// keepalives stayed off the air.
void Bridge::noteEachMinute() {
    if (++ticksSinceMinuteNote_ < kTicksPerMinute)
        return;
    ticksSinceMinuteNote_ = 0;
    if (bytesFromRadio_ != 0 || bytesToRadio_ != 0)
        log_->note("Relayed in the last minute: " + std::to_string(bytesFromRadio_) +
                   " bytes from the radio, " + std::to_string(bytesToRadio_) + " bytes to the radio");
    if (keepalivesKeptOff_ != 0)
        log_->note("Kept off the air in the last minute: " + std::to_string(keepalivesKeptOff_) +
                   " empty lines from the clients (" + std::to_string(allKeepalivesKeptOff_) +
                   " since start-up)");
    bytesFromRadio_ = bytesToRadio_ = 0;
    keepalivesKeptOff_ = 0;
}

// The listener takes clients while there is room for one more in the session.
void Bridge::updateListening() {
    if (phase_ != Phase::Running)
        return;
    const bool room = static_cast<int>(clients_.size()) < maxClients();
    if (room && !socket_.isListening())
        listenAgain();
    else if (!room && socket_.isListening())
        socket_.stopListening();
}

void Bridge::listenAgain() {
    std::string error;
    if (!socket_.listen(error) && error != lastListenError_)
        log_->warn("cannot listen on local TCP port " + std::to_string(socket_.localPort()) + ": " + error +
                   "; trying again");
    lastListenError_ = error;
}

// The engine lists its radio ports after each registration. A radio port it does not have would bring the
// link up on another channel, where no text gets through, so connects on it are refused: said as the program
// starts, not first at a connect, and again in the log only when a restarted engine changes the story.
void Bridge::radioPortsKnown(const std::vector<int> &ports) {
    if (phase_ != Phase::Registered && phase_ != Phase::Running)
        return;
    const bool first = !radioPortsHeard_;
    radioPortsHeard_ = true;
    log_->note("The packet engine's radio ports: " + agw::portNumbersText(ports));
    std::string problem;
    if (std::find(ports.begin(), ports.end(), state_.radioPort) == ports.end())
        problem = "Radio port " + std::to_string(state_.radioPort) +
                  " is not one of the packet engine's radio ports (" + agw::portNumbersText(ports) +
                  "): connects are refused until RadioPort in Options > Preferences names one of them";
    if (const std::string said = std::exchange(radioPortProblemSaid_, problem);
        problem.empty() || problem == said)
        return;
    log_->warn(problem);
    if (first)
        window_.messageBox(problem + ".");
}

} // namespace corvantle
