// Corvantle with a window: the program's parts (ProgramParts) in the main window, with Preferences, the
// session log window, and the start-up's message boxes; without a display it runs headless.
#include "Bridge.h"
#include "CommandLine.h"
#include "DialogLauncher.h"
#include "HeadlessProgram.h"
#include "IniSettingsStore.h"
#include "MainForm.h"
#include "OptionsLogic.h"
#include "ProgramParts.h"
#include "QtWindowOps.h"
#include "RunMode.h"
#include "SessionLogWindow.h"
#include "SettingsWriter.h"
#include "TerminationSignals.h"

#include <QApplication>
#include <QIcon>
#include <QString>

#include <cstdlib>
#include <iostream>
#include <variant>

int main(int argc, char *argv[]) {
    using namespace corvantle;

    QCoreApplication::setApplicationName(QStringLiteral("corvantle"));
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                                .arg(CORVANTLE_VERSION_MAJOR)
                                                .arg(CORVANTLE_VERSION_MINOR)
                                                .arg(CORVANTLE_VERSION_PATCH));
    if (chooseRunMode(argc, argv, QProcessEnvironment::systemEnvironment(), std::cerr) == RunMode::Headless)
        return runHeadless(argc, argv);

    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/corvantle-16.png")));

    const auto commandLine = parseCommandLine(QApplication::arguments());
    if (const int *exitCode = std::get_if<int>(&commandLine))
        return *exitCode;
    const auto &startOptions = std::get<CommandLineOptions>(commandLine);

    IniSettingsStore store(startOptions.configPath.empty() ? IniSettingsStore::defaultFilePath()
                                                           : startOptions.configPath);
    MainForm form;
    QtWindowOps window(form);
    SessionLogWindow sessionLog(startOptions.verbose);
    ProgramParts parts(
        store, {window, form.tickTimer(), form.autoMinimizeTimer(), sessionLog, startOptions.verboseFrames});
    Bridge &bridge = parts.bridge();
    StoreWriter settingsWriter(store);
    OptionsLogic options(bridge, window, parts.settings().settings, settingsWriter);
    DialogLauncher dialogs(form, options);

    QObject::connect(&form, &MainForm::closing, [&bridge] { bridge.shutDown(); });
    QObject::connect(&form, &MainForm::sessionLogRequested, [&sessionLog] { sessionLog.showAndRaise(); });
    form.setTraySummary([&bridge] { return traySummary(bridge); });

    // The start-up's message boxes now run inside the event loop, before the window is shown: closing one
    // must not end the program as the last window closed. Closing the main window ends it explicitly.
    QApplication::setQuitOnLastWindowClosed(false);
    // The engine's close outlasts the window: the program ends when it is over.
    bridge.whenEngineClosed([] { QCoreApplication::quit(); });
    // Logout, `systemctl stop` and Ctrl-C close the window as the user would, so the radio link is dropped
    // and the registration released. Before the window is shown they run the same shutdown; a start-up
    // message box open meanwhile (in an event loop of its own, inside the bridge's start-up) is closed, and
    // the shutdown waits until the start-up code it interrupted has returned.
    bool stopAsked = false;
    const TerminationSignals terminationSignals([&] {
        if (form.isVisible()) {
            form.close();
        } else if (QWidget *box = QApplication::activeModalWidget()) {
            stopAsked = true;
            box->close();
        } else {
            bridge.shutDown();
        }
    });
    if (!terminationSignals.error().empty())
        sessionLog.warn(terminationSignals.error());
    bridge.start([&](bool running) {
        // Not running: the start-up has ended the event loop with the exit code already.
        if (!running)
            return;
        if (stopAsked)
            bridge.shutDown();
        else
            form.show();
    });
    if (stopAsked)
        bridge.shutDown();
    const int status = QApplication::exec();
    // The window has closed (or start-up ended the program); the engine may still be closing.
    if (bridge.engineClosing())
        QApplication::exec();
    return status;
}
