// The bridge's handlers: start-up, frames from the engine, the telnet clients and their shared session, the
// tick (with the relink and keep-link times), auto-minimize and shutdown.
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
    state_.relink = read.boolean(kRelink);
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
        // Also said where a terminal or a service manager's journal keeps it: the program ends after the box.
        const std::string reason =
            "Can't listen on local TCP port " + std::to_string(socket_.localPort()) + ": " + error;
        log_->warn(reason);
        window_.messageBox(reason);
        engine_.close();
        window_.endProgram(2);
        return false;
    }

    window_.setTimerEnabled(TimerId::Tick, true);
    phase_ = Phase::Running;
    log_->note("Listening for a telnet client on " + socket_.listenAddress() + " port " +
               std::to_string(socket_.localPort()));
    return true;
}

// ---- the tick ----

void Bridge::onTick() {
    if (phase_ != Phase::Registered && phase_ != Phase::Running)
        return;

    letOutHeldClientLines();
    if (radioLines_.holding() && ++radioHeldTicks_ >= kHoldTicks)
        flushRadioText(); // a prompt without a line end
    // A safety net: client text left waiting while the engine's queue was full.
    readEveryClient();

    relinkWhenDue();
    keepLinkWhileDue();
    if (link_ == Link::Up && ticksLinkUp_ < kStableLinkSeconds * kTicksPerSecond &&
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
    if (state_.monitorMode)
        monitorFrame(frame);
    else
        clusterFrame(frame);
}

// In a cluster session the clients hear the cluster station and nobody else: a stranger who connects to
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
        // Text while the link waits for a returning client has nobody to go to: dropped, not counted.
        if (isCluster(frame.from) && frame.radioPort == state_.radioPort && !clients_.empty() &&
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
        if (isCluster(frame.from) && frame.radioPort == state_.radioPort && !clients_.empty())
            relayRadioText(frame.text);
        return;
    default:
        return;
    }
}

void Bridge::clusterLinkUp(const EngineFrame &frame) {
    // A link is only wanted while its clients are there; otherwise it would stay up with nobody reading.
    log_->note("Link up: " + frame.from + " on radio port " + std::to_string(frame.radioPort));
    linkUpNotice_ = noticeText(frame.text);
    if (clients_.empty() || !sendToAll(linkUpNotice_)) {
        sendDisconnectRequest(frame.from);
        return;
    }
    relinking_ = false;
    relinkTicksLeft_ = 0;
    ticksLinkUp_ = 0;
    setLink(Link::Up);
    sendHeldLines();
    readEveryClient(); // what the clients sent while the link came up
}

void Bridge::clusterLinkDown(const EngineFrame &frame) {
    const bool hadLink = link_ != Link::Down || state_.linkUp;
    log_->note("Link down: " + frame.from + " on radio port " + std::to_string(frame.radioPort) + " (" +
               noticeLine(frame.text) + ")");
    flushRadioText();
    setLink(Link::Down);
    keepTicksLeft_ = 0;
    if (clients_.empty())
        return;
    if (state_.monitorMode)
        window_.setStatusText("Status: Monitoring");
    if ((hadLink || !state_.monitorMode) && !sendToAll(noticeText(frame.text)))
        return;
    dropHeldLines();
    if (!hadLink)
        return; // a notice for a link that was already down changes nothing
    // A link that ended, or an attempt the cluster refused: the clients stay, so ask again after a pause.
    if (state_.relink && !state_.monitorMode && !clients_.empty())
        scheduleRelink();
    else
        stopRelinking();
}

bool Bridge::isCluster(const std::string &station) const {
    return agw::normalCall(station) == agw::normalCall(state_.cluster);
}

// Whole lines only, each in a write of its own: some clients parse every read on its own.
bool Bridge::relayRadioText(const std::string &text) {
    for (const std::string &line : radioLines_.feed(text))
        if (!sendToAll(line))
            return false;
    radioHeldTicks_ = 0;
    return !clients_.empty();
}

void Bridge::flushRadioText() {
    radioHeldTicks_ = 0;
    const std::string held = radioLines_.takeHeld();
    if (!held.empty())
        sendToAll(held);
}

// ---- the telnet session ----

void Bridge::onClientArrival(int32_t requestId) {
    // Only a request that was already waiting when the last place was taken can find the session full.
    if (static_cast<int>(clients_.size()) >= maxClients()) {
        socket_.refuse(requestId);
        log_->note("Telnet client refused: " + std::to_string(clients_.size()) + " connected already");
        return;
    }
    socket_.accept(requestId);
    const bool first = clients_.empty();
    clients_[requestId] = Client{};
    updateListening();
    if (first) {
        log_->note("Telnet client connected");
        startSession(requestId);
    } else {
        log_->note("Telnet client joined the session (" + std::to_string(clients_.size()) + " clients)");
        joinSession(requestId);
    }
}

void Bridge::startSession(ClientId client) {
    radioLines_.reset();
    radioHeldTicks_ = 0;
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    link_ = state_.linkUp ? Link::Up : Link::Down;
    const bool linkKept = keepTicksLeft_ > 0 && state_.linkUp;
    keepTicksLeft_ = 0;

    if (!sendToClient(client, kWelcomeLine))
        return;
    if (state_.monitorMode) {
        if (linkKept)
            sendDisconnectRequest(state_.cluster);
        if (sendToClient(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n"))
            window_.setStatusText("Status: Monitoring");
        return;
    }
    if (linkKept) {
        log_->note("Link to " + state_.cluster + " kept for the returning client");
        sendToClient(client, linkUpNotice_);
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
                                  std::to_string(clients_.size()) + " clients)\r\n"))
        return;
    if (state_.monitorMode) {
        sendToClient(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n");
        return;
    }
    switch (link_) {
    case Link::Up:
        sendToClient(client, linkUpNotice_);
        return;
    case Link::Pending:
        return; // the link's notice reaches every client
    case Link::Down:
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
    // Without this the clients would wait at "*Please Wait*" for ever.
    log_->warn("connect request to " + state_.cluster + " not sent: " + problem);
    setLink(Link::Down);
    if (!sendToAll("*** Can't connect to " + state_.cluster + ": " + problem + "\r\n") ||
        !sendToAll("*** DISCONNECTED From Station " + state_.cluster + "\r\n"))
        return;
    // An engine that is away now may be back by the next attempt.
    if (state_.relink && !clients_.empty())
        scheduleRelink();
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
    if (clients_.empty() || !state_.relink || state_.monitorMode) {
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
    if (wasRelinking && link_ != Link::Up)
        window_.setStatusText(state_.monitorMode ? "Status: Monitoring" : "Status: Disconnected");
}

// A link kept for a returning client ends, with one disconnect request, when nobody came back in time.
void Bridge::keepLinkWhileDue() {
    if (keepTicksLeft_ == 0 || --keepTicksLeft_ > 0)
        return;
    if (clients_.empty() && state_.linkUp) {
        log_->note("No client came back within " + std::to_string(state_.keepLinkSeconds) + " s");
        sendDisconnectRequest(state_.cluster);
    }
}

std::string Bridge::reconnectingLine(int seconds) const {
    return "Reconnecting to " + state_.cluster + " in " + std::to_string(seconds) + " s...\r\n";
}

// ---- the clients' text ----

void Bridge::onClientData(ClientId client) {
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
        if (link_ == Link::Pending)
            room = kMaxLinesWaitingForLinkBytes - linesWaitingBytes_;
        const std::string bytes = socket_.read(client, room);
        for (const ClientLine &line : clients_.at(client).lines.feed(bytes)) {
            takeClientLine(client, line);
            if (!hasClient(client))
                return;
        }
        clients_.at(client).heldTicks = 0;
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

void Bridge::takeClientLine(ClientId client, const ClientLine &line) {
    // The end of a line that went out in pieces is never a keepalive.
    if (linePartlySent_ != client && keepOffTheAir(line))
        return;
    const std::string text = line.ended ? withRadioLineEnd(line.text, state_.compatibilityMode) : line.text;
    switch (link_) {
    case Link::Up:
        sendToCluster(text);
        break;
    case Link::Pending:
        // An engine drops data for a link that is still being set up.
        linesWaitingForLink_.push_back({client, text});
        linesWaitingBytes_ += text.size();
        break;
    case Link::Down:
        sendToClient(client, "*** Not sent, no link to " + state_.cluster + "\r\n");
        break;
    }
    if (!line.ended) {
        linePartlySent_ = client;
    } else if (linePartlySent_ == client) {
        linePartlySent_.reset();
        sendLinesOfLeftClients();
    }
}

void Bridge::sendToCluster(const std::string &text) {
    engine_.sendData(state_.cluster, text, state_.radioPort);
    state_.transferredBytes += static_cast<int64_t>(text.size());
    bytesToRadio_ += static_cast<int64_t>(text.size());
}

// The last lines of clients that left while another client's line was partly out, now that it has ended.
void Bridge::sendLinesOfLeftClients() {
    for (const WaitingLine &line : linesOfLeftClients_)
        if (link_ == Link::Up)
            sendToCluster(line.text);
    linesOfLeftClients_.clear();
}

// Each empty line a logging program sends to keep its telnet link alive would be a transmission on a shared
// channel; with quiet keepalives only one in kKeepaliveIntervalSeconds goes, and none while there is no link.
bool Bridge::keepOffTheAir(const ClientLine &line) {
    if (!state_.quietKeepalives || !line.ended || !line.text.empty())
        return false;
    const bool due = !keepaliveSent_ || ticksSinceKeepalive_ >= kKeepaliveIntervalSeconds * kTicksPerSecond;
    if (due && link_ != Link::Down) {
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
        sendToCluster(line.text);
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
    if (phase_ == Phase::ShutDown || !hasClient(client))
        return;
    log_->note("Telnet client left");
    const bool hadLinePartlySent = linePartlySent_ == client;
    leaveClient(client, true);
    if (hadLinePartlySent)
        readEveryClient(); // what the others sent while its long line went out
    updateListening();
}

void Bridge::onClientError(ClientId client, int32_t number, const std::string &description) {
    endClientBecause(client, "telnet socket error " + std::to_string(number) + ": " + description);
}

void Bridge::endClientBecause(ClientId client, const std::string &reason) {
    log_->warn("ending the telnet session: " + reason);
    onClientGone(client);
}

// The client is gone: its last unfinished line still reaches the cluster. The last client's going ends the
// session.
void Bridge::leaveClient(ClientId client, bool mayKeepLink) {
    endLineOfLeavingClient(client);
    socket_.close(client);
    clients_.erase(client);
    if (clients_.empty())
        endSession(mayKeepLink);
}

// A leaving client's last text still goes out: what it sent that waited unread in its socket (the engine's
// queue was full, or another client's long line was going out; the socket reads ahead a bounded amount),
// then its unfinished line. After the line that another client has partly sent, if there is one. (A line
// that went out in part always holds its last bytes: pieces go only once more follows.)
void Bridge::endLineOfLeavingClient(ClientId client) {
    if (link_ != Link::Up || state_.monitorMode) {
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

void Bridge::endSession(bool mayKeepLink) {
    if (state_.linkUp) {
        if (mayKeepLink && state_.keepLinkSeconds > 0 && !state_.monitorMode) {
            keepTicksLeft_ = state_.keepLinkSeconds * kTicksPerSecond;
            log_->note("Keeping the link to " + state_.cluster + " for " +
                       std::to_string(state_.keepLinkSeconds) + " s");
        } else {
            sendDisconnectRequest(state_.cluster);
        }
    }
    radioLines_.reset();
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
    linePartlySent_.reset();
    linesOfLeftClients_.clear();
    if (link_ == Link::Pending)
        link_ = Link::Down;
    stopRelinking(); // attempts are for clients that are there
}

void Bridge::shutDown() {
    if (phase_ == Phase::ShutDown)
        return;
    const bool running = phase_ == Phase::Running || phase_ == Phase::Registered;
    phase_ = Phase::ShutDown;
    if (running && !clients_.empty()) {
        for (const ClientId id : clientIds())
            leaveClient(id, false);
    } else if (state_.linkUp) {
        sendDisconnectRequest(state_.cluster);
    }
    socket_.stopListening();
    engine_.close();
}

void Bridge::readyForData() {
    if (phase_ == Phase::Running || phase_ == Phase::Registered)
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
    return !clients_.empty();
}

std::vector<ClientId> Bridge::clientIds() const {
    std::vector<ClientId> ids;
    for (const auto &[id, client] : clients_)
        ids.push_back(id);
    return ids;
}

int Bridge::maxClients() const {
    return std::clamp(state_.maxClients, 1, static_cast<int>(settings::kClients.max));
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

} // namespace corvantle
