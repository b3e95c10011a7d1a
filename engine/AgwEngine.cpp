// AgwEngine: the four packet-engine calls over the AGW Packet Engine TCP API.
//
// Sent to the engine: 'X' register, 'm' monitoring on, 'C' / 'v' connect, 'D' connected data, 'd' disconnect,
// 'x' unregister. Received: 'X' answers, 'C' / 'd' link notices, 'D' connected data, monitored 'I' 'U' 'S'
// 'T' frames and whatever else the engine sends, handed to the bridge one per AGWGetData call.
#include "AgwEngine.h"

#include "AgwCalls.h"
#include "AgwTexts.h"
#include "TcpConnection.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvantle {
namespace {

using namespace agw;

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kSection = "Engine";
const std::string kDefaultHost = "127.0.0.1";
const std::string kDefaultPort = "8000";
constexpr std::size_t kMaxDigipeaters = 7;
// Dire Wolf drops the connection on more than 2122 bytes and LinBPQ on more than 400; 256 suits every engine.
constexpr std::size_t kMaxDataPerFrame = 256;
constexpr std::uint8_t kPidText = 0xF0;

void note(const std::string &line) {
    std::cerr << "corvantle: " << line << std::endl;
}

bool isPortNumber(const std::string &text) {
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), digit))
        return false;
    const int value = std::stoi(text);
    return value >= 1 && value <= 65535;
}

std::string padded(const std::string &text, std::size_t size) {
    std::string out = text.substr(0, size);
    out.resize(size, '\0');
    return out;
}

} // namespace

AgwEngine::AgwEngine(SettingLookup lookup, AgwTiming timing) : lookup_(std::move(lookup)), timing_(timing) {}

AgwEngine::~AgwEngine() {
    AGWClose();
}

int16_t AgwEngine::AGWStartPoll(const std::string &callsign, const std::string &programName) {
    closeSocket();
    ownLinks_.clear();
    ownCall_ = normalCall(callsign);
    ownCallShown_ = callsign;
    state_ = State::Closed;
    if (ownCall_.empty())
        return 0;
    readEngineAddress(programName);
    if (!openSocket(timing_.connectWait))
        return 0;
    // Monitoring is a toggle that starts off on every new connection: one 'm' per connection.
    if (!sendFrame(request('X', {}, 0)) || !awaitRegistration() || !sendFrame(request('m', {}, 0))) {
        closeSocket();
        return 0;
    }
    state_ = State::Up;
    return 1;
}

int16_t AgwEngine::AGWGetData(std::string &headerField, std::string &receiveBuffer, int32_t &kindCode,
                              int32_t &length, int32_t &radioPort) {
    maintainConnection();
    readAvailable();
    finishRejoin();
    if (deliveries_.empty())
        return 0;
    const Delivery next = std::move(deliveries_.front());
    deliveries_.pop_front();
    headerField = padded(next.from, kHeaderFieldChars);
    receiveBuffer = padded(next.text, kReceiveBufferChars);
    kindCode = static_cast<unsigned char>(next.kind);
    length = static_cast<int32_t>(std::min(next.text.size(), kReceiveBufferChars));
    radioPort = next.port;
    return 1;
}

int16_t AgwEngine::AGWPutData(const std::string &callsignField, const std::string &data, int16_t kindCode,
                              int32_t dataLength, int16_t radioPort) {
    if (radioPort < 0 || radioPort > 255) {
        note("radio port " + std::to_string(radioPort) + " is not 0..255; request not sent");
        return 0;
    }
    const auto port = static_cast<std::uint8_t>(radioPort);
    switch (kindCode) {
    case 'c':
        return connect(callsignField, false, port);
    case 'v':
        return connect(callsignField, true, port);
    case 'D':
        return sendData(firstCall(callsignField),
                        data.substr(0, static_cast<std::size_t>(std::max(dataLength, 0))), port);
    case 'd':
        return disconnect(firstCall(callsignField), port);
    default:
        note("request kind " + std::to_string(kindCode) + " is not known; not sent");
        return 0;
    }
}

void AgwEngine::AGWClose() {
    if (fd_ >= 0 && state_ != State::Lost) {
        // When a client goes, the engine drops its links without telling the other station, which then keeps
        // a stale session (a cluster refuses the next login). End them first and give them a moment.
        for (auto &[key, link] : ownLinks_) {
            if (!link.disconnectRequested)
                sendFrame(request('d', key, link.port));
            link.disconnectRequested = true;
        }
        const auto deadline = Clock::now() + timing_.closeGrace;
        while (fd_ >= 0 && !ownLinks_.empty() && Clock::now() < deadline &&
               waitFor(fd_, POLLIN, std::chrono::duration_cast<milliseconds>(deadline - Clock::now())))
            readAvailable();
        if (fd_ >= 0)
            sendFrame(request('x', {}, 0));
    }
    closeSocket();
    state_ = State::Closed;
    ownLinks_.clear();
    deliveries_.clear();
}

void AgwEngine::readEngineAddress(const std::string &programName) {
    host_ = trimmed(lookup_(programName, kSection, "Host", kDefaultHost));
    if (host_.empty())
        host_ = kDefaultHost;
    const std::string port = lookup_(programName, kSection, "Port", kDefaultPort);
    port_ = trimmed(port);
    if (!isPortNumber(port_)) {
        note("setting Port=\"" + port + "\" is not a port number 1..65535; using " + kDefaultPort);
        port_ = kDefaultPort;
    }
}

bool AgwEngine::openSocket(milliseconds wait) {
    closeSocket();
    fd_ = connectWithin(host_, port_, wait);
    return fd_ >= 0;
}

// Waits for the answer to 'X'. Dire Wolf serves three clients and never answers a fourth, so the wait is
// bounded.
bool AgwEngine::awaitRegistration() {
    awaitingAnswer_ = true;
    registrationAnswer_.reset();
    const auto deadline = Clock::now() + timing_.answerWait;
    while (fd_ >= 0 && !registrationAnswer_ && Clock::now() < deadline) {
        if (waitFor(fd_, POLLIN, std::chrono::duration_cast<milliseconds>(deadline - Clock::now())))
            readAvailable();
    }
    awaitingAnswer_ = false;
    return registrationAnswer_.value_or(false);
}

void AgwEngine::closeSocket() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    inBytes_.clear();
    awaitingAnswer_ = false;
}

// The engine went away: every link it held is gone, and the bridge must hear so or it believes them up.
void AgwEngine::loseConnection(const std::string &why) {
    closeSocket();
    if (state_ == State::Closed)
        return;
    if (state_ == State::Up)
        note("connection to the packet engine at " + host_ + ":" + port_ + " lost (" + why +
             "); reconnecting");
    while (!ownLinks_.empty())
        reportLinkDown(ownLinks_.begin()->first);
    state_ = State::Lost;
    nextAttempt_ = Clock::now() + timing_.retryInterval;
}

// Reconnects after a loss. Runs on the UI thread, so the connect is short and the registration answer is
// picked up by later polls instead of being waited for.
void AgwEngine::maintainConnection() {
    const auto now = Clock::now();
    if (state_ == State::Rejoining && now >= answerDeadline_) {
        closeSocket();
        state_ = State::Lost;
    }
    if (state_ != State::Lost || now < nextAttempt_)
        return;
    nextAttempt_ = now + timing_.retryInterval;
    if (!openSocket(timing_.retryConnectWait))
        return;
    state_ = State::Rejoining;
    awaitingAnswer_ = true;
    registrationAnswer_.reset();
    answerDeadline_ = now + timing_.answerWait;
    // A failed write has already marked the connection lost.
    if (sendFrame(request('X', {}, 0)))
        sendFrame(request('m', {}, 0));
}

void AgwEngine::finishRejoin() {
    if (state_ != State::Rejoining || !registrationAnswer_)
        return;
    if (*registrationAnswer_) {
        state_ = State::Up;
        note("connection to the packet engine at " + host_ + ":" + port_ + " is back");
        return;
    }
    note("the packet engine refused to register " + ownCall_ + "; trying again later");
    closeSocket();
    state_ = State::Lost;
}

bool AgwEngine::sendFrame(const agw::Frame &frame) {
    if (fd_ < 0)
        return false;
    // One write per frame: LinBPQ drops the connection on a frame split across writes.
    if (sendAll(fd_, agw::encode(frame)))
        return true;
    loseConnection(std::string("write failed: ") + std::strerror(errno));
    return false;
}

agw::Frame AgwEngine::request(char kind, const std::string &remote, std::uint8_t port) const {
    agw::Frame frame;
    frame.port = port;
    frame.kind = kind;
    frame.callFrom = ownCall_;
    frame.callTo = remote;
    return frame;
}

int16_t AgwEngine::connect(const std::string &callsignField, bool viaDigis, std::uint8_t port) {
    std::vector<std::string> calls = routeCalls(callsignField);
    if (calls.empty()) {
        note("connect request without a station; not sent");
        return 0;
    }
    const std::string remote = calls.front();
    calls.erase(calls.begin());
    agw::Frame frame = request('C', remote, port);
    if (viaDigis && !calls.empty()) {
        if (calls.size() > kMaxDigipeaters) {
            note("connect to " + remote + " names " + std::to_string(calls.size()) +
                 " digipeaters, at most " + std::to_string(kMaxDigipeaters) + " fit; not sent");
            deliveries_.push_back({'d', port, remote, disconnectNotice(remote)});
            return 0;
        }
        frame.kind = 'v';
        frame.data = digipeaterField(calls);
    }
    // Counted as a link from now on: the monitored frames of the link can arrive before its 'C' notice.
    OwnLink &link = ownLinks_[remote];
    link = {remote, port, false};
    if (fd_ < 0 || state_ == State::Lost) {
        reportLinkDown(remote);
        return 0;
    }
    return sendFrame(frame) ? 1 : 0;
}

int16_t AgwEngine::sendData(const std::string &remote, const std::string &data, std::uint8_t port) {
    if (data.empty())
        return 0;
    agw::Frame frame = request('D', remote, port);
    frame.pid = kPidText;
    for (std::size_t at = 0; at < data.size(); at += kMaxDataPerFrame) {
        frame.data = data.substr(at, kMaxDataPerFrame);
        if (!sendFrame(frame))
            return 0;
    }
    return 1;
}

int16_t AgwEngine::disconnect(const std::string &remote, std::uint8_t port) {
    if (const auto held = ownLinks_.find(remote); held != ownLinks_.end())
        held->second.disconnectRequested = true;
    return sendFrame(request('d', remote, port)) ? 1 : 0;
}

void AgwEngine::reportLinkDown(const std::string &key) {
    const auto held = ownLinks_.find(key);
    if (held == ownLinks_.end())
        return;
    deliveries_.push_back(
        {'d', held->second.port, held->second.shownCall, disconnectNotice(held->second.shownCall)});
    ownLinks_.erase(held);
}

// Takes everything the engine has sent so far: Dire Wolf writes to its clients with blocking sends from its
// receive thread, so a client that leaves data unread stalls the engine for everyone.
void AgwEngine::readAvailable() {
    char chunk[8192];
    while (fd_ >= 0) {
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, 0);
        if (got > 0) {
            inBytes_.append(chunk, static_cast<std::size_t>(got));
            if (!decodeBuffered())
                return loseConnection("the engine sent a frame of impossible length");
        } else if (got == 0) {
            return loseConnection("closed by the engine");
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                loseConnection(std::string("read failed: ") + std::strerror(errno));
            return;
        }
    }
}

bool AgwEngine::decodeBuffered() {
    std::size_t used = 0;
    for (;;) {
        agw::DecodeResult result = agw::decode(std::string_view(inBytes_).substr(used));
        if (result.status == agw::DecodeStatus::Invalid)
            return false;
        if (result.status == agw::DecodeStatus::NeedMore)
            break;
        used += result.consumedBytes;
        handleFrame(std::move(result.frame));
    }
    inBytes_.erase(0, used);
    return true;
}

void AgwEngine::handleFrame(agw::Frame frame) {
    if ((frame.kind == 'X' || frame.kind == 'x') && awaitingAnswer_) {
        // Dire Wolf answers 'X'; one soundmodem answers 'x'.
        awaitingAnswer_ = false;
        registrationAnswer_ = !frame.data.empty() && frame.data[0] == 1;
        return;
    }
    Delivery delivery{frame.kind, frame.port, frame.callFrom, frame.data};
    switch (frame.kind) {
    case 'C':
        trackLinkNotice(frame);
        delivery.kind = 'c';
        break;
    case 'd':
        trackLinkNotice(frame);
        break;
    case 'D': {
        const bool toMe = normalCall(frame.callTo) == ownCall_;
        delivery.text = connectedDataText(frame, toMe ? ownCallShown_ : frame.callTo);
        break;
    }
    case 'I':
        // The engine also monitors the user's own links, before it delivers the same data as 'D', and reports
        // each retransmission again: only 'D' may reach the bridge.
        if (isOwnLinkTraffic(frame))
            return;
        delivery.text = monitorText(frame.data);
        break;
    default:
        break;
    }
    deliveries_.push_back(std::move(delivery));
}

void AgwEngine::trackLinkNotice(const agw::Frame &frame) {
    const std::string remote = remoteOf(frame);
    if (frame.kind == 'd') {
        ownLinks_.erase(remote);
        return;
    }
    OwnLink &link = ownLinks_[remote];
    link.shownCall = normalCall(frame.callFrom) == ownCall_ ? frame.callTo : frame.callFrom;
    link.port = frame.port;
}

bool AgwEngine::isOwnLinkTraffic(const agw::Frame &frame) const {
    const std::string from = normalCall(frame.callFrom);
    const std::string to = normalCall(frame.callTo);
    return (from == ownCall_ && ownLinks_.contains(to)) || (to == ownCall_ && ownLinks_.contains(from));
}

// Link notices name the remote station as CallFrom; accept an engine that puts it the other way round.
std::string AgwEngine::remoteOf(const agw::Frame &frame) const {
    const std::string from = normalCall(frame.callFrom);
    return from == ownCall_ ? normalCall(frame.callTo) : from;
}

} // namespace corvantle
