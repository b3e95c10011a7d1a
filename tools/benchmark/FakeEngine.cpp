// FakeEngine: the poll loop over the listening socket, the clients and the driver's commands, the answers
// to client requests, and the counts of marked lines received.
#include "FakeEngine.h"

#include "Loopback.h"
#include "MonotonicClock.h"
#include "StationFrames.h"
#include "Stations.h"

#include <algorithm>
#include <cerrno>
#include <sstream>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvantle::bench {
namespace {

// Longest wait between two looks at the traffic; frames due sooner than this go out together.
constexpr int kLongestPollMs = 100;

bool isReader(Role role) {
    return role == Role::Program || role == Role::Direct;
}

Role roleOfCall(const std::string &call) {
    if (call == kProgramCall)
        return Role::Program;
    if (call == kDirectCall)
        return Role::Direct;
    return Role::Other;
}

agw::Frame answerTo(const agw::Frame &request, std::string data) {
    return {request.port, request.kind, 0, request.callFrom, request.callTo, std::move(data)};
}

std::string zeroCount() {
    return std::string(4, '\0');
}

} // namespace

FakeEngine::~FakeEngine() {
    if (listenFd_ >= 0)
        close(listenFd_);
}

bool FakeEngine::listen(std::string &error) {
    listenFd_ = listenOnLoopback(port_, error);
    return listenFd_ >= 0 && setNonBlocking(listenFd_) && setNonBlocking(STDIN_FILENO);
}

void FakeEngine::run() {
    while (!quit_) {
        if (traffic_)
            traffic_->produce(*this);
        for (auto &client : clients_)
            client->flush();
        waitForEvents();
    }
}

void FakeEngine::waitForEvents() {
    std::vector<pollfd> fds{{STDIN_FILENO, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    for (const auto &client : clients_)
        fds.push_back({client->fd(), static_cast<short>(POLLIN | (client->pendingBytes() ? POLLOUT : 0)), 0});
    if (poll(fds.data(), fds.size(), pollTimeoutMs()) <= 0)
        return;
    if (fds[0].revents)
        readCommands();
    for (std::size_t i = 0; i < clients_.size(); ++i) {
        if (fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR))
            serveClient(*clients_[i]);
        if (fds[i + 2].revents & POLLOUT)
            clients_[i]->flush();
    }
    std::erase_if(clients_, [](const auto &client) { return !client->open(); });
    if (fds[1].revents) {
        for (int fd; (fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            // Without this a frame that follows another within the peer's delayed-acknowledgement time
            // (the first data after the link notice) waits up to 40 ms: the engine's delay, not the
            // program's.
            const int yes = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            clients_.push_back(std::make_unique<EngineClient>(fd));
        }
    }
}

int FakeEngine::pollTimeoutMs() const {
    if (!traffic_ || traffic_->done(*this))
        return -1;
    const std::int64_t dueNs = traffic_->nextDueNs(*this);
    if (dueNs == 0)
        return kLongestPollMs;
    const std::int64_t waitMs = (dueNs - monotonicNs() + kNsPerMs - 1) / kNsPerMs;
    return static_cast<int>(std::clamp<std::int64_t>(waitMs, 0, kLongestPollMs));
}

void FakeEngine::serveClient(EngineClient &client) {
    client.readAvailable();
    while (auto frame = client.nextFrame())
        handleFrame(client, *frame);
}

void FakeEngine::handleFrame(EngineClient &client, const agw::Frame &frame) {
    switch (frame.kind) {
    case 'X':
        registerClient(client, frame);
        break;
    case 'x':
        client.role = Role::None;
        break;
    case 'm':
        client.monitoring = !client.monitoring; // a toggle, as in every engine
        break;
    case 'C':
    case 'v':
        client.linkUp = true;
        deliver(client, agw::encode(linkNotice('C', frame.callFrom)));
        break;
    case 'd':
        client.linkUp = false;
        deliver(client, agw::encode(linkNotice('d', frame.callFrom)));
        break;
    case 'D':
        countUplink(client, frame.data);
        break;
    case 'Y':
    case 'y':
        // Nothing is ever outstanding: this engine has no radio to wait for.
        deliver(client, agw::encode(answerTo(frame, zeroCount())));
        break;
    case 'R':
        deliver(client, agw::encode(answerTo(frame, std::string("\xD5\x07\0\0\x7F\0\0\0", 8))));
        break;
    case 'G':
        deliver(client, agw::encode(answerTo(frame, std::string("1;Port1 benchmark loopback;") + '\0')));
        break;
    default:
        break;
    }
}

// The newest registration of a reader's callsign takes its role: a restarted program replaces the old one.
void FakeEngine::registerClient(EngineClient &client, const agw::Frame &frame) {
    const Role role = roleOfCall(frame.callFrom);
    if (EngineClient *holder = isReader(role) ? clientIn(role) : nullptr)
        holder->role = Role::None;
    client.role = role;
    deliver(client, agw::encode(answerTo(frame, std::string(1, '\1'))));
}

void FakeEngine::countUplink(EngineClient &client, const std::string &data) {
    if (!isReader(client.role))
        return;
    UplinkCount &count = uplinkOf(client.role);
    client.uplinkLines.feed(data, [&](std::string_view line) {
        const auto marker = findMarker(line);
        if (!marker || marker->phase != uplinkPhase_ || marker->seq < 0 ||
            marker->seq >= static_cast<std::int64_t>(count.seen.size()) || count.seen[marker->seq])
            return;
        count.seen[marker->seq] = 1;
        ++count.lines;
        count.lastNs = monotonicNs();
    });
}

void FakeEngine::readCommands() {
    char chunk[4096];
    const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        quit_ = true; // the driver is gone
        return;
    }
    if (got > 0)
        commandBytes_.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = commandBytes_.find('\n')) != std::string::npos;) {
        const std::string reply = answer(std::string_view(commandBytes_).substr(0, end)) + "\n";
        commandBytes_.erase(0, end + 1);
        if (write(STDOUT_FILENO, reply.data(), reply.size()) < 0)
            quit_ = true;
    }
}

std::string FakeEngine::answer(std::string_view command) {
    std::istringstream words{std::string(command)};
    std::string verb;
    int phase = 0;
    std::int64_t a = 0, b = 0, c = 0;
    words >> verb;
    if (verb == "status")
        return status();
    if (verb == "quit") {
        quit_ = true;
        return "ok";
    }
    if (!(words >> phase >> a))
        return "error: " + std::string(command);
    if (verb == "uplink") {
        uplinkPhase_ = phase;
        programUplink_ = {std::vector<char>(static_cast<std::size_t>(a)), 0, 0};
        directUplink_ = {std::vector<char>(static_cast<std::size_t>(a)), 0, 0};
        return "ok";
    }
    droppedForProgram_ = droppedForDirect_ = 0;
    if (verb == "burst" && words >> b)
        traffic_ = std::make_unique<BurstTraffic>(phase, a, static_cast<std::size_t>(b));
    else if (verb == "steady" && words >> b >> c)
        traffic_ = std::make_unique<SteadyTraffic>(phase, a, static_cast<std::size_t>(b), c);
    else if (verb == "mix" && words >> b >> c)
        traffic_ = std::make_unique<MixTraffic>(phase, a, static_cast<std::size_t>(b), c);
    else
        return "error: " + std::string(command);
    return "ok";
}

std::string FakeEngine::status() const {
    const EngineClient *program = clientIn(Role::Program);
    std::ostringstream line;
    line << "status program=" << (program ? 1 : 0) << " program_link=" << (program && program->linkUp ? 1 : 0)
         << " direct=" << (holds(Role::Direct) ? 1 : 0)
         << " traffic_done=" << (!traffic_ || traffic_->done(*this))
         << " dropped_program=" << droppedForProgram_ << " dropped_direct=" << droppedForDirect_
         << " up_program=" << programUplink_.lines << " up_program_last_ns=" << programUplink_.lastNs
         << " up_direct=" << directUplink_.lines << " up_direct_last_ns=" << directUplink_.lastNs;
    return line.str();
}

void FakeEngine::toReaders(std::string_view frameBytes) {
    toRole(Role::Program, frameBytes);
    toRole(Role::Direct, frameBytes);
}

void FakeEngine::toMonitors(std::string_view frameBytes) {
    for (const Role role : {Role::Program, Role::Direct}) {
        EngineClient *client = clientIn(role);
        if (client && client->monitoring)
            toRole(role, frameBytes);
    }
}

void FakeEngine::toRole(Role role, std::string_view frameBytes) {
    EngineClient *client = clientIn(role);
    if (client && !client->queue(frameBytes))
        ++(role == Role::Program ? droppedForProgram_ : droppedForDirect_);
}

std::size_t FakeEngine::pendingBytes(Role role) const {
    const EngineClient *client = clientIn(role);
    return client ? client->pendingBytes() : 0;
}

void FakeEngine::deliver(EngineClient &client, std::string_view frameBytes) {
    client.queue(frameBytes);
    client.flush();
}

EngineClient *FakeEngine::clientIn(Role role) const {
    for (const auto &client : clients_) {
        if (client->open() && client->role == role)
            return client.get();
    }
    return nullptr;
}

} // namespace corvantle::bench
