// The self-pipe for termination signals: an async-signal-safe handler that writes one byte per signal, and
// the notifier that turns each byte into a call of the program's shutdown on the event loop.
#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace corvantle {
namespace {

// The handler can reach no object, only this; an int atomic is lock-free and so safe in a signal handler.
std::atomic<int> signalWriteEnd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno; // the interrupted code may be about to read errno
    const auto byte = static_cast<unsigned char>(signalNumber);
    // The write end does not block: when the pair is full, calls are already waiting on the event loop.
    [[maybe_unused]] const ssize_t written = ::write(signalWriteEnd.load(), &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (signalWriteEnd.load() >= 0) {
        error_ = "termination signals are already caught";
        return;
    }
    if (!openSocketPair())
        return;
    signalWriteEnd.store(writeEnd_);
    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { callOncePerSignal(); });
    installHandlers();
}

TerminationSignals::~TerminationSignals() {
    restoreHandlers();
    notifier_.reset();
    if (writeEnd_ < 0)
        return;
    signalWriteEnd.store(-1);
    ::close(writeEnd_);
    ::close(readEnd_);
}

bool TerminationSignals::openSocketPair() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        error_ = std::string("no socket pair for termination signals: ") + std::strerror(errno);
        return false;
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
    return true;
}

void TerminationSignals::installHandlers() {
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART; // the event loop's own system calls carry on after the handler
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        // nohup ignores SIGHUP so that the program outlives its terminal. A shell ignores SIGINT too, for
        // a job it starts in the background from a script; but then `kill -INT` would leave the program
        // running for ever, so SIGINT and SIGTERM are always caught.
        if (::sigaction(kSignals[i], nullptr, &previous_[i]) != 0 ||
            (kSignals[i] == SIGHUP && previous_[i].sa_handler == SIG_IGN))
            continue;
        installed_[i] = ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

void TerminationSignals::restoreHandlers() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        if (installed_[i])
            ::sigaction(kSignals[i], &previous_[i], nullptr);
        installed_[i] = false;
    }
}

void TerminationSignals::callOncePerSignal() {
    unsigned char signalNumbers[64];
    ssize_t count = 0;
    while ((count = ::read(readEnd_, signalNumbers, sizeof signalNumbers)) > 0) {
        for (ssize_t i = 0; i < count; ++i)
            onSignal_();
    }
}

} // namespace corvantle
