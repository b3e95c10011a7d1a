// The settings in force: what start-up read, or Preferences last applied.
#pragma once

#include <cstdint>
#include <string>

namespace corvantle {

// The settings application name; it also names the program to the packet engine. The slash and the
// trailing blank belong to the name.
inline constexpr const char *kProgramName = "ZR8QOD Logger/AGWPE Corvantle ";

struct BridgeState {
    std::string cluster;    // the DX cluster station's callsign
    std::string myCallsign; // as registered at start-up; a new one applies at the next start
    int16_t radioPort = 0;  // the engine's radio port
    std::string programName;
    int16_t autoMinimize = 0; // 1 on, 0 off, as stored
    int32_t autoMinimizeDelayMs = 10000;
    bool connectViaDigipeaters = false;
    std::string digipeaters; // comma-separated
    bool monitorMode = false;
    bool compatibilityMode = false; // end the client's lines with CR alone
    // Ask for the link again, after a growing pause, when it drops while a client is connected.
    bool relink = false;
    // Close the clients' connections once they have heard that the link ended, as a telnet cluster does.
    bool closeClientsWhenLinkEnds = false;
    // How long the link stays up after the last client left, waiting for one to come back; 0 drops it at
    // once.
    int32_t keepLinkSeconds = 0;
    int32_t maxClients = 1; // telnet clients sharing the link; with 1 a second client is refused
    // Let a client's empty lines (telnet keepalives) reach the cluster only once every few minutes.
    bool quietKeepalives = false;
};

} // namespace corvantle
