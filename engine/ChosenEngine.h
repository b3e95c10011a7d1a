// The packet engine the settings choose: the AGW engine (a software engine over the AGW TCP API, the
// default) or the KISS engine (a TNC's KISS port, on TCP or a serial line, with the program's own AX.25
// link). Both are the bridge's PacketEngine; the program creates one of them here and nothing else knows
// which.
#pragma once

#include "PacketEngine.h"

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace corvantle {

class SettingsStore;

using EngineLogLine = std::function<void(const std::string &line)>;

// Reads Engine\Kind and the engine's other keys from `store` (unusable values: a line on `warnings` and the
// default). `warnings` and `frames` are where the engine says what went wrong and, when set, logs every
// frame. The store must outlive the engine: the AGW engine reads its address from it as it registers.
std::unique_ptr<PacketEngine> makeChosenEngine(const SettingsStore &store, const std::string &appName,
                                               std::ostream &settingsWarnings, EngineLogLine warnings,
                                               EngineLogLine frames);

} // namespace corvantle
