// DirectClient: the ceiling. A plain AGW client of the fake engine, registered under its own callsign with
// monitoring on, so it receives the same stream as the program; it notes the read time of every marked
// line in the 'D' frames, and it can send lines as 'D' frames straight to the engine.
#pragma once

#include "Arrivals.h"
#include "Connection.h"
#include "Marker.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::bench {

class DirectClient final {
  public:
    explicit DirectClient(Arrivals &arrivals);
    DirectClient(const DirectClient &) = delete;
    DirectClient &operator=(const DirectClient &) = delete;

    bool join(int enginePort, std::string &error);
    bool gone() const { return connection_.closed(); }
    // Sends each line as one 'D' frame to the cluster.
    bool sendLines(const std::vector<std::string> &lines, std::int64_t deadlineNs);

  private:
    void take(std::string_view bytes, std::int64_t readNs);

    Arrivals &arrivals_;
    std::string bytes_; // read and not yet whole frames
    std::vector<Marker> marks_;
    std::atomic<bool> registered_{false};
    Connection connection_; // last, so that its thread ends before what it writes to goes
};

} // namespace corvantle::bench
