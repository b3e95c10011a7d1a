// The program put together: the one place that builds its parts, for the window run (main.cpp), the
// headless run (HeadlessProgram.cpp) and the test rigs that run the program's own wiring over real engines.
//
// It reads the settings store once; from that value it makes the packet engine the settings choose, the
// telnet socket with their listen policy and local port, and the bridge over both. It wires the socket's
// events and the window's two timers to the bridge, and the bridge's and the engine's lines to the session
// log. What differs between the runs (a window or standard error, signals, the event loop, when the bridge
// starts) stays with the caller.
#pragma once

#include "Bridge.h"
#include "PacketEngine.h"
#include "ProgramSettings.h"
#include "QtTelnetSocket.h"
#include "StartupSettings.h"

#include <memory>

namespace corvantle {

class SessionLog;
class SettingsStore;
class WindowOps;
class WindowTimer;

// What the parts live in: the window (or its stand-in without one), its tick and auto-minimize timers, and
// the session log.
struct PartsHost {
    WindowOps &window;
    WindowTimer &tick;
    WindowTimer &autoMinimize;
    SessionLog &log;
    bool logFrames = false; // the engine logs every frame sent and received (--verbose=frames)
};

class ProgramParts final {
  public:
    // The store is read here and not kept.
    ProgramParts(const SettingsStore &store, PartsHost host);
    ProgramParts(const ProgramParts &) = delete;
    ProgramParts &operator=(const ProgramParts &) = delete;

    // The settings as start-up read them, for Preferences and for the wait for the listen address.
    const SettingsReading &settings() const { return reading_; }
    Bridge &bridge() { return bridge_; }
    QtTelnetSocket &socket() { return socket_; }
    PacketEngine &engine() { return *engine_; }

  private:
    SettingsReading reading_;
    StartupSettings startup_; // what the bridge's start puts in force and says
    QtTelnetSocket socket_;
    std::unique_ptr<PacketEngine> engine_;
    Bridge bridge_;
};

} // namespace corvantle
