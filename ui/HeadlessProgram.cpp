#include "HeadlessProgram.h"

#include "Bridge.h"
#include "CommandLine.h"
#include "HeadlessWindowOps.h"
#include "IniSettingsStore.h"
#include "JournalLines.h"
#include "ListenWait.h"
#include "ProgramParts.h"
#include "StandardErrorLog.h"
#include "TerminationSignals.h"

#include <QCoreApplication>

#include <cstdlib>
#include <iostream>
#include <variant>

namespace corvantle {

int runHeadless(int &argc, char **argv) {
    QCoreApplication app(argc, argv);
    // Under systemd every line of standard error is the journal's: the lines that end the program before it
    // starts are errors, the missing settings file a warning.
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
    HeadlessWindowOps window(sessionLog, store.location());
    ProgramParts parts(store, {window, window.tickTimer(), window.autoMinimizeTimer(), sessionLog,
                               startOptions.verboseFrames});
    Bridge &bridge = parts.bridge();
    const ProgramSettings &settings = parts.settings().settings;

    // The bridge starts (registers, then listens) once its port can be had; until then nothing has started.
    // Not running: the start-up has ended the event loop with the exit code already.
    ListenWait portWait(settings.listen, settings.localPort, sessionLog,
                        [&bridge] { bridge.start([](bool) {}); });
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
