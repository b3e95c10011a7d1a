#include "LinkKeeper.h"

#include "Callsign.h"
#include "Uplink.h"
#include "WindowOps.h"

#include <utility>

namespace corvantle {
namespace {

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

LinkKeeper::LinkKeeper(PacketEngine &engine, WindowOps &window, ClientHub &clients, Uplink &uplink,
                       Downlink &downlink, const BridgeState &settings, SessionLog &log)
    : engine_(engine), window_(window), clients_(clients), uplink_(uplink), downlink_(downlink),
      settings_(settings), log_(log) {}

bool LinkKeeper::owns(const EngineFrame &frame, const std::string &ownCall) const {
    return !link_.is(ClusterLink::State::Down) && link_.owns(frame, ownCall);
}

// ---- asking for the link ----

void LinkKeeper::requestLink() {
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
    // Nothing goes on the air under a placeholder callsign or to a placeholder station.
    if (const std::string problem = unconfiguredProblem(); !problem.empty()) {
        log_.warn("no connect request sent: " + problem);
        linkDidNotCome(problem);
        return;
    }
    if (!engine_.reachable()) {
        waitForEngine();
        return;
    }
    schedule_.stopDelayingConnect();
    const std::string &cluster = settings_.cluster;
    std::vector<std::string> digipeaters = routeInSettings();
    std::string route;
    for (const std::string &digipeater : digipeaters)
        route += (route.empty() ? " via " : ",") + digipeater;
    log_.note("Connect request to " + cluster + route + " on radio port " +
              std::to_string(settings_.radioPort));
    if (const std::string odd = callsign::routeAirProblem(settings_.myCallsign, cluster, digipeaters);
        !odd.empty())
        log_.warn(odd + ": the engine can make no frame for it, and the link will not come up");
    const std::string problem = engine_.connect(cluster, digipeaters, settings_.radioPort);
    if (problem.empty()) {
        link_.asked(cluster, settings_.radioPort, std::move(digipeaters));
        return;
    }
    log_.warn("connect request to " + cluster + " not sent: " + problem);
    linkDidNotCome(problem);
}

void LinkKeeper::waitForPreviousLink() {
    if (schedule_.waitForPreviousLink())
        log_.note("Waiting for the previous link to " + link_.station() + " to end before connecting");
}

// The previous link's end never came: the clients waiting for a new one are told, and the old one is
// forgotten, so that the next attempt goes out.
void LinkKeeper::previousLinkWaitWhenDue() {
    if (!schedule_.previousLinkOverdue() || !link_.is(ClusterLink::State::Closing))
        return;
    const std::string station = link_.station();
    log_.warn("the previous link to " + station + " did not end within " +
              std::to_string(kPreviousLinkCloseWaitSeconds) + " s; no connect request sent");
    linkDidNotCome("the previous link to " + station + " has not ended");
}

std::vector<std::string> LinkKeeper::routeInSettings() const {
    if (!settings_.connectViaDigipeaters || settings_.digipeaters.empty())
        return {};
    return callsign::routeCalls(settings_.digipeaters);
}

bool LinkKeeper::attemptMatchesSettings() const {
    return link_.station() == callsign::normal(settings_.cluster) &&
           link_.radioPort() == settings_.radioPort && link_.digipeaters() == routeInSettings();
}

// ---- its notices ----

void LinkKeeper::clusterConnectedToUs(const EngineFrame &frame) {
    link_.asked(frame.from, frame.radioPort, {});
    linkCameUp(frame);
}

void LinkKeeper::linkCameUp(const EngineFrame &frame) {
    if (link_.is(ClusterLink::State::Closing)) {
        // An attempt given up by the clients that left came up after all: nobody wants it.
        log_.note("Link up: " + frame.from + " on radio port " + std::to_string(frame.radioPort) +
                  ", not wanted any more");
        sendDisconnectRequest();
        return;
    }
    // A link is only wanted while its clients are there; otherwise it would stay up with nobody reading.
    log_.note("Link up: " + frame.from + " on radio port " + std::to_string(frame.radioPort));
    link_.cameUp(noticeText(frame.text));
    if (clients_.empty() || !clients_.sendToAll(link_.notice())) {
        closeLink();
        return;
    }
    schedule_.linkCameUp();
    setLinkState(ClusterLink::State::Up);
    uplink_.sendHeldLines();
    uplink_.readEveryClient(); // what the clients sent while the link came up
}

void LinkKeeper::linkWentDown(const EngineFrame &frame) {
    log_.note("Link down: " + frame.from + " on radio port " + std::to_string(frame.radioPort) + " (" +
              noticeLine(frame.text) + ")");
    if (link_.is(ClusterLink::State::Closing)) {
        previousLinkWentDown();
        return;
    }
    downlink_.endLine();
    setLinkState(ClusterLink::State::Down);
    schedule_.stopKeeping();
    if (clients_.empty())
        return;
    if (settings_.monitorMode)
        window_.setStatusText("Status: Monitoring");
    if (!clients_.sendToAll(noticeText(frame.text)))
        return;
    if (!engine_.reachable() && !settings_.monitorMode) {
        engineLostLink();
        return;
    }
    uplink_.dropHeldLines();
    afterLinkEnded();
}

// The engine went away (restarted, or its machine is gone): the cluster did not end the link, so LinkEnd does
// not apply. The clients stay, their lines are held, and the link is asked for again once the engine is back.
void LinkKeeper::engineLostLink() {
    stopRelinking();
    waitForEngine();
}

void LinkKeeper::waitForEngine() {
    setLinkState(ClusterLink::State::Down);
    if (!schedule_.waitForEngine())
        return;
    log_.note("The packet engine is not reachable: the link to " + settings_.cluster +
              " is asked for when it is back");
    clients_.sendToAll(engineAwayLine());
}

void LinkKeeper::engineBack() {
    if (!schedule_.stopWaitingForEngine())
        return;
    if (clients_.empty() || settings_.monitorMode) {
        uplink_.dropHeldLines();
        return;
    }
    log_.note("The packet engine is back: asking for the link to " + settings_.cluster + " again");
    requestLink();
}

// The end of a link no client of now has known: its notice is not theirs. Clients that arrived meanwhile
// get their link now.
void LinkKeeper::previousLinkWentDown() {
    setLinkState(ClusterLink::State::Down);
    schedule_.stopKeeping();
    if (schedule_.previousLinkEnded() && !clients_.empty() && !settings_.monitorMode)
        requestLink();
}

// A link that ended, or an attempt the cluster refused, while clients are there: they stay, are closed, or
// the link is asked for again after a pause.
void LinkKeeper::afterLinkEnded() {
    if (settings_.relink && !settings_.monitorMode && !clients_.empty())
        scheduleRelink();
    else
        stopRelinking();
    if (settings_.closeClientsWhenLinkEnds && !settings_.monitorMode && !schedule_.relinking())
        closeEveryClient();
}

// An attempt that could not even be made: without this the clients would wait at "*Please Wait*" for ever.
void LinkKeeper::linkDidNotCome(const std::string &why) {
    setLinkState(ClusterLink::State::Down);
    if (!clients_.sendToAll("*** Can't connect to " + settings_.cluster + ": " + why + "\r\n") ||
        !clients_.sendToAll("*** DISCONNECTED From Station " + settings_.cluster + "\r\n"))
        return;
    uplink_.dropHeldLines();
    // An engine that is away now may be back by the next attempt.
    afterLinkEnded();
}

// Once the clients have read that the link ended: a telnet cluster closes the connection then, and logging
// programs show that (some reconnect). The bridge removes them when its handler is done.
void LinkKeeper::closeEveryClient() {
    for (const ClientId id : clients_.ids()) {
        log_.note("Closing the telnet client: the link has ended");
        clients_.markEnding(id);
    }
}

// ---- taking it down ----

void LinkKeeper::closeLink() {
    sendDisconnectRequest();
    setLinkState(ClusterLink::State::Closing);
}

// To the station and radio port the link was made with.
void LinkKeeper::sendDisconnectRequest() {
    log_.note("Disconnect request to " + link_.station() + " on radio port " +
              std::to_string(link_.radioPort()));
    engine_.disconnect(link_.station(), link_.radioPort());
}

void LinkKeeper::disconnectStranger(const EngineFrame &frame) {
    log_.note("Disconnect request to " + frame.from + " on radio port " + std::to_string(frame.radioPort));
    engine_.disconnect(frame.from, frame.radioPort);
}

void LinkKeeper::setLinkState(ClusterLink::State state) {
    switch (state) {
    case ClusterLink::State::Up:
        link_.cameUp(link_.notice());
        break;
    case ClusterLink::State::Closing:
        link_.closing();
        return; // still on the air until its down notice
    case ClusterLink::State::Down:
        link_.wentDown();
        break;
    case ClusterLink::State::Connecting:
        return;
    }
    linkUp_ = state == ClusterLink::State::Up;
    window_.setStatusText(linkUp_ ? "Status: Connected" : "Status: Disconnected");
}

// ---- the clients coming and going ----

bool LinkKeeper::takeKeptLink() {
    const bool kept = schedule_.keeping() && link_.is(ClusterLink::State::Up);
    schedule_.stopKeeping();
    return kept;
}

void LinkKeeper::clientReturned(ClientId client) {
    log_.note("Link to " + link_.station() + " kept for the returning client");
    clients_.send(client, link_.notice());
}

void LinkKeeper::clientWantsLink(ClientId client) {
    if (refusedUnconfigured(client) || !clients_.send(client, connectingLine()))
        return;
    if (schedule_.waitingForEngine()) {
        clients_.send(client, engineAwayLine());
        return;
    }
    if (schedule_.connectDelayed())
        return; // another client's link is about to be asked for
    if (!link_.is(ClusterLink::State::Down)) {
        requestLink();
        return;
    }
    // A connection that only looks in is gone before this runs out, and nothing went on the air for it.
    schedule_.delayConnect();
}

void LinkKeeper::linkWantedNow() {
    if (schedule_.connectDelayed())
        requestLink();
}

// A client is told at once why no link will come, and where to change that; it may still stay connected.
bool LinkKeeper::refusedUnconfigured(ClientId client) {
    const std::string problem = unconfiguredProblem();
    if (problem.empty())
        return false;
    log_.warn("no connect request for the telnet client: " + problem);
    clients_.send(client, "*** Not connecting: " + problem + "; set " + window_.whereToConfigure() + "\r\n");
    return true;
}

// Empty, or still the placeholder the settings start with. The engine accepts MYCALL as an address, so a
// link under it would go on the air with no station identified.
std::string LinkKeeper::unconfiguredProblem() const {
    const auto unset = [](const std::string &call, const char *placeholder) {
        const std::string normal = callsign::normal(call);
        return normal.empty() || normal == placeholder;
    };
    const bool noCallsign = unset(settings_.myCallsign, "MYCALL");
    const bool noCluster = unset(settings_.cluster, "CLUSTER");
    if (noCallsign && noCluster)
        return "your callsign and the DX cluster station are not set";
    if (noCallsign)
        return "your callsign is not set";
    if (noCluster)
        return "the DX cluster station is not set";
    return {};
}

void LinkKeeper::clientJoined(ClientId client) {
    switch (link_.state()) {
    case ClusterLink::State::Up:
        clients_.send(client, link_.notice());
        return;
    case ClusterLink::State::Connecting:
        return; // the link's notice reaches every client
    case ClusterLink::State::Closing:
        if (schedule_.waitingForPreviousLink())
            return; // the connect goes out once the previous link has ended
        [[fallthrough]];
    case ClusterLink::State::Down:
        if (schedule_.relinking())
            clients_.send(client, reconnectingLine(schedule_.secondsUntilRelink()));
        else
            clientWantsLink(client);
        return;
    }
}

// An attempt still under way is withdrawn; if it comes up all the same (an engine that cannot withdraw a
// connect), it is taken down then.
void LinkKeeper::sessionEnded(bool mayKeepLink) {
    schedule_.stopDelayingConnect();
    schedule_.stopWaitingForEngine();
    if (link_.is(ClusterLink::State::Connecting)) {
        // Nobody is left to want it: the engine stops trying, rather than calling the cluster for minutes.
        log_.note("Connect request to " + link_.station() + " withdrawn: no client is left");
        closeLink();
    } else if (link_.is(ClusterLink::State::Up)) {
        if (mayKeepLink && settings_.keepLinkSeconds > 0 && !settings_.monitorMode) {
            schedule_.keepLink(settings_.keepLinkSeconds);
            log_.note("Keeping the link to " + link_.station() + " for " +
                      std::to_string(settings_.keepLinkSeconds) + " s");
        } else {
            closeLink();
        }
    }
    schedule_.stopWaitingForPreviousLink();
    stopRelinking();
}

// ---- over time ----

void LinkKeeper::tick() {
    if (schedule_.connectDue() && !clients_.empty() && !settings_.monitorMode)
        requestLink();
    relinkWhenDue();
    keepLinkWhileDue();
    previousLinkWaitWhenDue();
    if (link_.is(ClusterLink::State::Up))
        schedule_.linkUpTick();
}

// One line per attempt to the clients, and the status line, so the user sees that the link is looked after.
void LinkKeeper::scheduleRelink() {
    const int seconds = schedule_.scheduleRelink();
    log_.note("Reconnecting to " + settings_.cluster + " in " + std::to_string(seconds) + " s");
    window_.setStatusText("Status: Reconnecting");
    clients_.sendToAll(reconnectingLine(seconds));
}

void LinkKeeper::relinkWhenDue() {
    if (!schedule_.relinkDue())
        return;
    // Switched off meanwhile (Preferences), or the clients are now monitoring: no more attempts.
    if (clients_.empty() || !settings_.relink || settings_.monitorMode) {
        stopRelinking();
        return;
    }
    requestLink();
}

void LinkKeeper::stopRelinking() {
    if (schedule_.stopRelinking() && !link_.is(ClusterLink::State::Up))
        window_.setStatusText(settings_.monitorMode ? "Status: Monitoring" : "Status: Disconnected");
}

// A link kept for a returning client ends, with one disconnect request, when nobody came back in time.
void LinkKeeper::keepLinkWhileDue() {
    if (!schedule_.keepOver())
        return;
    if (clients_.empty() && link_.is(ClusterLink::State::Up)) {
        log_.note("No client came back within " + std::to_string(settings_.keepLinkSeconds) + " s");
        closeLink();
    }
}

std::string LinkKeeper::connectingLine() const {
    return "Connecting to " + settings_.cluster + " DX Cluster Station...*Please Wait*\r\n";
}

std::string LinkKeeper::engineAwayLine() const {
    return "*** The packet engine is not reachable yet: connecting to " + settings_.cluster +
           " once it is back\r\n";
}

std::string LinkKeeper::reconnectingLine(int seconds) const {
    return "Reconnecting to " + settings_.cluster + " in " + std::to_string(seconds) + " s...\r\n";
}

} // namespace corvantle
