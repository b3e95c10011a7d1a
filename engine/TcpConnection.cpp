#include "TcpConnection.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace corvantle {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool waitFor(int fd, short events, milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<milliseconds::rep>(left.count(), 0)));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

int connectWithin(const std::string &host, const std::string &port, milliseconds wait) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
        return -1;
    const auto deadline = Clock::now() + wait;
    int fd = -1;
    for (addrinfo *a = found; a != nullptr && fd < 0 && Clock::now() < deadline; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        bool connected = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0;
        if (!connected && errno == EINPROGRESS &&
            waitFor(fd, POLLOUT, std::chrono::duration_cast<milliseconds>(deadline - Clock::now()))) {
            int error = 0;
            socklen_t size = sizeof error;
            connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        if (!connected) {
            ::close(fd);
            fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (fd >= 0) {
        // Requests are small and the telnet user waits for each: do not hold them back.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

bool sendAll(int fd, const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0)
            done += static_cast<std::size_t>(sent);
        else if (sent < 0 && errno == EINTR)
            continue;
        else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
                 waitFor(fd, POLLOUT, milliseconds(1000)))
            continue;
        else
            return false;
    }
    return true;
}

} // namespace corvantle
