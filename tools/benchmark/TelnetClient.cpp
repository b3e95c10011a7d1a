// TelnetClient: connecting as soon as the program listens, and the reader thread that never pauses.
#include "TelnetClient.h"

#include "Loopback.h"
#include "MonotonicClock.h"

#include <chrono>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace corvantle::bench {
namespace {

constexpr auto kRetryInterval = std::chrono::milliseconds(2);
constexpr auto kWaitStep = std::chrono::milliseconds(5);

} // namespace

TelnetClient::~TelnetClient() {
    if (fd_ >= 0)
        shutdown(fd_, SHUT_RDWR); // ends the reader's blocking receive
    if (reader_.joinable())
        reader_.join();
    if (fd_ >= 0)
        close(fd_);
}

bool TelnetClient::connectWhenListening(int port, std::int64_t deadlineNs,
                                        const std::function<bool()> &worthWaiting) {
    while (monotonicNs() < deadlineNs && worthWaiting()) {
        fd_ = connectToLoopback(port);
        if (fd_ >= 0) {
            connectedNs_ = monotonicNs();
            reader_ = std::thread([this] { readLoop(); });
            return true;
        }
        std::this_thread::sleep_for(kRetryInterval);
    }
    return false;
}

bool TelnetClient::waitForLink(std::int64_t deadlineNs, const std::function<bool()> &worthWaiting) const {
    while (!linkUp_ && !closed_ && monotonicNs() < deadlineNs && worthWaiting())
        std::this_thread::sleep_for(kWaitStep);
    return linkUp_;
}

bool TelnetClient::write(std::string_view bytes, std::int64_t deadlineNs) {
    return fd_ >= 0 && sendAllBefore(fd_, bytes, deadlineNs);
}

void TelnetClient::readLoop() {
    std::vector<char> chunk(256 * 1024);
    LineScanner lines;
    std::vector<Marker> marks;
    for (;;) {
        const ssize_t got = recv(fd_, chunk.data(), chunk.size(), 0);
        if (got <= 0)
            break;
        const std::int64_t readNs = monotonicNs();
        marks.clear();
        lines.feed(std::string_view(chunk.data(), static_cast<std::size_t>(got)), [&](std::string_view line) {
            if (const auto mark = findMarker(line))
                marks.push_back(*mark);
            else if (line.find("*** CONNECTED") != std::string_view::npos)
                linkUp_ = true;
        });
        arrivals_.record(marks, readNs);
    }
    closed_ = true;
}

} // namespace corvantle::bench
