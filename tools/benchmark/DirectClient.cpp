// DirectClient: the direct reader's AGW connection to the fake engine: registration, reading, sending lines.
#include "DirectClient.h"

#include "AgwFrame.h"
#include "MonotonicClock.h"
#include "Stations.h"

#include <chrono>
#include <thread>

namespace corvantle::bench {
namespace {

constexpr std::int64_t kRegistrationWaitNs = 3 * kNsPerSecond;

} // namespace

DirectClient::DirectClient(Arrivals &arrivals)
    : arrivals_(arrivals),
      connection_([this](std::string_view bytes, std::int64_t readNs) { take(bytes, readNs); }) {}

bool DirectClient::join(int enginePort, std::string &error) {
    const std::int64_t deadline = monotonicNs() + kRegistrationWaitNs;
    if (!connection_.open(enginePort, deadline)) {
        error = "the direct reader cannot connect to the fake engine";
        return false;
    }
    if (!connection_.write(agw::encode({0, 'X', 0, kDirectCall, "", ""}), deadline))
        return false;
    while (!registered_ && !connection_.closed() && monotonicNs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // Monitoring on, so the direct reader gets the same frames as the program.
    if (!registered_ || !connection_.write(agw::encode({0, 'm', 0, kDirectCall, "", ""}), deadline)) {
        error = "the fake engine did not answer the direct reader's registration";
        return false;
    }
    return true;
}

bool DirectClient::sendLines(const std::vector<std::string> &lines, std::int64_t deadlineNs) {
    // All in one hand-over: the socket writes as much at a time as the kernel takes, as a client writing
    // as fast as it can would.
    std::string frames;
    for (const std::string &line : lines)
        frames += agw::encode({0, 'D', kPidText, kDirectCall, kClusterCall, line});
    return connection_.write(frames, deadlineNs);
}

void DirectClient::take(std::string_view bytes, std::int64_t readNs) {
    bytes_.append(bytes);
    marks_.clear();
    std::size_t used = 0;
    for (;;) {
        agw::DecodeResult result = agw::decode(std::string_view(bytes_).substr(used));
        if (result.status != agw::DecodeStatus::Complete)
            break;
        used += result.consumedBytes;
        if (result.frame.kind == 'X')
            registered_ = true;
        // Only connected data counts: the monitored 'I' copy carries the same mark and comes first.
        if (result.frame.kind != 'D')
            continue;
        LineScanner lines;
        lines.feed(result.frame.data, [&](std::string_view line) {
            if (const auto mark = findMarker(line))
                marks_.push_back(*mark);
        });
    }
    bytes_.erase(0, used);
    arrivals_.record(marks_, readNs);
}

} // namespace corvantle::bench
