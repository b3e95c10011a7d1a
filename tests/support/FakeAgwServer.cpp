// A fake AGW packet engine for the engine library's tests: one listening socket and one client at a time,
// served from a thread so that a blocking registration in the test thread gets its answer.
#include "FakeAgwServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace corvantle::test {

FakeAgwServer::FakeAgwServer(Registration answer) : answer_(answer) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), size) != 0 || ::listen(listenFd_, 4) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        throw std::runtime_error("fake engine cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
}

FakeAgwServer::~FakeAgwServer() {
    stop_ = true;
    thread_.join();
    if (clientFd_ >= 0)
        ::close(clientFd_);
    ::close(listenFd_);
}

std::vector<agw::Frame> FakeAgwServer::frames(std::size_t count, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait, [&] { return frames_.size() >= count; });
    return frames_;
}

int FakeAgwServer::connections() {
    std::lock_guard lock(mutex_);
    return connections_;
}

bool FakeAgwServer::waitForConnections(int count, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return connections_ >= count; });
}

bool FakeAgwServer::waitForClientGone(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, wait, [&] { return clientGone_; });
}

void FakeAgwServer::send(const std::string &bytes) {
    std::lock_guard lock(mutex_);
    for (std::size_t done = 0; clientFd_ >= 0 && done < bytes.size();) {
        const ssize_t sent = ::send(clientFd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0)
            break;
        done += static_cast<std::size_t>(sent);
    }
}

void FakeAgwServer::dropClient() {
    std::lock_guard lock(mutex_);
    if (clientFd_ >= 0)
        ::shutdown(clientFd_, SHUT_RDWR);
}

void FakeAgwServer::run() {
    while (!stop_) {
        pollfd watched[2] = {{listenFd_, POLLIN, 0}, {clientFd_, POLLIN, 0}};
        if (::poll(watched, clientFd_ >= 0 ? 2 : 1, 10) <= 0)
            continue;
        if (watched[0].revents & POLLIN)
            acceptClient();
        if (clientFd_ >= 0 && watched[1].revents)
            readClient();
    }
}

void FakeAgwServer::acceptClient() {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // so single bytes travel alone
    std::lock_guard lock(mutex_);
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = fd;
    inBytes_.clear();
    clientGone_ = false;
    ++connections_;
    changed_.notify_all();
}

void FakeAgwServer::readClient() {
    char chunk[4096];
    const ssize_t got = ::recv(clientFd_, chunk, sizeof chunk, 0);
    std::lock_guard lock(mutex_);
    if (got <= 0) {
        ::close(clientFd_);
        clientFd_ = -1;
        clientGone_ = true;
        changed_.notify_all();
        return;
    }
    inBytes_.append(chunk, static_cast<std::size_t>(got));
    for (agw::DecodeResult r = agw::decode(inBytes_); r.status == agw::DecodeStatus::Complete;
         r = agw::decode(inBytes_)) {
        inBytes_.erase(0, r.consumedBytes);
        answer(r.frame);
        frames_.push_back(std::move(r.frame));
    }
    changed_.notify_all();
}

// Called with the mutex held.
void FakeAgwServer::answer(const agw::Frame &request) {
    if (request.kind != 'X' || answer_ == Registration::Ignore)
        return;
    agw::Frame reply;
    reply.kind = answer_ == Registration::AcceptLowercase ? 'x' : 'X';
    reply.callFrom = request.callFrom;
    reply.data = std::string(1, answer_ == Registration::Refuse ? '\0' : '\1');
    const std::string bytes = agw::encode(reply);
    ::send(clientFd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

} // namespace corvantle::test
