// Whether the program opens a window or runs headless, decided before any Qt application object exists:
// QApplication cannot be made without a display, and a service has none.
#pragma once

#include <QProcessEnvironment>

#include <ostream>

namespace corvantle {

enum class RunMode { Window, Headless };

// Headless with --headless among `argc`/`argv` (not as the file name after --config, nor after "--"), or
// when `environment` names no display (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM), which is said on
// `err` in one line.
RunMode chooseRunMode(int argc, const char *const *argv, const QProcessEnvironment &environment,
                      std::ostream &err);

} // namespace corvantle
