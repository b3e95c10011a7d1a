// The program's command line: --help, --version, --config FILE (a settings file of its own, so that several
// instances can serve several radios, each on its own local port), --verbose[=frames] and --headless (no
// window, as a service).
//
// Read before anything else is made, so that a mistyped option or a settings file that could never be saved
// ends the program with a message on standard error instead of a window that fails later.
#pragma once

#include <QStringList>

#include <iostream>
#include <string>
#include <variant>

namespace corvantle {

struct CommandLineOptions {
    std::string configPath;     // absolute; empty: the per-user settings file
    bool verbose = false;       // log the session to standard error
    bool verboseFrames = false; // also log every frame to and from the engine or TNC (implies verbose)
    bool headless = false;      // no window; the session log on standard error
    bool configIsNew = false;   // the --config file does not exist yet
};

// The exit code after --help or --version has been answered.
constexpr int kCommandLineDone = 0;
// The exit code after a bad option or an unusable --config file.
constexpr int kCommandLineUsageError = 2;

// Reads `arguments` (the program's name first, as QCoreApplication::arguments() gives them). Answers --help
// and --version on `out` and returns kCommandLineDone; reports a bad option or an unusable --config file on
// `err` and returns kCommandLineUsageError; otherwise returns the options. A --config file that does not
// exist yet, in a folder that exists or can be made, is accepted and, with a window, noted once on `err`.
// With --headless the file only needs to be readable: without the Preferences dialog nothing is ever saved.
std::variant<CommandLineOptions, int>
parseCommandLine(const QStringList &arguments, std::ostream &out = std::cout, std::ostream &err = std::cerr);

} // namespace corvantle
