// What the bridge's start-up puts in force and tells the user, taken from the one reading of the settings:
// the bridge's settings, the local port for the telnet socket, and what the user must hear of the store.
#pragma once

#include "BridgeState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvantle {

struct SettingsReading;

struct StartupSettings {
    BridgeState bridge;
    int32_t localPort = 4444;
    // A damaged file, keys the program never reads, and each value that fell back to its key's default:
    // lines for the log's warnings, and the message boxes that say the same, in order.
    std::vector<std::string> warnings;
    std::vector<std::string> boxes;
};

// Each problem of the reading once in the log and, all of them, in one box naming the file; a damaged file
// in the log and a box of its own; unread keys in the log only.
StartupSettings startupFrom(const SettingsReading &reading);

} // namespace corvantle
