// FakeEngine: the event loop's handlers for the listening socket, the clients and the traffic, the answers
// to client requests and commands, and the counts of marked lines received.
#include "FakeEngine.h"

#include "MonotonicClock.h"
#include "StationFrames.h"
#include "Stations.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <algorithm>
#include <sstream>

namespace corvantle::bench {
namespace {

// Longest wait between two looks at the traffic.
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

} // namespace

FakeEngine::FakeEngine() {
    pumpTimer_.setSingleShot(true);
    pumpTimer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pumpTimer_, &QTimer::timeout, &server_, [this] { pump(); });
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { acceptClients(); });
}

FakeEngine::~FakeEngine() = default;

bool FakeEngine::listen(std::string &error) {
    if (server_.listen(QHostAddress::LocalHost, 0))
        return true;
    error = "cannot listen on 127.0.0.1: " + server_.errorString().toStdString();
    return false;
}

void FakeEngine::acceptClients() {
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        auto client = std::make_unique<EngineClient>(socket);
        EngineClient *raw = client.get();
        QObject::connect(socket, &QTcpSocket::readyRead, &server_, [this, raw] {
            serveClient(*raw);
            pump();
        });
        // A reader's socket took more: burst traffic may go on.
        QObject::connect(socket, &QTcpSocket::bytesWritten, &server_, [this] { pump(); });
        QObject::connect(socket, &QTcpSocket::disconnected, &server_, [this] { pump(); });
        clients_.push_back(std::move(client));
    }
}

void FakeEngine::pump() {
    // A socket may report progress from inside a write below; the loop that is running sees to it.
    if (pumping_)
        return;
    pumping_ = true;
    std::erase_if(clients_, [](const auto &client) { return !client->open(); });
    if (traffic_)
        traffic_->produce(*this);
    for (auto &client : clients_)
        client->flush();
    pumping_ = false;
    // Restarting the timer costs more than a frame: a look due anyway soon enough is left as it is.
    const int waitMs = nextPumpMs();
    if (waitMs < 0)
        pumpTimer_.stop();
    else if (!pumpTimer_.isActive() || pumpTimer_.remainingTime() > waitMs)
        pumpTimer_.start(waitMs);
}

// -1 when only a client can start more work (a command, a socket taking more of its queue).
int FakeEngine::nextPumpMs() const {
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

// The replies come from the tests' fake engine; what is the benchmark's own is who the client is, whether it
// monitors, and the marked lines it sends.
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
        break;
    case 'd':
        client.linkUp = false;
        break;
    case 'D':
        countUplink(client, frame.data);
        break;
    default:
        break;
    }
    for (const agw::Frame &reply : client.answers.answer(frame))
        deliver(client, agw::encode(reply));
}

// The newest registration of a reader's callsign takes its role: a restarted program replaces the old one.
void FakeEngine::registerClient(EngineClient &client, const agw::Frame &frame) {
    const Role role = roleOfCall(frame.callFrom);
    if (EngineClient *holder = isReader(role) ? clientIn(role) : nullptr)
        holder->role = Role::None;
    client.role = role;
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
        QCoreApplication::quit();
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
    pump();
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
