// The bridge's handlers: start-up, frames from the engine, the telnet clients arriving and leaving, the
// tick, new settings, auto-minimize and shutdown.
//
// Everything runs on the user-interface thread, one handler at a time, so the state needs no locking.
#include "Bridge.h"

#include "Callsign.h"
#include "RadioPorts.h"
#include "TelnetSocket.h"
#include "Ticks.h"
#include "WindowOps.h"

#include <utility>

namespace corvantle {
namespace {

constexpr const char *kWelcomeLine = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";

} // namespace

Bridge::Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, const StartupSettings &startup)
    : window_(window), engine_(engine), startup_(startup), clients_(socket, log_),
      keeper_(engine, window, clients_, uplink_, downlink_, state_, log_),
      uplink_(clients_, engine, keeper_.link(), keeper_.schedule(), traffic_, state_) {
    engine_.setListener(this);
}

// ---- start-up ----

void Bridge::start(std::function<void(bool running)> done) {
    const HandlerScope scope(*this);
    startDone_ = std::move(done);
    state_ = startup_.bridge;
    ownCall_ = callsign::normal(state_.myCallsign);
    clusterCall_ = callsign::normal(state_.cluster);
    clients_.socket().setLocalPort(startup_.localPort);
    clients_.setMaxClients(state_.maxClients);

    window_.setTimerInterval(TimerId::AutoMinimize, state_.autoMinimizeDelayMs);
    window_.setTimerEnabled(TimerId::AutoMinimize, state_.autoMinimize == 1);

    for (const std::string &line : startup_.warnings)
        log_.warn(line);
    for (const std::string &box : startup_.boxes)
        window_.messageBox(box);

    log_.note("Registering " + ownCall_ + " with the packet engine");
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
        log_.note("Registration failed");
        window_.messageBox(engine_.registrationFailure());
        window_.endProgram(1);
        done(false);
        return;
    }
    phase_ = Phase::Registered;
    log_.note("Registered " + ownCall_);

    if (state_.cluster == "CLUSTER" || state_.myCallsign == "MYCALL")
        window_.messageBox("Please configure your Callsign and/or Cluster station in the Options Menu");

    TelnetSocket &socket = clients_.socket();
    std::string error;
    if (!socket.listen(error)) {
        // Also said where a terminal or a service manager's journal keeps it: the program ends after the box.
        const std::string reason =
            "Can't listen on local TCP port " + std::to_string(socket.localPort()) + ": " + error;
        log_.warn(reason);
        window_.messageBox(reason);
        closeEngine();
        window_.endProgram(2);
        done(false);
        return;
    }

    window_.setTimerEnabled(TimerId::Tick, true);
    phase_ = Phase::Running;
    clients_.allowListening();
    log_.note("Listening for a telnet client on " + socket.listenAddress() + " port " +
              std::to_string(socket.localPort()));
    done(true);
}

void Bridge::applySettings(const BridgeState &settings) {
    const HandlerScope scope(*this);
    BridgeState next = settings;
    next.programName = state_.programName;
    next.myCallsign = state_.myCallsign;
    state_ = next;
    clusterCall_ = callsign::normal(state_.cluster);
    clients_.setMaxClients(state_.maxClients);
    // Monitor Mode opens no link: the clients hear the link's end from its notice, and then monitor.
    if (state_.monitorMode && keeper_.link().is(ClusterLink::State::Up))
        keeper_.sendDisconnectRequest();
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
    if (!handling())
        return;
    const HandlerScope scope(*this);

    uplink_.tick();
    downlink_.tick();
    keeper_.tick();

    if (state_.autoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setTimerEnabled(TimerId::AutoMinimize, true);

    traffic_.tick();
    window_.setCounterText(traffic_.counterText());
    refusedClients_.tick();

    // Listening again after a session can fail (the port taken meanwhile); keep trying, once a tick.
    clients_.updateListening();
}

void Bridge::onAutoMinimizeTimer() {
    if (state_.autoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setWindowState(kWindowMinimized);
    window_.setTimerEnabled(TimerId::AutoMinimize, false);
}

// ---- frames from the engine ----

void Bridge::frameArrived(const EngineFrame &frame) {
    if (!handling())
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
    case FrameKind::LinkUp:
        if (!isOwnCall(frame.to))
            return;
        if (isLinkFrame(frame)) {
            keeper_.linkCameUp(frame);
        } else if (keeper_.link().is(ClusterLink::State::Down) && isConfiguredCluster(frame)) {
            keeper_.clusterConnectedToUs(frame);
        } else {
            log_.note("Link from " + frame.from + " on radio port " + std::to_string(frame.radioPort) +
                      " is not the cluster's: taken down");
            keeper_.disconnectStranger(frame);
        }
        return;
    case FrameKind::LinkDown:
        if (isLinkFrame(frame))
            keeper_.linkWentDown(frame);
        return;
    case FrameKind::LinkData:
        // Text while the link waits for a returning client has nobody to go to: dropped, not counted.
        if (keeper_.link().is(ClusterLink::State::Up) && isLinkFrame(frame) && !clients_.empty() &&
            downlink_.relay(frame.text))
            traffic_.fromRadio(frame.text.size());
        return;
    default:
        return;
    }
}

// Monitor Mode opens no link and passes on what the cluster is heard sending to others.
void Bridge::monitorFrame(const EngineFrame &frame) {
    switch (frame.kind) {
    case FrameKind::LinkUp:
        // A link that comes up anyway (a connect still pending when Monitor Mode was switched on) would hold
        // the cluster with nobody reading.
        if (!isOwnCall(frame.to))
            return;
        if (isLinkFrame(frame))
            keeper_.closeLink();
        else
            keeper_.disconnectStranger(frame);
        return;
    case FrameKind::LinkDown:
        if (isLinkFrame(frame))
            keeper_.linkWentDown(frame);
        return;
    case FrameKind::LinkData:
    case FrameKind::HeardInformation:
        if (isConfiguredCluster(frame) && !clients_.empty())
            downlink_.relay(frame.text);
        return;
    default:
        return;
    }
}

bool Bridge::isOwnCall(const std::string &call) const {
    return callsign::same(call, ownCall_);
}

// A notice or data of the link that is asked for, up or closing: from the station it was made with, on its
// radio port, to the registered callsign.
bool Bridge::isLinkFrame(const EngineFrame &frame) const {
    return keeper_.owns(frame, ownCall_);
}

bool Bridge::isConfiguredCluster(const EngineFrame &frame) const {
    return frame.radioPort == state_.radioPort && callsign::same(frame.from, clusterCall_);
}

// ---- the telnet session ----

void Bridge::onClientArrival(int32_t requestId) {
    const HandlerScope scope(*this);
    if (clients_.full()) {
        log_.note("Telnet client" + fromAddress(requestId) +
                  " refused: " + std::to_string(clients_.liveCount()) + " connected already");
        clients_.turnAway(requestId);
        return;
    }
    const bool first = clients_.empty();
    clients_.accept(requestId);
    // Named by address, so that the log says which machine made the program transmit.
    if (first) {
        log_.note("Telnet client connected" + fromAddress(requestId));
        startSession(requestId);
    } else {
        log_.note("Telnet client" + fromAddress(requestId) + " joined the session (" +
                  std::to_string(clients_.liveCount()) + " clients)");
        joinSession(requestId);
    }
}

std::string Bridge::fromAddress(ClientId requestId) const {
    const std::string address = clients_.socket().peerAddress(requestId);
    return address.empty() ? std::string() : " from " + address;
}

void Bridge::startSession(ClientId client) {
    downlink_.reset();
    uplink_.startSession();
    const bool linkKept = keeper_.takeKeptLink();

    if (!clients_.send(client, kWelcomeLine))
        return;
    if (state_.monitorMode) {
        if (linkKept)
            keeper_.closeLink();
        if (clients_.send(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n"))
            window_.setStatusText("Status: Monitoring");
        return;
    }
    if (linkKept)
        keeper_.clientReturned(client);
    else
        keeper_.clientWantsLink(client);
}

// A further client shares what is there: the link that is up, the attempt under way, or the next one.
void Bridge::joinSession(ClientId client) {
    if (!clients_.send(client, kWelcomeLine) ||
        !clients_.send(client, "Joining the session with " + state_.cluster + " DX Cluster Station (" +
                                   std::to_string(clients_.liveCount()) + " clients)\r\n"))
        return;
    if (state_.monitorMode) {
        clients_.send(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n");
        return;
    }
    keeper_.clientJoined(client);
}

// ---- the clients' text ----

void Bridge::onClientData(ClientId client) {
    const HandlerScope scope(*this);
    uplink_.onClientData(client);
    // A line typed: this client means to stay, and its link need not wait any longer.
    if (uplink_.holdsLines())
        keeper_.linkWantedNow();
}

void Bridge::readyForData() {
    if (!handling())
        return;
    const HandlerScope scope(*this);
    uplink_.readEveryClient();
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
    clients_.endBecause(client, "telnet socket error " + std::to_string(number) + ": " + description);
}

void Bridge::onClientRefused(const std::string &address) {
    refusedClients_.refused(address);
}

// Marked here, removed when the outermost handler is done (at once outside a handler).
void Bridge::markEnding(ClientId client) {
    clients_.markEnding(client);
    if (handlerDepth_ == 0) {
        const HandlerScope scope(*this);
    }
}

void Bridge::endMarkedClients() {
    while (phase_ != Phase::ShutDown) {
        const auto marked = clients_.nextEnding();
        if (!marked)
            break;
        log_.note("Telnet client left");
        const bool hadLinePartlySent = uplink_.linePartlySentBy(*marked);
        leaveClient(*marked, true);
        if (hadLinePartlySent)
            uplink_.readEveryClient(); // what the others sent while its long line went out
    }
    clients_.updateListening();
}

// The client is gone: its last unfinished line still reaches the cluster. The last client's going ends the
// session.
void Bridge::leaveClient(ClientId client, bool mayKeepLink) {
    uplink_.clientLeaving(client);
    clients_.remove(client);
    if (clients_.empty())
        endSession(mayKeepLink);
}

// The last client's going ends the session.
void Bridge::endSession(bool mayKeepLink) {
    keeper_.sessionEnded(mayKeepLink);
    downlink_.reset();
    uplink_.endSession();
}

void Bridge::shutDown() {
    if (phase_ == Phase::ShutDown)
        return;
    const bool running = handling();
    phase_ = Phase::ShutDown;
    clients_.stop();
    // Every client, also one whose end was decided in the handler that closed the window.
    if (const std::vector<ClientId> ids = clients_.everyId(); running && !ids.empty()) {
        for (const ClientId id : ids)
            leaveClient(id, false);
    } else if (keeper_.link().is(ClusterLink::State::Up)) {
        keeper_.closeLink();
    }
    clients_.socket().stopListening();
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

void Bridge::engineBack() {
    if (!handling())
        return;
    const HandlerScope scope(*this);
    log_.note("The packet engine is reachable again");
    keeper_.engineBack();
}

void Bridge::radioPortsKnown(const std::vector<int> &ports) {
    if (!handling())
        return;
    log_.note("The packet engine's radio ports: " + portNumbersText(ports));
    const RadioPortCheck::Verdict verdict = radioPorts_.heard(ports, state_.radioPort);
    if (!verdict.tell)
        return;
    log_.warn(verdict.problem);
    if (verdict.showBox)
        window_.messageBox(verdict.problem + ".");
}

} // namespace corvantle
