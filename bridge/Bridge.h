// The bridge: the main window's logic and owner of the bridge state.
//
// Its handlers are named after the window's events. They reach the window, the telnet socket, the packet
// engine and the settings only through the interfaces passed in, so they run in tests without a display.
#pragma once

#include "BridgeState.h"

#include <cstdint>
#include <string>

namespace corvantle {

class WindowOps;
class TelnetSocket;
class PacketEngine;
class SettingsStore;

// The caption of every message box.
inline constexpr const char *kApplicationTitle = "ZR8QOD Logger - AGWPE Telnet Corvantle";

class Bridge final {
public:
    Bridge(WindowOps &window, TelnetSocket &socket, PacketEngine &engine, SettingsStore &store);

    BridgeState &state() { return state_; }
    const BridgeState &state() const { return state_; }

    // Start-up, before the window is shown. Returns false when it ended the program (no engine, or the
    // local port cannot be listened on); the window must then not be shown.
    bool Form_Load();

    void Timer1_Timer(); // frame pump, every 500 ms
    void Timer2_Timer(); // auto-minimize
    void Winsock1_ConnectionRequest(int32_t requestID);
    void Winsock1_DataArrival(int32_t bytesTotal);
    void Winsock1_Close();
    void Winsock1_Error(int32_t number, const std::string &description);

    // Shutdown when the main window closes: runs once per program, later calls do nothing.
    void Form_Unload();

private:
    // The frame pump's decisions for one received frame, in a cluster session and in Monitor Mode.
    void clusterFrame(const std::string &headerField, const std::string &buffer, int32_t kind, int32_t length,
                      int32_t radioPort);
    void monitorFrame(const std::string &headerField, const std::string &buffer, int32_t kind, int32_t length,
                      int32_t radioPort);

    // Sends text to the client with telnet line ends; when that fails, ends the session and returns false.
    bool sendToClient(const std::string &text);
    void sendDisconnectRequest(const std::string &station);
    // The station named in a frame's header field, or the cluster when the field is empty.
    std::string linkStation(const std::string &headerField) const;
    void listenAgain();

    WindowOps &window_;
    TelnetSocket &socket_;
    PacketEngine &engine_;
    SettingsStore &store_;
    BridgeState state_;
    // A start-up message box runs the event loop, so ticks can come before start-up has finished. Once
    // registered, the pump reads the engine all the same: an engine whose client stops reading stalls for
    // all its clients. Listening, and listening again, belong to the running phase only.
    enum class Phase { Loading, Registered, Running, ShutDown };
    Phase phase_ = Phase::Loading;
    std::string lastListenError_;
};

} // namespace corvantle
