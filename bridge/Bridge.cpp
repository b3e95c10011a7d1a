// The bridge's handlers: start-up, new settings, the tick, frames from the engine, the engine's other
// news and shutdown; and the status line. The telnet session's handlers are in BridgeSession.cpp.
//
// Everything runs on the user-interface thread, one handler at a time, so the state needs no locking.
#include "Bridge.h"

#include "Callsign.h"
#include "RadioPorts.h"
#include "Ticks.h"
#include "WindowOps.h"

#include <utility>

namespace corvantle {

Bridge::Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, const StartupSettings &startup)
    : window_(window), engine_(engine), startup_(startup), clients_(socket, log_),
      keeper_(engine, *this, log_, window.whereToConfigure()) {
    engine_.setListener(this);
}

// ---- start-up ----

void Bridge::start(std::function<void(bool running)> done) {
    const HandlerScope scope(*this);
    startDone_ = std::move(done);
    state_ = startup_.bridge;
    ownCall_ = callsign::normal(state_.myCallsign);
    clusterCall_ = callsign::normal(state_.cluster);
    keeper_.useSettings(state_);
    uplink_.useSettings(state_);
    clients_.setLocalPort(startup_.localPort);
    clients_.setMaxClients(state_.maxClients);
    window_.setAutoMinimize(state_.autoMinimize != 0, state_.autoMinimizeDelayMs);

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
        window_.remindToConfigure();

    std::string error;
    if (!clients_.startListening(error)) {
        // Also said where a terminal or a service manager's journal keeps it: the program ends after the box.
        const std::string reason =
            "Can't listen on local TCP port " + std::to_string(clients_.localPort()) + ": " + error;
        log_.warn(reason);
        window_.messageBox(reason);
        closeEngine();
        window_.endProgram(2);
        done(false);
        return;
    }

    window_.startTicking();
    phase_ = Phase::Running;
    log_.note("Listening for a telnet client on " + clients_.listenAddress() + " port " +
              std::to_string(clients_.localPort()));
    done(true);
}

void Bridge::applySettings(const BridgeState &settings) {
    const HandlerScope scope(*this);
    BridgeState next = settings;
    next.programName = state_.programName;
    next.myCallsign = state_.myCallsign;
    if (next.autoMinimize != state_.autoMinimize || next.autoMinimizeDelayMs != state_.autoMinimizeDelayMs)
        window_.setAutoMinimize(next.autoMinimize != 0, next.autoMinimizeDelayMs);
    state_ = next;
    clusterCall_ = callsign::normal(state_.cluster);
    keeper_.useSettings(state_);
    uplink_.useSettings(state_);
    clients_.setMaxClients(state_.maxClients);
    // Monitor Mode opens no link: the clients hear the link's end from its notice, and then monitor.
    if (state_.monitorMode && keeper_.link().is(ClusterLink::State::Up))
        keeper_.sendDisconnectRequest();
}

Bridge::HandlerScope::HandlerScope(Bridge &bridge) : bridge_(bridge) {
    ++bridge_.handlerDepth_;
}

Bridge::HandlerScope::~HandlerScope() {
    if (bridge_.handlerDepth_ == 1) {
        bridge_.endMarkedClients();
        bridge_.showStatus();
    }
    --bridge_.handlerDepth_;
}

// ---- what the window shows ----

// The one place the status line is decided: the link on the air, attempts to get it back, or a session
// that monitors.
const char *Bridge::statusText() const {
    if (keeper_.link().onAir())
        return "Status: Connected";
    if (keeper_.relinking())
        return "Status: Reconnecting";
    if (state_.monitorMode && !clients_.empty())
        return "Status: Monitoring";
    return "Status: Disconnected";
}

// At the end of every handler, also each frame's: told to the window only when it changed.
void Bridge::showStatus() {
    const char *text = statusText();
    if (statusShown_ == text)
        return;
    statusShown_ = text;
    window_.setStatusText(statusShown_);
}

// ---- the tick ----

void Bridge::onTick() {
    if (!handling())
        return;
    const HandlerScope scope(*this);

    uplink_.tick(uplinkLink());
    toClients(downlink_.tick());
    keeper_.tick();

    traffic_.tick();
    window_.setCounterText(traffic_.counterText());
    refusedClients_.tick();

    // Listening again after a session can fail (the port taken meanwhile); keep trying, once a tick.
    clients_.updateListening();
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
            toClients(downlink_.relay(frame.text)))
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
            toClients(downlink_.relay(frame.text));
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
    clients_.stopListening();
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
