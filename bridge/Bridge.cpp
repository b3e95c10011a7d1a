// The bridge's handlers: start-up, the frame pump, the telnet session, auto-minimize and shutdown.
//
// Everything runs on the user-interface thread, one handler at a time, so the state needs no locking.
#include "Bridge.h"

#include "FrameText.h"
#include "LineEnds.h"
#include "PacketEngine.h"
#include "SettingsTable.h"
#include "TelnetSocket.h"
#include "WindowOps.h"

#include <cstdint>
#include <iostream>
#include <limits>

namespace corvantle {
namespace {

constexpr int16_t kindCode(char letter) { return static_cast<unsigned char>(letter); }

constexpr const char *kWelcomeLine = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";

bool isTextFrame(int32_t kind) { return kind == kindCode('D') || kind == kindCode('I'); }

bool contains(const std::string &haystack, const std::string &needle) {
    return haystack.find(needle) != std::string::npos;
}

} // namespace

Bridge::Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, SettingsStore &store)
    : window_(window), socket_(socket), engine_(engine), store_(store) {}

bool Bridge::Form_Load() {
    state_.ProgramName = kProgramName;
    state_.Connected = false;
    state_.TransferredBytes = 0;

    using namespace settings;
    const StartupReader read(store_, state_.ProgramName, std::cerr);
    state_.MyCallsign = read.text(kMyCallsign);
    state_.Cluster = read.text(kCluster);
    state_.Port = static_cast<int16_t>(read.wholeNumber(kRadioPort));
    socket_.setLocalPort(static_cast<int32_t>(read.wholeNumber(kLocalPort)));
    state_.AutoMinimize = static_cast<int16_t>(read.wholeNumber(kAutoMinimize));
    state_.AutoMinimizeDelay = static_cast<int32_t>(read.wholeNumber(kAutoMinimizeDelay));
    state_.MonitorMode = read.boolean(kMonitorMode);
    state_.CompatibilityMode = read.boolean(kCompatibilityMode);
    state_.ConnectViaDigi = read.boolean(kConnectViaDigi);
    state_.Digis = read.text(kDigis);

    window_.setTimerInterval(TimerId::Timer2, state_.AutoMinimizeDelay);
    window_.setTimerEnabled(TimerId::Timer2, state_.AutoMinimize == 1);

    if (engine_.AGWStartPoll(state_.MyCallsign, state_.ProgramName) == 0) {
        window_.messageBox("Can't connect to AGW Packet Engine");
        window_.endProgram(1);
        return false;
    }
    phase_ = Phase::Registered;

    if (state_.Cluster == "CLUSTER" || state_.MyCallsign == "MYCALL")
        window_.messageBox("Please configure your Callsign and/or Cluster station in the Options Menu");

    std::string error;
    if (!socket_.listen(error)) {
        window_.messageBox("Can't listen on local TCP port " + std::to_string(socket_.localPort()) + ": " +
                           error);
        engine_.AGWClose();
        window_.endProgram(2);
        return false;
    }

    window_.setTimerEnabled(TimerId::Timer1, true);
    phase_ = Phase::Running;
    return true;
}

void Bridge::Timer1_Timer() {
    if (phase_ != Phase::Registered && phase_ != Phase::Running)
        return;
    std::string headerField(kHeaderFieldChars, '\0');
    std::string buffer(kReceiveBufferChars, '\0');
    int32_t kind = 0;
    int32_t length = 0;
    int32_t radioPort = 0;
    if (engine_.AGWGetData(headerField, buffer, kind, length, radioPort) != 0) {
        if (state_.MonitorMode)
            monitorFrame(headerField, buffer, kind, length, radioPort);
        else
            clusterFrame(headerField, buffer, kind, length, radioPort);
    }

    if (state_.AutoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setTimerEnabled(TimerId::Timer2, true);

    window_.setCounterText("Bytes Transferred: " + std::to_string(state_.TransferredBytes / 1024) + "K");

    // Listening again after a session can fail (the port taken meanwhile); keep trying, once a tick.
    if (phase_ == Phase::Running && socket_.state() == SocketState::Closed)
        listenAgain();
}

void Bridge::clusterFrame(const std::string &headerField, const std::string &buffer, int32_t kind,
                          int32_t length, int32_t radioPort) {
    const bool clientConnected = socket_.state() == SocketState::Connected;
    if (kind == kindCode('c')) {
        // A link is only wanted while its client is there; otherwise it would stay up with nobody reading.
        if (!clientConnected || !sendToClient(noticeText(buffer, length))) {
            sendDisconnectRequest(linkStation(headerField));
            return;
        }
        state_.Connected = true;
        window_.setStatusText("Status: Connected");
        return;
    }
    if (kind == kindCode('d')) {
        state_.Connected = false;
        window_.setStatusText("Status: Disconnected");
        if (clientConnected)
            sendToClient(noticeText(buffer, length));
        return;
    }
    if (clientConnected && contains(buffer, "To " + state_.MyCallsign) && radioPort == state_.Port &&
        isTextFrame(kind)) {
        const auto text = frameText(buffer, length);
        if (text && sendToClient(*text))
            state_.TransferredBytes += length;
    }
}

void Bridge::monitorFrame(const std::string &headerField, const std::string &buffer, int32_t kind,
                          int32_t length, int32_t radioPort) {
    // A monitor session opens no link; one that comes up anyway (a connect still pending when Monitor
    // Mode was switched on) would hold the cluster with nobody reading.
    if (kind == kindCode('c')) {
        sendDisconnectRequest(linkStation(headerField));
        return;
    }
    if (contains(buffer, "Fm " + state_.Cluster) && radioPort == state_.Port &&
        socket_.state() == SocketState::Connected && isTextFrame(kind)) {
        if (const auto text = frameText(buffer, length))
            sendToClient(*text);
    }
}

void Bridge::Timer2_Timer() {
    if (state_.AutoMinimize != 0 && window_.windowState() == kWindowNormal)
        window_.setWindowState(kWindowMinimized);
    window_.setTimerEnabled(TimerId::Timer2, false);
}

void Bridge::Winsock1_ConnectionRequest(int32_t requestID) {
    if (socket_.state() != SocketState::Closed)
        socket_.close();
    socket_.accept(requestID);

    if (!sendToClient(kWelcomeLine))
        return;
    if (state_.MonitorMode) {
        if (sendToClient("Monitoring " + state_.Cluster + " DX Cluster Station...\r\n"))
            window_.setStatusText("Status: Monitoring");
        return;
    }
    if (!sendToClient("Connecting to " + state_.Cluster + " DX Cluster Station...*Please Wait*\r\n"))
        return;

    if (!state_.Digis.empty() && state_.ConnectViaDigi)
        engine_.AGWPutData(state_.Cluster + "," + state_.Digis, "", kindCode('v'), 0, state_.Port);
    else
        engine_.AGWPutData(state_.Cluster, "", kindCode('c'), 0, state_.Port);
}

void Bridge::Winsock1_DataArrival(int32_t /*bytesTotal*/) {
    std::string line = socket_.readAll();
    if (state_.MonitorMode)
        return;
    line = withRadioLineEnd(std::move(line), state_.CompatibilityMode);
    engine_.AGWPutData(state_.Cluster, line, kindCode('D'), static_cast<int32_t>(line.size()), state_.Port);
    state_.TransferredBytes += static_cast<int64_t>(line.size());
}

void Bridge::Winsock1_Close() {
    // Closing the socket at shutdown may report the client's close; nothing is to be reopened then.
    if (phase_ == Phase::ShutDown)
        return;
    socket_.close();
    if (state_.Connected)
        sendDisconnectRequest(state_.Cluster);
    listenAgain();
}

void Bridge::Winsock1_Error(int32_t number, const std::string &description) {
    std::cerr << "corvantle: telnet socket error " << number << ": " << description << "\n";
    Winsock1_Close();
}

void Bridge::Form_Unload() {
    if (phase_ == Phase::ShutDown)
        return;
    phase_ = Phase::ShutDown;
    if (state_.Connected)
        sendDisconnectRequest(state_.Cluster);
    socket_.close();
    engine_.AGWClose();
}

bool Bridge::sendToClient(const std::string &text) {
    if (socket_.send(withTelnetLineEnds(text)))
        return true;
    // A client that cannot be written to is gone: end the session as on a socket error.
    Winsock1_Error(0, "sending to the client failed");
    return false;
}

void Bridge::sendDisconnectRequest(const std::string &station) {
    engine_.AGWPutData(station, "", kindCode('d'), 0, state_.Port);
}

std::string Bridge::linkStation(const std::string &headerField) const {
    const std::string station = headerCallsign(headerField);
    return station.empty() ? state_.Cluster : station;
}

void Bridge::listenAgain() {
    std::string error;
    if (!socket_.listen(error) && error != lastListenError_)
        std::cerr << "corvantle: cannot listen on local TCP port " << socket_.localPort() << ": " << error
                  << "; trying again\n";
    lastListenError_ = error;
}

} // namespace corvantle
