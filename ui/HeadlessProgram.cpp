#include "HeadlessProgram.h"

#include "Bridge.h"
#include "ChosenEngine.h"
#include "CommandLine.h"
#include "HeadlessWindowOps.h"
#include "IniSettingsStore.h"
#include "JournalLines.h"
#include "ListenPolicy.h"
#include "ListenWait.h"
#include "QtTelnetSocket.h"
#include "SettingsTable.h"
#include "SocketWiring.h"
#include "StandardErrorLog.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

#include <cstdlib>
#include <iostream>
#include <variant>

namespace corvantle {
namespace {

int storedLocalPort(const SettingsStore &store) {
    return static_cast<int>(settings::StartupReader(store, kProgramName).wholeNumber(settings::kLocalPort));
}

} // namespace

int runHeadless(int &argc, char **argv) {
    QCoreApplication app(argc, argv);
    // Under systemd every line of standard error is the journal's: the lines that end the program before it
    // starts are errors, the settings readers' lines warnings.
    const bool journal = standardErrorIsJournal();
    PrefixedLines errors(std::cerr, priorityPrefix(Priority::Error, journal));
    PrefixedLines warnings(std::cerr, priorityPrefix(Priority::Warning, journal));
    const auto commandLine = parseCommandLine(QCoreApplication::arguments(), std::cout, errors);
    if (const int *exitCode = std::get_if<int>(&commandLine))
        return *exitCode;
    const auto &startOptions = std::get<CommandLineOptions>(commandLine);

    IniSettingsStore store(startOptions.configPath.empty() ? IniSettingsStore::defaultFilePath()
                                                           : startOptions.configPath);
    store.setEditedByHandOnly();
    if (startOptions.configIsNew)
        warnings << "corvantle: the settings file " << store.location()
                 << " does not exist: every setting is at its default\n";
    StandardErrorLog sessionLog(std::cerr, journal);
    const std::unique_ptr<PacketEngine> chosenEngine = makeChosenEngine(
        store, kProgramName, warnings, [&sessionLog](const std::string &line) { sessionLog.warn(line); },
        startOptions.verboseFrames
            ? EngineLogLine([&sessionLog](const std::string &line) { sessionLog.note(line); })
            : EngineLogLine());
    PacketEngine &engine = *chosenEngine;
    QtTelnetSocket socket;
    const ListenPolicy policy = readListenPolicy(store, kProgramName, warnings);
    socket.setListenPolicy(policy, store.location());
    HeadlessWindowOps window(sessionLog, store.location());
    const StartupSettings startup = readStartupSettings(store);
    Bridge bridge(window, socket, engine, startup);
    bridge.setLog(sessionLog);

    wireSocketToBridge(socket, bridge);
    QObject::connect(&window.tickTimer(), &WindowTimer::tick, [&bridge] { bridge.onTick(); });

    // The bridge starts (registers, then listens) once its port can be had; until then nothing has started.
    // Not running: the start-up has ended the event loop with the exit code already.
    ListenWait portWait(policy, storedLocalPort(store), sessionLog, [&bridge] { bridge.start([](bool) {}); });
    // SIGTERM, SIGINT and SIGHUP shut the bridge down at any moment, also before the engine has answered the
    // registration; the program ends once the engine has closed, with status 0. Without a window no start-up
    // message waits in an event loop of its own, so the shutdown never runs inside another handler.
    bridge.whenEngineClosed([] { QCoreApplication::quit(); });
    const TerminationSignals terminationSignals([&] {
        if (portWait.waiting()) {
            portWait.cancel();
            QCoreApplication::quit();
            return;
        }
        bridge.shutDown();
    });
    if (!terminationSignals.error().empty())
        sessionLog.warn(terminationSignals.error());
    portWait.start();
    const int status = QCoreApplication::exec();
    // Start-up ended the program after the registration: the engine may still be closing.
    if (bridge.engineClosing())
        QCoreApplication::exec();
    return status;
}

} // namespace corvantle
