// Every setting of the program as one value, and the one place that reads it from the store.
//
// Start-up reads the store once, here: the bridge's settings, the local port, where the telnet port listens
// and whom it serves, and the packet engine with its address or TNC. The parts get the values, never the
// store; Preferences edits a copy of the same value and checks what is typed with the same converters, so a
// stored text means the same thing everywhere. A text that cannot be used leaves its key at the default and
// is named once among the reading's problems, which the program tells the user once.
#pragma once

#include "BridgeState.h"
#include "ListenPolicy.h"
#include "SettingsTable.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvantle {

class SettingsStore;

struct ProgramSettings {
    BridgeState bridge;
    int32_t localPort = 4444; // the telnet port
    ListenPolicy listen = ListenPolicy::byDefault();
    settings::EngineChoice engine;
};

// What one reading of the store gave.
struct SettingsReading {
    ProgramSettings settings;
    // Each stored text that could not be used, one line each, in the order of the keys: setting "RadioPort"
    // holds "abc", which is not a number; using the default "0".
    std::vector<std::string> problems;
    // The store's notice that part of the file could not be read, and that it holds keys the program never
    // reads (see SettingsStore); empty when there is nothing to say.
    std::string unreadableNotice;
    std::string unreadKeysNotice;
    // Where the settings live, for the messages that name the file.
    std::string location;
};

SettingsReading readProgramSettings(const SettingsStore &store);

} // namespace corvantle
