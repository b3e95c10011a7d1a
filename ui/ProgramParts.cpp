#include "ProgramParts.h"

#include "ChosenEngine.h"
#include "SessionLog.h"
#include "SocketWiring.h"
#include "WindowTimer.h"

namespace corvantle {
namespace {

std::unique_ptr<PacketEngine> chosenEngine(const ProgramSettings &settings, SessionLog &log, bool logFrames) {
    return makeChosenEngine(
        settings.engine, settings.bridge.radioPort, [&log](const std::string &line) { log.warn(line); },
        logFrames ? EngineLogLine([&log](const std::string &line) { log.note(line); }) : EngineLogLine());
}

} // namespace

ProgramParts::ProgramParts(const SettingsStore &store, PartsHost host)
    : reading_(readProgramSettings(store)), startup_(startupFrom(reading_)),
      engine_(chosenEngine(reading_.settings, host.log, host.logFrames)),
      bridge_(host.window, socket_, *engine_, startup_) {
    socket_.setListenPolicy(reading_.settings.listen, reading_.location);
    bridge_.setLog(host.log);
    wireSocketToBridge(socket_, bridge_);
    // With the socket as the context, the timers let go of the bridge when the parts go.
    QObject::connect(&host.tick, &WindowTimer::tick, &socket_, [this] { bridge_.onTick(); });
    QObject::connect(&host.autoMinimize, &WindowTimer::tick, &socket_,
                     [this] { bridge_.onAutoMinimizeTimer(); });
}

} // namespace corvantle
