// SIGTERM, SIGINT and SIGHUP as a call on the Qt event loop, so that being told to stop (by the desktop
// session, Ctrl+C in a terminal, kill, or a closed terminal) runs the program's own shutdown, which drops the
// radio link and unregisters from the engine, instead of ending the process on the spot.
//
// The signal handler only writes the signal's number into a socket pair; a QSocketNotifier on the other end
// makes the call from the event loop, where any work may be done.
#pragma once

#include <signal.h>

#include <functional>
#include <iterator>
#include <memory>
#include <string>

class QSocketNotifier;

namespace corvantle {

class TerminationSignals final {
  public:
    // Catches the three signals from now on; `onSignal` runs on the event loop once per signal caught. A
    // SIGHUP ignored when this is made (nohup) stays ignored; SIGTERM and SIGINT are caught whatever they
    // did before. One object at a time only.
    explicit TerminationSignals(std::function<void()> onSignal);
    // Puts back what the signals did before.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals &) = delete;
    TerminationSignals &operator=(const TerminationSignals &) = delete;

    // Empty when the signals are caught; otherwise why not, and they keep what they did before.
    const std::string &error() const { return error_; }

  private:
    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

    bool openSocketPair();
    void installHandlers();
    void restoreHandlers();
    void callOncePerSignal();

    std::function<void()> onSignal_;
    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previous_[std::size(kSignals)] = {};
    bool installed_[std::size(kSignals)] = {};
    std::string error_;
};

} // namespace corvantle
