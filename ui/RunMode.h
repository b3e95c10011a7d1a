// Whether the program opens a window or runs headless, decided before any Qt application object exists:
// QApplication cannot be made without a display, and a service has none.
#pragma once

#include <QProcessEnvironment>
#include <QString>

#include <functional>
#include <ostream>

namespace corvantle {

enum class RunMode { Window, Headless };

// Whether an X server takes connections at `display`, a DISPLAY value (":0", ":1.0", "unix:0",
// "localhost:10.0"): its socket in /tmp/.X11-unix (or the abstract one of that name), or TCP port 6000 + n on
// another host. A value it cannot read counts as an answer, and Qt judges it.
bool xServerAnswers(const QString &display);

// Headless with --headless among `argc`/`argv` (not as the file name after --config, nor after "--"), when
// `environment` names no display (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM), and when it names only
// a DISPLAY at which no X server answers (Qt would abort); the last two are said on `err` in one line,
// unless the command line asks for --help or --version, which are answered without a window or a session.
RunMode chooseRunMode(int argc, const char *const *argv, const QProcessEnvironment &environment,
                      std::ostream &err,
                      const std::function<bool(const QString &display)> &answers = xServerAnswers);

} // namespace corvantle
