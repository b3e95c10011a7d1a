// A service's wait for its telnet port at start-up.
//
// Started at boot, the program may come up before DHCP has given the machine the address it is told to
// listen on, or while the instance it replaces still holds the port. Both pass by themselves, so a headless
// program tries again every 5 s (said once on standard error) and only then starts: registers with the
// engine and listens. A failure that waiting cannot mend (a listen policy that must be refused, a port the
// user may not bind) starts the program at once, and its start-up says why and ends with status 2.
#pragma once

#include "ListenPolicy.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <string>

namespace corvantle {

class StandardErrorLog;

class ListenWait final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kRetryMs = 5000;

    // `policy` and `port` are where the program will listen; `ready` runs once, when the port can be bound
    // or waiting would not help.
    ListenWait(ListenPolicy policy, int port, StandardErrorLog &log, std::function<void()> ready);

    // Tries at once, and then every kRetryMs while the failure may pass.
    void start();
    // No more tries; `ready` does not run.
    void cancel();
    bool waiting() const { return retry_.isActive(); }

  private:
    void attempt();

    ListenPolicy policy_;
    int port_;
    StandardErrorLog &log_;
    std::function<void()> ready_;
    QTimer retry_;
    bool said_ = false;
};

} // namespace corvantle
