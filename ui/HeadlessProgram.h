// The program without a window, as a service beside the packet engine: the same bridge, engine, socket
// and settings as with a window, on a QCoreApplication, with start-up messages and the session log on
// standard error. SIGTERM, SIGINT and SIGHUP run the same shutdown as closing the window.
#pragma once

namespace corvantle {

// Runs until told to stop; returns the exit code. Answers --help and --version and reports a bad command
// line as the windowed program does.
int runHeadless(int &argc, char **argv);

} // namespace corvantle
