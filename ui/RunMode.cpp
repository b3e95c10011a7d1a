#include "RunMode.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <netdb.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace corvantle {
namespace {

constexpr int kTcpAnswerMs = 2000;

// Whether one of `names` is among the options, where the command line reads options: not as the file name
// after --config, nor after "--".
bool hasOption(int argc, const char *const *argv, std::initializer_list<const char *> names) {
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--") == 0)
            return false;
        if (std::strcmp(argv[index], "--config") == 0) {
            ++index; // its value is a file name
            continue;
        }
        for (const char *name : names)
            if (std::strcmp(argv[index], name) == 0)
                return true;
    }
    return false;
}

bool asksForHeadless(int argc, const char *const *argv) {
    return hasOption(argc, argv, {"--headless"});
}

// --help and --version are answered and the program ends: no window and no session, so nothing to say about
// running without one.
bool onlyAsksAQuestion(int argc, const char *const *argv) {
    return hasOption(argc, argv, {"-h", "--help", "--version"});
}

bool namesADisplay(const QProcessEnvironment &environment) {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (!environment.value(QLatin1String(name)).isEmpty())
            return true;
    return false;
}

// DISPLAY alone decides: with WAYLAND_DISPLAY or QT_QPA_PLATFORM Qt may not use X at all.
bool onlyAnXDisplay(const QProcessEnvironment &environment) {
    return environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty() &&
           environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty() &&
           !environment.value(QStringLiteral("DISPLAY")).isEmpty();
}

bool connectsLocally(const std::string &path, bool abstract) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
        return false;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0; // an abstract name begins with a NUL byte
    std::memcpy(address.sun_path + offset, path.data(),
                std::min(path.size(), sizeof address.sun_path - 1 - offset));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool connected = ::connect(descriptor, reinterpret_cast<sockaddr *>(&address), length) == 0;
    ::close(descriptor);
    return connected;
}

bool connectsOverTcp(const std::string &host, int port) {
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    bool connected = false;
    for (const addrinfo *each = found; each != nullptr && !connected; each = each->ai_next) {
        const int descriptor = ::socket(each->ai_family, each->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (descriptor < 0)
            continue;
        if (::connect(descriptor, each->ai_addr, each->ai_addrlen) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd wait = {descriptor, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            connected = ::poll(&wait, 1, kTcpAnswerMs) == 1 &&
                        ::getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        ::close(descriptor);
    }
    ::freeaddrinfo(found);
    return connected;
}

} // namespace

bool xServerAnswers(const QString &display) {
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return true;
    const QString host = display.left(colon);
    bool isNumber = false;
    const int number = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0).toInt(&isNumber);
    if (!isNumber || number < 0 || host.startsWith(QLatin1Char('/')))
        return true;
    if (host.isEmpty() || host == QLatin1String("unix")) {
        const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
        return connectsLocally(path, false) || connectsLocally(path, true);
    }
    return connectsOverTcp(host.toStdString(), 6000 + number);
}

RunMode chooseRunMode(int argc, const char *const *argv, const QProcessEnvironment &environment,
                      std::ostream &err, const std::function<bool(const QString &display)> &answers) {
    if (asksForHeadless(argc, argv))
        return RunMode::Headless;
    const bool saysWhy = !onlyAsksAQuestion(argc, argv);
    if (!namesADisplay(environment)) {
        if (saysWhy)
            err << "corvantle: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are not set): "
                   "running "
                   "headless, without a window\n";
        return RunMode::Headless;
    }
    const QString display = environment.value(QStringLiteral("DISPLAY"));
    if (onlyAnXDisplay(environment) && !answers(display)) {
        if (saysWhy)
            err << "corvantle: no X server answers at DISPLAY=" << display.toStdString()
                << ": running headless, without a window\n";
        return RunMode::Headless;
    }
    return RunMode::Window;
}

} // namespace corvantle
