// The settings as start-up reads them, through the settings table: one typed value for the bridge, and
// the local port for the telnet socket.
#pragma once

#include "BridgeState.h"

#include <cstdint>

namespace corvantle {

namespace settings {
class StartupReader;
}

struct StartupSettings {
    BridgeState bridge;
    int32_t localPort = 4444;
};

// Every value the reader could not use falls back to its key's default; the reader keeps the problems.
StartupSettings readStartupSettings(const settings::StartupReader &read);

} // namespace corvantle
