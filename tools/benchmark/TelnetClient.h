// TelnetClient: the logging program's side of the program under test. It connects to the program's local
// port, reads without pause (the program may end a session whose client stops reading), notes the read
// time of every marked line and whether the link notice came, and writes lines.
#pragma once

#include "Arrivals.h"
#include "Connection.h"
#include "Marker.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

namespace corvantle::bench {

class TelnetClient final {
  public:
    explicit TelnetClient(Arrivals &arrivals);
    TelnetClient(const TelnetClient &) = delete;
    TelnetClient &operator=(const TelnetClient &) = delete;

    // Tries to connect until the port listens, the deadline passes or `worthWaiting` says stop. The
    // first connection that succeeds is the session.
    bool connectWhenListening(int port, std::int64_t deadlineNs, const std::function<bool()> &worthWaiting) {
        return connection_.open(port, deadlineNs, worthWaiting);
    }
    std::int64_t connectedNs() const { return connection_.connectedNs(); }
    // Waits for the program to pass on the engine's "*** CONNECTED" notice.
    bool waitForLink(std::int64_t deadlineNs, const std::function<bool()> &worthWaiting) const;
    bool closedByProgram() const { return connection_.closed(); }
    bool write(std::string_view bytes, std::int64_t deadlineNs) {
        return connection_.write(bytes, deadlineNs);
    }

  private:
    void take(std::string_view bytes, std::int64_t readNs);

    Arrivals &arrivals_;
    LineScanner lines_;
    std::vector<Marker> marks_;
    std::atomic<bool> linkUp_{false};
    Connection connection_; // last, so that its thread ends before what it writes to goes
};

} // namespace corvantle::bench
