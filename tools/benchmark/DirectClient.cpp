// DirectClient: the direct reader's AGW connection to the fake engine: registration, reading, sending lines.
#include "DirectClient.h"

#include "AgwFrame.h"
#include "Loopback.h"
#include "MonotonicClock.h"
#include "Stations.h"

#include <chrono>

#include <sys/socket.h>
#include <unistd.h>

namespace corvantle::bench {
namespace {

constexpr std::int64_t kRegistrationWaitNs = 3 * kNsPerSecond;
// Frames are gathered into writes of about this size, as a client writing as fast as it can would.
constexpr std::size_t kWriteChunkBytes = 64 * 1024;

} // namespace

DirectClient::~DirectClient() {
    if (fd_ >= 0)
        shutdown(fd_, SHUT_RDWR);
    if (reader_.joinable())
        reader_.join();
    if (fd_ >= 0)
        close(fd_);
}

bool DirectClient::connect(int enginePort, std::string &error) {
    fd_ = connectToLoopback(enginePort);
    if (fd_ < 0) {
        error = "the direct reader cannot connect to the fake engine";
        return false;
    }
    reader_ = std::thread([this] { readLoop(); });
    const std::int64_t deadline = monotonicNs() + kRegistrationWaitNs;
    if (!sendAllBefore(fd_, agw::encode({0, 'X', 0, kDirectCall, "", ""}), deadline))
        return false;
    while (!registered_ && !closed_ && monotonicNs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // Monitoring on, so the direct reader gets the same frames as the program.
    if (!registered_ || !sendAllBefore(fd_, agw::encode({0, 'm', 0, kDirectCall, "", ""}), deadline)) {
        error = "the fake engine did not answer the direct reader's registration";
        return false;
    }
    return true;
}

bool DirectClient::sendLines(const std::vector<std::string> &lines, std::int64_t deadlineNs) {
    std::string chunk;
    for (const std::string &line : lines) {
        chunk += agw::encode({0, 'D', kPidText, kDirectCall, kClusterCall, line});
        if (chunk.size() >= kWriteChunkBytes) {
            if (!sendAllBefore(fd_, chunk, deadlineNs))
                return false;
            chunk.clear();
        }
    }
    return sendAllBefore(fd_, chunk, deadlineNs);
}

void DirectClient::readLoop() {
    std::vector<char> chunk(256 * 1024);
    std::string bytes;
    std::vector<Marker> marks;
    for (;;) {
        const ssize_t got = recv(fd_, chunk.data(), chunk.size(), 0);
        if (got <= 0)
            break;
        const std::int64_t readNs = monotonicNs();
        bytes.append(chunk.data(), static_cast<std::size_t>(got));
        marks.clear();
        takeFrames(bytes, marks);
        arrivals_.record(marks, readNs);
    }
    closed_ = true;
}

void DirectClient::takeFrames(std::string &bytes, std::vector<Marker> &marks) {
    std::size_t used = 0;
    for (;;) {
        agw::DecodeResult result = agw::decode(std::string_view(bytes).substr(used));
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
                marks.push_back(*mark);
        });
    }
    bytes.erase(0, used);
}

} // namespace corvantle::bench
