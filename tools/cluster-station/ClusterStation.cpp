// ClusterStation: runs the test DX cluster on a packet engine until a signal or the engine's end.
#include "ClusterStation.h"

#include "Callsign.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <utility>

namespace corvantle::cluster {
namespace {

const std::string kProgramName = "corvantle-cluster-station";
// The waits for the engine at start-up: a slow machine starting several engines at once needs a while.
constexpr std::chrono::milliseconds kConnectWait{5000};
constexpr std::chrono::milliseconds kRegistrationWait{5000};
// Long enough for a DISC and its UA at 1200 baud, short enough not to hold up a test's teardown.
constexpr std::chrono::seconds kDisconnectGrace{5};
// How long a goodbye may take to be delivered before the link is ended anyway; much shorter when the
// station is being stopped, because whoever stops it will not wait long.
constexpr std::chrono::seconds kByeDrainLimit{10};
constexpr std::chrono::seconds kStopDrainLimit{1};
constexpr std::chrono::milliseconds kCheckInterval{250};
// Clusters pack their output into frames of about this size. The engine library would cut text into
// 256-byte frames; giving it one piece at a time keeps the frames a node sends.
constexpr std::size_t kFrameDataBytes = 236;

// Frames a station sent on the channel, its data on a link included.
bool sentByAStation(FrameKind kind) {
    return kind == FrameKind::LinkData || kind == FrameKind::HeardInformation ||
           kind == FrameKind::HeardSupervisory || kind == FrameKind::HeardUnnumbered;
}

const char *kindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::LinkUp:
        return "link-up";
    case FrameKind::LinkDown:
        return "link-down";
    case FrameKind::LinkData:
        return "data";
    case FrameKind::HeardInformation:
        return "heard-I";
    case FrameKind::HeardUnnumbered:
        return "heard-U";
    case FrameKind::HeardSupervisory:
        return "heard-S";
    case FrameKind::Transmitted:
        return "transmitted";
    case FrameKind::Other:
        break;
    }
    return "other";
}

void logLine(const std::string &text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const std::string &text) {
    std::fprintf(stderr, "%s: %s\n", kProgramName.c_str(), text.c_str());
}

std::tm utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return utc;
}

std::chrono::milliseconds toMilliseconds(double seconds) {
    return std::chrono::milliseconds(std::clamp<long long>(std::llround(seconds * 1000.0), 1, INT_MAX));
}

// The station's engine address comes from its command line.
settings::EngineAddress engineAddress(const StationOptions &options) {
    return {options.host, static_cast<std::uint16_t>(options.port)};
}

AgwTiming stationTiming() {
    AgwTiming timing;
    timing.connectWait = kConnectWait;
    timing.answerWait = kRegistrationWait;
    return timing;
}

// A node hands its whole output to its AX.25 layer at once, and the engine sends it as the link's window
// allows. Handed a few frames at a time, as the library paces the bridge's data, Dire Wolf 1.6 was seen to
// leave the later frames of a long answer unsent for ten seconds and more between bursts.
AgwLimits stationLimits() {
    AgwLimits limits;
    limits.framesInFlight = 1000;
    return limits;
}

} // namespace

ClusterStation::ClusterStation(StationOptions options)
    : options_(std::move(options)), ownCall_(callsign::normal(options_.call)), service_(options_.call),
      engine_(engineAddress(options_), stationTiming(), stationLimits()), drainLimit_(kByeDrainLimit) {
    engine_.setListener(this);
    spotTimer_.setInterval(toMilliseconds(options_.spotIntervalSeconds));
    checkTimer_.setInterval(kCheckInterval);
    QObject::connect(&spotTimer_, &QTimer::timeout, &spotTimer_, [this] { sendSpot(); });
    QObject::connect(&checkTimer_, &QTimer::timeout, &checkTimer_, [this] { check(); });
}

int ClusterStation::run() {
    const TerminationSignals termination([this] { onSignal(); });
    if (!termination.error().empty()) {
        complain(termination.error());
        return 1;
    }
    engine_.registerCallsign(options_.call, kProgramName);
    const int status = QCoreApplication::exec();
    if (interrupted_)
        return 0; // the engine was closed already, while it registered
    // Links still up when the station gave up waiting are ended here; then the callsign is unregistered.
    engine_.close();
    QCoreApplication::exec();
    return status;
}

void ClusterStation::registrationAnswered(bool registered) {
    if (!registered) {
        complain("cannot register " + options_.call + " with the engine at " + options_.host + ":" +
                 std::to_string(options_.port));
        finished_ = true;
        QCoreApplication::exit(1);
        return;
    }
    logLine("READY " + options_.call);
    ready_ = true;
    for (const EngineFrame &frame : std::exchange(early_, {}))
        handle(frame);
    checkTimer_.start();
}

void ClusterStation::engineClosed() {
    QCoreApplication::quit();
}

void ClusterStation::frameArrived(const EngineFrame &frame) {
    // The registration answer and a caller's frames can arrive together; the log shows READY first.
    if (!ready_)
        early_.push_back(frame);
    else
        handle(frame);
}

void ClusterStation::handle(const EngineFrame &frame) {
    logFrame("ENG<", frame);
    watchDelivery(frame);
    // Link notices and connected data name the caller in `from`.
    switch (frame.kind) {
    case FrameKind::LinkUp:
        linkUp(frame.from);
        break;
    case FrameKind::LinkDown:
        draining_.erase(frame.from);
        delivery_.forget(callsign::normal(frame.from));
        perform(service_.linkDown(frame.from));
        break;
    case FrameKind::LinkData:
        perform(service_.received(frame.from, frame.text));
        break;
    default:
        break; // the rest of the channel's traffic, which the engine library reports as well
    }
    check();
}

void ClusterStation::linkUp(const std::string &remote) {
    // The spot cadence starts with the first caller.
    if (!service_.hasOpenLinks() && !stopDeadline_)
        spotTimer_.start();
    // A second connect notice for the same station means the old link is gone, its goodbye with it.
    draining_.erase(remote);
    delivery_.forget(callsign::normal(remote));
    perform(service_.linkUp(remote));
    if (stopDeadline_)
        perform(service_.disconnectAll());
}

// The frames that tell whether a caller got the station's last data: the engine's own transmissions to
// the caller, and any frame the caller sends back.
void ClusterStation::watchDelivery(const EngineFrame &frame) {
    const std::string from = callsign::normal(frame.from);
    const std::string to = callsign::normal(frame.to);
    if (frame.kind == FrameKind::Transmitted && from == ownCall_)
        delivery_.transmitted(to, frame.text);
    else if (to == ownCall_ && from != ownCall_ && sentByAStation(frame.kind))
        delivery_.heardFrom(from);
}

void ClusterStation::perform(const std::vector<Action> &actions) {
    for (const Action &action : actions) {
        switch (action.kind) {
        case Action::Kind::Log:
            logLine(action.text);
            break;
        case Action::Kind::Send:
            sendText(action.remote, action.text);
            break;
        case Action::Kind::Disconnect:
            drainThenDisconnect(action.remote);
            break;
        }
    }
}

void ClusterStation::sendText(const std::string &remote, const std::string &text) {
    for (std::size_t offset = 0; offset < text.size(); offset += kFrameDataBytes) {
        const std::string piece = text.substr(offset, kFrameDataBytes);
        logFrame("ENG>", {FrameKind::LinkData, options_.radioPort, ownCall_, remote, piece});
        delivery_.handedOver(callsign::normal(remote), piece);
        engine_.sendData(remote, piece, options_.radioPort);
    }
}

void ClusterStation::sendSpot() {
    perform(service_.spotDue(utcNow()));
    if (!service_.hasOpenLinks())
        spotTimer_.stop();
}

void ClusterStation::drainThenDisconnect(const std::string &remote) {
    draining_[remote] = Clock::now() + drainLimit_;
}

void ClusterStation::disconnectSettledLinks() {
    const Clock::time_point now = Clock::now();
    std::vector<std::string> due;
    for (const auto &[remote, deadline] : draining_)
        if (delivery_.settled(callsign::normal(remote)) || now >= deadline)
            due.push_back(remote);
    for (const std::string &remote : due) {
        draining_.erase(remote);
        logFrame("ENG>", {FrameKind::LinkDown, options_.radioPort, ownCall_, remote, {}});
        engine_.disconnect(remote, options_.radioPort);
    }
}

void ClusterStation::onSignal() {
    if (finished_)
        return; // the station is already closing the engine connection
    if (!ready_) {
        // Still registering: the close abandons the registration, and its end ends the run.
        interrupted_ = true;
        engine_.close();
    } else if (stopDeadline_) {
        finish(0); // a second signal: do not wait for the engine any longer
    } else {
        startStopping();
        check();
    }
}

void ClusterStation::startStopping() {
    const Clock::time_point now = Clock::now();
    stopDeadline_ = now + kStopDrainLimit + kDisconnectGrace;
    spotTimer_.stop();
    drainLimit_ = kStopDrainLimit;
    for (auto &[remote, deadline] : draining_)
        deadline = std::min(deadline, now + drainLimit_);
    perform(service_.disconnectAll());
}

void ClusterStation::check() {
    if (finished_)
        return;
    // The engine library would reconnect on its own; a test station that lost its engine is better ended.
    if (!engine_.isUp()) {
        complain("lost the connection to the engine at " + options_.host + ":" +
                 std::to_string(options_.port));
        finish(1);
        return;
    }
    disconnectSettledLinks();
    if (stopDeadline_ && (!service_.hasLinks() || Clock::now() >= *stopDeadline_))
        finish(0);
}

void ClusterStation::finish(int status) {
    finished_ = true;
    spotTimer_.stop();
    checkTimer_.stop();
    // Queued, so that it also ends the event loop when called before the loop runs.
    QTimer::singleShot(0, QCoreApplication::instance(), [status] { QCoreApplication::exit(status); });
}

void ClusterStation::logFrame(const char *direction, const EngineFrame &frame) const {
    if (!options_.verbose)
        return;
    std::fprintf(stderr, "%s %s port %u %s>%s %zu %s\n", direction, kindName(frame.kind), frame.radioPort,
                 frame.from.c_str(), frame.to.c_str(), frame.text.size(), escapeForLog(frame.text).c_str());
}

} // namespace corvantle::cluster
