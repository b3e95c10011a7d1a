#include "HeadlessProgram.h"

#include "Bridge.h"
#include "ChosenEngine.h"
#include "CommandLine.h"
#include "HeadlessWindowOps.h"
#include "IniSettingsStore.h"
#include "ListenPolicy.h"
#include "QtTelnetSocket.h"
#include "SocketWiring.h"
#include "StandardErrorLog.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <variant>

namespace corvantle {

int runHeadless(int &argc, char **argv) {
    QCoreApplication app(argc, argv);
    const auto commandLine = parseCommandLine(QCoreApplication::arguments());
    if (const int *exitCode = std::get_if<int>(&commandLine))
        return *exitCode;
    const auto &startOptions = std::get<CommandLineOptions>(commandLine);

    IniSettingsStore store(startOptions.configPath.empty() ? IniSettingsStore::defaultFilePath()
                                                           : startOptions.configPath);
    StandardErrorLog sessionLog(std::cerr);
    const std::unique_ptr<PacketEngine> chosenEngine = makeChosenEngine(
        store, kProgramName, std::cerr, [&sessionLog](const std::string &line) { sessionLog.warn(line); },
        startOptions.verboseFrames
            ? EngineLogLine([&sessionLog](const std::string &line) { sessionLog.note(line); })
            : EngineLogLine());
    PacketEngine &engine = *chosenEngine;
    QtTelnetSocket socket;
    socket.setListenPolicy(readListenPolicy(store, kProgramName, std::cerr), store.location());
    HeadlessWindowOps window(sessionLog, store.location());
    Bridge bridge(window, socket, engine, store);
    bridge.setLog(sessionLog);

    wireSocketToBridge(socket, bridge);
    QObject::connect(&window.tickTimer(), &WindowTimer::tick, [&bridge] { bridge.onTick(); });
    QObject::connect(&window.autoMinimizeTimer(), &WindowTimer::tick,
                     [&bridge] { bridge.onAutoMinimizeTimer(); });

    // SIGTERM, SIGINT and SIGHUP shut the bridge down; the program ends once the engine has closed.
    bridge.whenEngineClosed([] { QCoreApplication::quit(); });
    std::optional<TerminationSignals> terminationSignals;
    bridge.start([&](bool running) {
        // Not running: the start-up has ended the event loop with the exit code already.
        if (!running)
            return;
        terminationSignals.emplace([&bridge] { bridge.shutDown(); });
    });
    const int status = QCoreApplication::exec();
    // Start-up ended the program after the registration: the engine may still be closing.
    if (bridge.engineClosing())
        QCoreApplication::exec();
    return status;
}

} // namespace corvantle
