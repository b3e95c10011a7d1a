// AgwSocket: the cluster station's TCP connection to an AGW packet engine.
#include "AgwSocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvantle::cluster {
namespace {

std::string systemError(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

// Non-blocking connect bounded by `wait`; leaves the socket blocking for the writes afterwards.
bool connectWithin(int fd, const addrinfo &address, std::chrono::milliseconds wait, std::string &error) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS)
        return error = systemError("connect"), false;
    pollfd waiting{fd, POLLOUT, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(wait.count()));
    if (ready <= 0)
        return error = ready == 0 ? "connect: no answer in time" : systemError("poll"), false;
    int soError = 0;
    socklen_t length = sizeof soError;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length);
    if (soError != 0)
        return error = std::string("connect: ") + std::strerror(soError), false;
    fcntl(fd, F_SETFL, flags);
    return true;
}

} // namespace

AgwSocket::~AgwSocket() {
    close();
}

bool AgwSocket::open(const std::string &host, std::uint16_t port, std::chrono::milliseconds wait,
                     std::string &error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *addresses = nullptr;
    const int looked = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses);
    if (looked != 0)
        return error = host + ": " + gai_strerror(looked), false;
    for (const addrinfo *a = addresses; a != nullptr; a = a->ai_next) {
        fd_ = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd_ >= 0 && connectWithin(fd_, *a, wait, error))
            break;
        close();
    }
    freeaddrinfo(addresses);
    if (fd_ < 0)
        return false;
    // Frames are small and each one is an answer somebody waits for.
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return true;
}

void AgwSocket::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    received_.clear();
}

bool AgwSocket::send(const agw::Frame &frame, std::string &error) {
    const std::string bytes = agw::encode(frame);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return error = systemError("send to engine"), false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool AgwSocket::readAvailable(std::vector<agw::Frame> &frames, std::string &error) {
    char chunk[4096];
    bool open = true;
    while (open) {
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            received_.append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0) {
            error = "the engine closed the connection";
            open = false;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            error = systemError("receive from engine");
            open = false;
        }
    }
    // Frames that arrived before a close still count: often the last one says why.
    for (;;) {
        agw::DecodeResult decoded = agw::decode(received_);
        if (decoded.status == agw::DecodeStatus::Invalid)
            return error = "the engine sent a frame with an impossible length", false;
        if (decoded.status == agw::DecodeStatus::NeedMore)
            return open;
        received_.erase(0, decoded.consumedBytes);
        frames.push_back(std::move(decoded.frame));
    }
}

} // namespace corvantle::cluster
