// The settings as start-up reads them, through the settings table: one typed value for the bridge, the
// local port for the telnet socket, and what the user must hear of stored values that could not be used.
#pragma once

#include "BridgeState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvantle {

class SettingsStore;

struct StartupSettings {
    BridgeState bridge;
    int32_t localPort = 4444;
    // A damaged file, and each value that fell back to its key's default: lines for the log's warnings, and
    // the message boxes that say the same, in order.
    std::vector<std::string> warnings;
    std::vector<std::string> boxes;
};

StartupSettings readStartupSettings(const SettingsStore &store);

} // namespace corvantle
