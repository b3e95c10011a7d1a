#include "RunMode.h"

#include <cstring>

namespace corvantle {
namespace {

bool asksForHeadless(int argc, const char *const *argv) {
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--") == 0)
            return false;
        if (std::strcmp(argv[index], "--config") == 0)
            ++index; // its value is a file name
        else if (std::strcmp(argv[index], "--headless") == 0)
            return true;
    }
    return false;
}

bool namesADisplay(const QProcessEnvironment &environment) {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!environment.value(QLatin1String(name)).isEmpty())
            return true;
    return false;
}

} // namespace

RunMode chooseRunMode(int argc, const char *const *argv, const QProcessEnvironment &environment,
                      std::ostream &err) {
    if (asksForHeadless(argc, argv))
        return RunMode::Headless;
    if (namesADisplay(environment))
        return RunMode::Window;
    err << "corvantle: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are not set): running "
           "headless, without a window\n";
    return RunMode::Headless;
}

} // namespace corvantle
