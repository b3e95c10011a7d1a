// DirectClient: the ceiling. A plain AGW client of the fake engine, registered under its own callsign with
// monitoring on, so it receives the same stream as the program; it notes the read time of every marked
// line in the 'D' frames, and it can send lines as 'D' frames straight to the engine.
#pragma once

#include "Arrivals.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace corvantle::bench {

class DirectClient final {
  public:
    explicit DirectClient(Arrivals &arrivals) : arrivals_(arrivals) {}
    ~DirectClient();
    DirectClient(const DirectClient &) = delete;
    DirectClient &operator=(const DirectClient &) = delete;

    bool connect(int enginePort, std::string &error);
    bool gone() const { return closed_; }
    // Sends each line as one 'D' frame to the cluster.
    bool sendLines(const std::vector<std::string> &lines, std::int64_t deadlineNs);

  private:
    void readLoop();
    void takeFrames(std::string &bytes, std::vector<Marker> &marks);

    Arrivals &arrivals_;
    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> registered_{false};
    std::atomic<bool> closed_{false};
};

} // namespace corvantle::bench
