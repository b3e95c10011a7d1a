// The packet engine the settings choose: the AGW engine (a software engine over the AGW TCP API, the
// default) or the KISS engine (a TNC's KISS port, on TCP or a serial line, with the program's own AX.25
// link). Both are the bridge's PacketEngine; the program creates one of them here and nothing else knows
// which.
#pragma once

#include "PacketEngine.h"
#include "SettingsTable.h"

#include <functional>
#include <memory>
#include <string>

namespace corvantle {

using EngineLogLine = std::function<void(const std::string &line)>;

// The engine `engine` names, at its address or TNC. `radioPort` is the bridge's; for KISS it is the TNC's
// port (one beyond KISS's ports is the first). `warnings` and `frames` are where the engine says what went
// wrong and, when set, logs every frame.
std::unique_ptr<PacketEngine> makeChosenEngine(const settings::EngineChoice &engine, int radioPort,
                                               EngineLogLine warnings, EngineLogLine frames);

} // namespace corvantle
