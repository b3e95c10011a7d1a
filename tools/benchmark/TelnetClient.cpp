// TelnetClient: what the reading thread makes of the program's output.
#include "TelnetClient.h"

#include "MonotonicClock.h"

#include <chrono>
#include <thread>

namespace corvantle::bench {
namespace {

constexpr auto kWaitStep = std::chrono::milliseconds(5);

} // namespace

TelnetClient::TelnetClient(Arrivals &arrivals)
    : arrivals_(arrivals),
      connection_([this](std::string_view bytes, std::int64_t readNs) { take(bytes, readNs); }) {}

bool TelnetClient::waitForLink(std::int64_t deadlineNs, const std::function<bool()> &worthWaiting) const {
    while (!linkUp_ && !connection_.closed() && monotonicNs() < deadlineNs && worthWaiting())
        std::this_thread::sleep_for(kWaitStep);
    return linkUp_;
}

void TelnetClient::take(std::string_view bytes, std::int64_t readNs) {
    marks_.clear();
    lines_.feed(bytes, [&](std::string_view line) {
        if (const auto mark = findMarker(line))
            marks_.push_back(*mark);
        else if (line.find("*** CONNECTED") != std::string_view::npos)
            linkUp_ = true;
    });
    arrivals_.record(marks_, readNs);
}

} // namespace corvantle::bench
