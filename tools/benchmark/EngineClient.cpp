// EngineClient: one connection to the fake engine, read and written without blocking.
#include "EngineClient.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace corvantle::bench {
namespace {

// A client this far behind is not going to catch up within a measurement; later frames are dropped for it.
constexpr std::size_t kMaxQueuedBytes = 128 * 1024 * 1024;
// Read at most this much per turn, so that one busy client does not starve the others or the traffic.
constexpr std::size_t kReadPerTurnBytes = 1024 * 1024;

} // namespace

EngineClient::EngineClient(int fd) : fd_(fd) {}

EngineClient::~EngineClient() {
    closeConnection();
}

void EngineClient::readAvailable() {
    char chunk[64 * 1024];
    for (std::size_t total = 0; fd_ >= 0 && total < kReadPerTurnBytes;) {
        const ssize_t got = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            in_.append(chunk, static_cast<std::size_t>(got));
            total += static_cast<std::size_t>(got);
        } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            closeConnection();
        } else {
            return;
        }
    }
}

std::optional<agw::Frame> EngineClient::nextFrame() {
    agw::DecodeResult result = agw::decode(std::string_view(in_).substr(inStart_));
    if (result.status == agw::DecodeStatus::Invalid)
        closeConnection();
    if (result.status != agw::DecodeStatus::Complete) {
        // Taken frames are dropped once per read, not once per frame: a client sending many small frames
        // would otherwise cost a copy of the whole buffer for each.
        in_.erase(0, inStart_);
        inStart_ = 0;
        return std::nullopt;
    }
    inStart_ += result.consumedBytes;
    return std::move(result.frame);
}

bool EngineClient::queue(std::string_view bytes) {
    if (fd_ < 0 || pendingBytes() > kMaxQueuedBytes)
        return false;
    out_.append(bytes);
    return true;
}

void EngineClient::flush() {
    while (fd_ >= 0 && pendingBytes() > 0) {
        const ssize_t sent = send(fd_, out_.data() + outStart_, pendingBytes(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            outStart_ += static_cast<std::size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else if (sent < 0 && errno != EINTR) {
            closeConnection();
        }
    }
    // Drop what was written once it is most of the buffer, so the queue does not creep along in memory.
    if (outStart_ > 0 && outStart_ * 2 >= out_.size()) {
        out_.erase(0, outStart_);
        outStart_ = 0;
    }
}

void EngineClient::closeConnection() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    out_.clear();
    outStart_ = 0;
    in_.clear();
    inStart_ = 0;
}

} // namespace corvantle::bench
