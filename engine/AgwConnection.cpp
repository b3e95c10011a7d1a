// AgwConnection: connect, register, read frames, write frames, notice a dead engine, reconnect.
#include "AgwConnection.h"

#include <QSignalBlocker>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string_view>
#include <utility>

namespace corvantle {
namespace {

// One frame as a line of the frame log: kind, radio port, stations, length, and the first bytes of the
// data with control bytes escaped.
std::string frameLine(const char *direction, const agw::Frame &frame) {
    constexpr std::size_t kShownBytes = 40;
    std::string shown;
    for (const char c : std::string_view(frame.data).substr(0, kShownBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r')
            shown += "\\r";
        else if (c == '\n')
            shown += "\\n";
        else if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    if (frame.data.size() > kShownBytes)
        shown += "...";
    return std::string(direction) + " " + (frame.kind ? std::string(1, frame.kind) : "\\0") + " port " +
           std::to_string(frame.port) + " " + frame.callFrom + ">" + frame.callTo + " " +
           std::to_string(frame.data.size()) + " bytes \"" + shown + "\"";
}

} // namespace

AgwConnection::AgwConnection(AgwConnectionTiming timing, AgwConnectionLimits limits, Handlers handlers)
    : timing_(timing), limits_(limits), handlers_(std::move(handlers)) {
    // Qt keeps at most this much of the engine's stream itself; the rest waits in the kernel.
    socket_.setReadBufferSize(static_cast<qint64>(limits_.readChunkBytes) * 4);
    for (QTimer *timer : {&attemptTimer_, &retryTimer_, &quietTimer_, &probeTimer_})
        timer->setSingleShot(true);

    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] { onConnected(); });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { onReadyRead(); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_,
                     [this] { onTrouble("closed by the engine"); });
    QObject::connect(&socket_, &QAbstractSocket::errorOccurred, &socket_,
                     [this] { onTrouble(socket_.errorString().toStdString()); });
    QObject::connect(&attemptTimer_, &QTimer::timeout, &socket_, [this] {
        onAttemptFailed(state_ == State::Connecting
                            ? "no connection within " + std::to_string(timing_.connectWait.count()) + " ms"
                            : "no answer to the registration within " +
                                  std::to_string(timing_.answerWait.count()) + " ms");
    });
    QObject::connect(&retryTimer_, &QTimer::timeout, &socket_, [this] { startConnecting(); });
    QObject::connect(&quietTimer_, &QTimer::timeout, &socket_, [this] { onQuiet(); });
    QObject::connect(&probeTimer_, &QTimer::timeout, &socket_, [this] {
        loseConnection("no answer within " + std::to_string(timing_.probeAnswerWait.count()) +
                       " ms to a version request");
    });
    QObject::connect(&socket_, &QTcpSocket::bytesWritten, &socket_, [this] {
        if (handlers_.bytesWritten)
            handlers_.bytesWritten();
    });
}

AgwConnection::~AgwConnection() {
    handlers_ = {};
    abortSocket();
}

void AgwConnection::setLog(LogLine warnings, LogLine frames) {
    warnings_ = std::move(warnings);
    frameLog_ = std::move(frames);
}

void AgwConnection::note(const std::string &line) const {
    if (warnings_)
        warnings_(line);
    else
        std::cerr << "corvantle: " << line << std::endl;
}

void AgwConnection::open(const std::string &host, std::uint16_t port, const std::string &callsign) {
    host_ = host;
    port_ = port;
    callsign_ = callsign;
    reconnects_ = false;
    startConnecting();
}

void AgwConnection::close() {
    reconnects_ = false;
    state_ = State::Closed;
    abortSocket();
}

// Name lookup and connect run in the background; attemptTimer_ bounds both.
void AgwConnection::startConnecting() {
    abortSocket();
    state_ = State::Connecting;
    socket_.connectToHost(QString::fromStdString(host_), port_);
    attemptTimer_.start(timing_.connectWait);
}

void AgwConnection::onConnected() {
    if (state_ != State::Connecting)
        return;
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (callsign_.empty()) {
        onRegistrationAnswer(true);
        return;
    }
    state_ = State::Registering;
    attemptTimer_.start(timing_.answerWait);
    agw::Frame registration;
    registration.kind = 'X';
    registration.callFrom = callsign_;
    send(registration);
}

void AgwConnection::onRegistrationAnswer(bool accepted) {
    if (!accepted) {
        onAttemptFailed("the engine refused to register " + callsign_);
        return;
    }
    attemptTimer_.stop();
    state_ = State::Up;
    const bool again = reconnects_; // the owner may turn reconnects on as it hears of the first registration
    if (handlers_.up)
        handlers_.up();
    if (state_ != State::Up)
        return;
    if (!callsign_.empty())
        quietTimer_.start(timing_.quietBeforeProbe);
    if (again)
        note("connection to the packet engine at " + address() + " is back");
}

void AgwConnection::onTrouble(const std::string &why) {
    if (attempting())
        onAttemptFailed(why);
    else if (state_ == State::Up)
        loseConnection(why);
}

void AgwConnection::onAttemptFailed(const std::string &why) {
    const State was = state_;
    state_ = reconnects_ ? State::Waiting : State::Closed;
    abortSocket();
    if (!reconnects_) {
        if (handlers_.failed)
            handlers_.failed(why);
        return;
    }
    if (was == State::Registering)
        note("reconnecting to the packet engine: " + why + "; trying again later");
    retryTimer_.start(timing_.retryInterval);
}

// The engine went away: the owner must hear so, or it believes the engine's links up.
void AgwConnection::loseConnection(const std::string &why) {
    if (state_ != State::Up)
        return;
    // What the engine sent before it went is still handled.
    if (socket_.bytesAvailable() > 0 && why.rfind("closed", 0) == 0)
        onReadyRead();
    if (state_ != State::Up)
        return;
    state_ = State::Waiting;
    abortSocket();
    note("connection to the packet engine at " + address() + " lost (" + why + "); reconnecting");
    if (handlers_.lost)
        handlers_.lost(why);
    if (reconnects_ && state_ == State::Waiting)
        retryTimer_.start(timing_.retryInterval);
}

void AgwConnection::abortSocket() {
    ++generation_;
    for (QTimer *timer : {&attemptTimer_, &retryTimer_, &quietTimer_, &probeTimer_})
        timer->stop();
    const QSignalBlocker quiet(socket_);
    socket_.abort();
    reader_.reset();
}

void AgwConnection::onReadyRead() {
    if (state_ != State::Registering && state_ != State::Up)
        return;
    if (!callsign_.empty())
        quietTimer_.start(timing_.quietBeforeProbe);
    probeTimer_.stop();
    const std::uint64_t generation = generation_;
    const QByteArray chunk = socket_.read(static_cast<qint64>(limits_.readChunkBytes));
    reader_.append(std::string_view(chunk.constData(), static_cast<std::size_t>(chunk.size())));
    while (std::optional<agw::Frame> frame = reader_.next()) {
        if (frameLog_)
            frameLog_(frameLine("AGW<", *frame));
        if (frame->kind == 'X' || frame->kind == 'x') { // Dire Wolf answers 'X'; one soundmodem answers 'x'
            if (state_ == State::Registering)
                onRegistrationAnswer(!frame->data.empty() && frame->data[0] == 1);
        } else if (frame->kind != 'R' && handlers_.frame) { // 'R' answers the probe: its bytes were the sign
            handlers_.frame(std::move(*frame));
        }
        // Handling a frame can end the connection (a write past its bound); its bytes are gone then.
        if (generation != generation_)
            return;
    }
    if (reader_.broken()) {
        onTrouble(kBrokenStream);
        return;
    }
    // A big backlog is handled a chunk per turn of the event loop, so the window stays live meanwhile.
    if (socket_.bytesAvailable() > 0)
        QTimer::singleShot(0, &socket_, [this, generation] {
            if (generation == generation_)
                onReadyRead();
        });
}

// Nothing heard for a while: a remote engine whose machine lost power is never reported by TCP.
void AgwConnection::onQuiet() {
    if (state_ != State::Up)
        return;
    agw::Frame version;
    version.kind = 'R';
    version.callFrom = callsign_;
    send(version);
    probeTimer_.start(timing_.probeAnswerWait);
}

bool AgwConnection::send(const agw::Frame &frame) {
    if (state_ != State::Registering && state_ != State::Up)
        return false;
    if (frameLog_)
        frameLog_(frameLine("AGW>", frame));
    // One write per frame: LinBPQ drops the connection on a frame split across writes.
    const std::string bytes = agw::encode(frame);
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (unsentBytes() <= limits_.unsentToEngineBytes)
        return true;
    onTrouble("the engine took no data for too long: " + std::to_string(socket_.bytesToWrite()) +
              " bytes unsent");
    return false;
}

} // namespace corvantle
