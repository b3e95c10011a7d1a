// TelnetClient: the logging program's side of the program under test. It connects to the program's local
// port, reads without pause on a thread of its own (the program may end a session whose client stops
// reading), notes the read time of every marked line and whether the link notice came, and writes lines.
#pragma once

#include "Arrivals.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

namespace corvantle::bench {

class TelnetClient final {
  public:
    explicit TelnetClient(Arrivals &arrivals) : arrivals_(arrivals) {}
    ~TelnetClient();
    TelnetClient(const TelnetClient &) = delete;
    TelnetClient &operator=(const TelnetClient &) = delete;

    // Tries to connect until the port listens, the deadline passes or `worthWaiting` says stop. The
    // first connection that succeeds is the session.
    bool connectWhenListening(int port, std::int64_t deadlineNs, const std::function<bool()> &worthWaiting);
    std::int64_t connectedNs() const { return connectedNs_; }
    // Waits for the program to pass on the engine's "*** CONNECTED" notice.
    bool waitForLink(std::int64_t deadlineNs, const std::function<bool()> &worthWaiting) const;
    bool closedByProgram() const { return closed_; }
    bool write(std::string_view bytes, std::int64_t deadlineNs);

  private:
    void readLoop();

    Arrivals &arrivals_;
    int fd_ = -1;
    std::int64_t connectedNs_ = 0;
    std::thread reader_;
    std::atomic<bool> linkUp_{false};
    std::atomic<bool> closed_{false};
};

} // namespace corvantle::bench
