// ClusterStation: runs the test DX cluster on an AGW packet engine until a signal or the engine's end.
#include "ClusterStation.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace corvantle::cluster {
namespace {

constexpr std::chrono::seconds kConnectWait{5};
constexpr std::chrono::seconds kRegistrationWait{5};
// Long enough for a DISC and its UA at 1200 baud, short enough not to hold up a test's teardown.
constexpr std::chrono::seconds kDisconnectGrace{5};
// How long a goodbye may take to be acknowledged before the link is ended anyway; much shorter when the
// station is being stopped, because whoever stops it will not wait long.
constexpr std::chrono::seconds kByeDrainLimit{10};
constexpr std::chrono::seconds kStopDrainLimit{1};
constexpr std::chrono::milliseconds kDrainQueryInterval{250};
// Clusters pack their output into frames of about this size; it stays well under the 256 bytes an
// engine may accept in one frame.
constexpr std::size_t kFrameDataBytes = 236;
constexpr std::uint8_t kPidNoLayer3 = 0xF0;

// Signals arrive through a pipe so that poll() sees them along with the engine's socket.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool installSignalHandlers() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool drainSignals() {
    char bytes[16];
    bool any = false;
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0)
        any = true;
    return any;
}

void logLine(const std::string &text) {
    std::fputs(text.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const std::string &text) {
    std::fprintf(stderr, "corvantle-cluster-station: %s\n", text.c_str());
}

std::tm utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return utc;
}

int millisecondsUntil(std::chrono::steady_clock::time_point now, std::chrono::steady_clock::time_point then) {
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(then - now).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, 1000));
}

} // namespace

ClusterStation::ClusterStation(StationOptions options)
    : options_(std::move(options)), service_(options_.call),
      spotInterval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(options_.spotIntervalSeconds))),
      drainLimit_(kByeDrainLimit) {}

int ClusterStation::run() {
    if (!installSignalHandlers()) {
        complain("cannot set up signal handling");
        return 1;
    }
    std::string error;
    if (!engine_.open(options_.host, options_.port, kConnectWait, error)) {
        complain("cannot reach the engine at " + options_.host + ":" + std::to_string(options_.port) + ": " +
                 error);
        return 1;
    }
    if (!registerCall())
        return interrupted_ ? 0 : 1;
    logLine("READY " + options_.call);
    for (const agw::Frame &frame : early_)
        handle(frame);
    early_.clear();
    if (!serve()) {
        complain(failure_);
        return 1;
    }
    // Unregistering is a courtesy; the engine forgets the registration when we close anyway.
    sendFrame('x', {});
    engine_.close();
    return 0;
}

bool ClusterStation::registerCall() {
    sendFrame('X', {});
    const auto deadline = Clock::now() + kRegistrationWait;
    while (failure_.empty() && Clock::now() < deadline) {
        pollfd watched[2] = {{engine_.fd(), POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        ::poll(watched, 2, millisecondsUntil(Clock::now(), deadline));
        if (drainSignals()) {
            interrupted_ = true;
            return false;
        }
        std::vector<agw::Frame> frames;
        if (!engine_.readAvailable(frames, failure_) && failure_.empty())
            failure_ = "the engine connection failed";
        for (agw::Frame &frame : frames) {
            // Some engines answer a registration with 'x'; the data byte says how it went either way.
            if (frame.kind != 'X' && frame.kind != 'x') {
                early_.push_back(std::move(frame));
                continue;
            }
            logFrame("AGW<", frame);
            if (!frame.data.empty() && frame.data[0] == 1) {
                return true;
            } else {
                complain("the engine refused to register " + options_.call);
                return false;
            }
        }
    }
    complain(failure_.empty() ? "no answer from the engine to the registration of " + options_.call
                              : failure_);
    return false;
}

// The main loop; false when the engine went away.
bool ClusterStation::serve() {
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (stopDeadline_ && (!service_.hasLinks() || now >= *stopDeadline_))
            return true;
        tickSpots(now);
        tickDrains(now);
        pollfd watched[2] = {{engine_.fd(), POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        ::poll(watched, 2, pollTimeoutMs(now));
        if (drainSignals()) {
            if (stopDeadline_)
                return true; // a second signal: do not wait for the engine any longer
            startStopping();
        }
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) && !receiveFromEngine())
            return false;
    }
}

void ClusterStation::startStopping() {
    const Clock::time_point now = Clock::now();
    stopDeadline_ = now + kStopDrainLimit + kDisconnectGrace;
    nextSpot_.reset();
    drainLimit_ = kStopDrainLimit;
    for (auto &[remote, drain] : draining_)
        drain.deadline = std::min(drain.deadline, now + drainLimit_);
    perform(service_.disconnectAll());
}

bool ClusterStation::receiveFromEngine() {
    std::vector<agw::Frame> frames;
    const bool open = engine_.readAvailable(frames, failure_);
    for (const agw::Frame &frame : frames)
        handle(frame);
    return open && failure_.empty();
}

void ClusterStation::handle(const agw::Frame &frame) {
    logFrame("AGW<", frame);
    // In every notice about a link the engine names the remote station in CallFrom.
    switch (frame.kind) {
    case 'C':
        if (!service_.hasOpenLinks() && !stopDeadline_)
            nextSpot_ = Clock::now() + spotInterval_;
        perform(service_.linkUp(frame.callFrom));
        if (stopDeadline_)
            perform(service_.disconnectAll());
        break;
    case 'd':
        draining_.erase(frame.callFrom);
        perform(service_.linkDown(frame.callFrom));
        break;
    case 'Y':
        outstandingFrames(frame);
        break;
    case 'D':
        perform(service_.received(frame.callFrom, frame.data));
        break;
    default:
        break; // registration echoes and the like: nothing to do
    }
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
    for (std::size_t offset = 0; offset < text.size(); offset += kFrameDataBytes)
        sendFrame('D', remote, text.substr(offset, kFrameDataBytes));
}

void ClusterStation::sendFrame(char kind, const std::string &remote, std::string data) {
    if (!failure_.empty())
        return;
    agw::Frame frame;
    frame.port = options_.radioPort;
    frame.kind = kind;
    frame.pid = kind == 'D' ? kPidNoLayer3 : 0;
    frame.callFrom = options_.call;
    frame.callTo = remote;
    frame.data = std::move(data);
    logFrame("AGW>", frame);
    engine_.send(frame, failure_);
}

void ClusterStation::tickSpots(Clock::time_point now) {
    if (!nextSpot_ || now < *nextSpot_)
        return;
    perform(service_.spotDue(utcNow()));
    if (!service_.hasOpenLinks()) {
        nextSpot_.reset();
        return;
    }
    // Keep the cadence, but never try to catch up a backlog in a burst.
    *nextSpot_ += spotInterval_;
    if (*nextSpot_ <= now)
        nextSpot_ = now + spotInterval_;
}

void ClusterStation::drainThenDisconnect(const std::string &remote) {
    const Clock::time_point now = Clock::now();
    draining_[remote] = Drain{now + drainLimit_, now};
}

void ClusterStation::tickDrains(Clock::time_point now) {
    for (auto it = draining_.begin(); it != draining_.end();) {
        if (now >= it->second.deadline) {
            sendFrame('d', it->first);
            it = draining_.erase(it);
            continue;
        }
        if (now >= it->second.nextQuery) {
            sendFrame('Y', it->first);
            it->second.nextQuery = now + kDrainQueryInterval;
        }
        ++it;
    }
}

// The engine's count of frames on a link not yet acknowledged by the other side. The answer names our call
// and the remote one; engines differ in their order, so either field may hold the remote call.
void ClusterStation::outstandingFrames(const agw::Frame &frame) {
    if (frame.data.size() < 4)
        return;
    std::uint32_t count = 0;
    for (int i = 3; i >= 0; --i)
        count = (count << 8) | static_cast<unsigned char>(frame.data[static_cast<std::size_t>(i)]);
    const std::string &remote = frame.callTo == options_.call ? frame.callFrom : frame.callTo;
    const auto found = draining_.find(remote);
    if (found == draining_.end() || count != 0)
        return;
    draining_.erase(found);
    sendFrame('d', remote);
}

int ClusterStation::pollTimeoutMs(Clock::time_point now) const {
    int timeout = 1000;
    if (nextSpot_)
        timeout = std::min(timeout, millisecondsUntil(now, *nextSpot_));
    for (const auto &[remote, drain] : draining_)
        timeout = std::min(timeout, millisecondsUntil(now, std::min(drain.deadline, drain.nextQuery)));
    if (stopDeadline_)
        timeout = std::min(timeout, millisecondsUntil(now, *stopDeadline_));
    return timeout;
}

void ClusterStation::logFrame(const char *direction, const agw::Frame &frame) const {
    if (!options_.verbose)
        return;
    std::fprintf(stderr, "%s '%c' port %u pid 0x%02X %s>%s %zu %s\n", direction, frame.kind, frame.port,
                 frame.pid, frame.callFrom.c_str(), frame.callTo.c_str(), frame.data.size(),
                 escapeForLog(frame.data).c_str());
}

} // namespace corvantle::cluster
