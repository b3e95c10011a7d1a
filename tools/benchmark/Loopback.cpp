// Loopback: TCP on 127.0.0.1 with bounded waits.
#include "Loopback.h"

#include "MonotonicClock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvantle::bench {
namespace {

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

int boundSocket(int &port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// A port chosen from the ephemeral range can be handed out as the source port of a connection to itself;
// with nothing listening, TCP then joins the socket to itself and the connect "succeeds".
bool isSelfConnected(int fd) {
    sockaddr_in local{};
    sockaddr_in peer{};
    socklen_t localLength = sizeof local;
    socklen_t peerLength = sizeof peer;
    return getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLength) == 0 &&
           getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) == 0 &&
           local.sin_port == peer.sin_port && local.sin_addr.s_addr == peer.sin_addr.s_addr;
}

} // namespace

int listenOnLoopback(int &port, std::string &error) {
    const int fd = boundSocket(port);
    if (fd < 0 || listen(fd, 8) != 0) {
        error = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    return fd;
}

int freeLoopbackPort() {
    int port = 0;
    const int fd = boundSocket(port);
    if (fd >= 0)
        close(fd);
    return port;
}

int connectToLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in address = loopbackAddress(port);
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        isSelfConnected(fd)) {
        close(fd);
        return -1;
    }
    // Lines and frames go out as soon as they are written, as an interactive client's would.
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return fd;
}

bool setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool waitForFd(int fd, short events, std::int64_t deadlineNs) {
    for (;;) {
        const std::int64_t leftNs = deadlineNs - monotonicNs();
        pollfd entry{fd, events, 0};
        const int timeoutMs = static_cast<int>(std::clamp<std::int64_t>(leftNs / kNsPerMs + 1, 0, 1000));
        const int ready = poll(&entry, 1, leftNs > 0 ? timeoutMs : 0);
        if (ready > 0)
            return true;
        if ((ready < 0 && errno != EINTR) || leftNs <= 0)
            return false;
    }
}

bool sendAllBefore(int fd, std::string_view bytes, std::int64_t deadlineNs) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (!waitForFd(fd, POLLOUT, deadlineNs))
            return false;
    }
    return true;
}

} // namespace corvantle::bench
