#include "LinkKeeper.h"

#include "Callsign.h"

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

LinkKeeper::LinkKeeper(PacketEngine &engine, LinkListener &listener, SessionLog &log,
                       std::string whereToConfigure)
    : engine_(engine), listener_(listener), log_(log), whereToConfigure_(std::move(whereToConfigure)) {}

bool LinkKeeper::owns(const EngineFrame &frame, const std::string &ownCall) const {
    return !link_.is(ClusterLink::State::Down) && link_.owns(frame, ownCall);
}

// Asked for, or about to be: once the engine is back, once the last link ended, or a moment after a new
// client arrived.
bool LinkKeeper::linesWaitForLink() const {
    return link_.is(ClusterLink::State::Connecting) || schedule_.connectDelayed() ||
           schedule_.waitingForEngine() ||
           (link_.is(ClusterLink::State::Closing) && schedule_.waitingForPreviousLink());
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
    const std::string notice = noticeText(frame.text);
    if (!listener_.hasClients() || !listener_.tellClients(notice)) {
        closeLink();
        return;
    }
    link_.cameUp(notice);
    schedule_.linkCameUp();
    listener_.linkCameUp();
}

void LinkKeeper::linkWentDown(const EngineFrame &frame) {
    log_.note("Link down: " + frame.from + " on radio port " + std::to_string(frame.radioPort) + " (" +
              noticeLine(frame.text) + ")");
    if (link_.is(ClusterLink::State::Closing)) {
        previousLinkWentDown();
        return;
    }
    listener_.linkWentDown();
    link_.wentDown();
    schedule_.stopKeeping();
    if (!listener_.hasClients() || !listener_.tellClients(noticeText(frame.text)))
        return;
    if (!engine_.reachable() && !settings_.monitorMode) {
        // The engine went away (restarted, or its machine is gone): the cluster did not end the link, so
        // LinkEnd does not apply. The clients stay, their lines are held, and the link is asked for again
        // once the engine is back.
        schedule_.stopRelinking();
        waitForEngine();
        return;
    }
    listener_.linkFailed();
    afterLinkEnded();
}

void LinkKeeper::waitForEngine() {
    link_.wentDown();
    if (!schedule_.waitForEngine())
        return;
    log_.note("The packet engine is not reachable: the link to " + settings_.cluster +
              " is asked for when it is back");
    listener_.tellClients(engineAwayLine());
}

void LinkKeeper::engineBack() {
    if (!schedule_.stopWaitingForEngine())
        return;
    if (!listener_.hasClients() || settings_.monitorMode) {
        listener_.linkFailed();
        return;
    }
    log_.note("The packet engine is back: asking for the link to " + settings_.cluster + " again");
    requestLink();
}

// The end of a link no client of now has known: its notice is not theirs. Clients that arrived meanwhile
// get their link now.
void LinkKeeper::previousLinkWentDown() {
    link_.wentDown();
    schedule_.stopKeeping();
    if (schedule_.previousLinkEnded() && listener_.hasClients() && !settings_.monitorMode)
        requestLink();
}

// A link that ended, or an attempt the cluster refused, while clients are there: they stay, are closed, or
// the link is asked for again after a pause.
void LinkKeeper::afterLinkEnded() {
    if (settings_.relink && !settings_.monitorMode && listener_.hasClients())
        scheduleRelink();
    else
        schedule_.stopRelinking();
    // Once the clients have read that the link ended: a telnet cluster closes the connection then, and
    // logging programs show that (some reconnect).
    if (settings_.closeClientsWhenLinkEnds && !settings_.monitorMode && !schedule_.relinking())
        listener_.closeClients();
}

// An attempt that could not even be made: without this the clients would wait at "*Please Wait*" for ever.
void LinkKeeper::linkDidNotCome(const std::string &why) {
    link_.wentDown();
    if (!listener_.tellClients("*** Can't connect to " + settings_.cluster + ": " + why + "\r\n") ||
        !listener_.tellClients("*** DISCONNECTED From Station " + settings_.cluster + "\r\n"))
        return;
    listener_.linkFailed();
    // An engine that is away now may be back by the next attempt.
    afterLinkEnded();
}

// ---- taking it down ----

void LinkKeeper::closeLink() {
    sendDisconnectRequest();
    link_.closing(); // still on the air until its down notice
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

// ---- the clients coming and going ----

bool LinkKeeper::takeKeptLink() {
    const bool kept = schedule_.keeping() && link_.is(ClusterLink::State::Up);
    schedule_.stopKeeping();
    return kept;
}

void LinkKeeper::clientReturned(ClientId client) {
    log_.note("Link to " + link_.station() + " kept for the returning client");
    listener_.tellClient(client, link_.notice());
}

void LinkKeeper::clientWantsLink(ClientId client) {
    if (refusedUnconfigured(client) || !listener_.tellClient(client, connectingLine()))
        return;
    if (schedule_.waitingForEngine()) {
        listener_.tellClient(client, engineAwayLine());
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
    listener_.tellClient(client, "*** Not connecting: " + problem + "; set " + whereToConfigure_ + "\r\n");
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
        listener_.tellClient(client, link_.notice());
        return;
    case ClusterLink::State::Connecting:
        return; // the link's notice reaches every client
    case ClusterLink::State::Closing:
        if (schedule_.waitingForPreviousLink())
            return; // the connect goes out once the previous link has ended
        [[fallthrough]];
    case ClusterLink::State::Down:
        if (schedule_.relinking())
            listener_.tellClient(client, reconnectingLine(schedule_.secondsUntilRelink()));
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
    schedule_.stopRelinking();
}

// ---- over time ----

void LinkKeeper::tick() {
    if (schedule_.connectDue() && listener_.hasClients() && !settings_.monitorMode)
        requestLink();
    relinkWhenDue();
    keepLinkWhileDue();
    previousLinkWaitWhenDue();
    if (link_.is(ClusterLink::State::Up))
        schedule_.linkUpTick();
}

// One line per attempt to the clients (and the window's status line), so the user sees that the link is
// looked after.
void LinkKeeper::scheduleRelink() {
    const int seconds = schedule_.scheduleRelink();
    log_.note("Reconnecting to " + settings_.cluster + " in " + std::to_string(seconds) + " s");
    listener_.tellClients(reconnectingLine(seconds));
}

void LinkKeeper::relinkWhenDue() {
    if (!schedule_.relinkDue())
        return;
    // Switched off meanwhile (Preferences), or the clients are now monitoring: no more attempts.
    if (!listener_.hasClients() || !settings_.relink || settings_.monitorMode) {
        schedule_.stopRelinking();
        return;
    }
    requestLink();
}

// A link kept for a returning client ends, with one disconnect request, when nobody came back in time.
void LinkKeeper::keepLinkWhileDue() {
    if (!schedule_.keepOver())
        return;
    if (!listener_.hasClients() && link_.is(ClusterLink::State::Up)) {
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
