// The bridge's run-time state: the settings in force and the link and byte counters.
#pragma once

#include <cstdint>
#include <string>

namespace corvantle {

// The settings application name; it also names the program to the packet engine. The slash and the
// trailing blank belong to the name.
inline constexpr const char *kProgramName = "ZR8QOD Logger/AGWPE Corvantle ";

struct BridgeState {
    std::string Cluster;
    std::string MyCallsign;
    int16_t Port = 0;
    std::string ProgramName;
    bool Connected = false;
    int16_t AutoMinimize = 0;
    int32_t AutoMinimizeDelay = 10000;
    // Bytes relayed both ways since start-up. Wider than the window can ever show, so it never wraps.
    int64_t TransferredBytes = 0;
    bool ConnectViaDigi = false;
    std::string Digis;
    bool MonitorMode = false;
    bool CompatibilityMode = false;
};

} // namespace corvantle
