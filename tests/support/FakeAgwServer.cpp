// A fake AGW packet engine for the engine library's tests: one listening socket and one client at a time,
// served from a thread of its own, so that it answers while the test thread waits, whether that thread
// runs an event loop or not.
#include "FakeAgwServer.h"

#include <utility>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace corvantle::test {

FakeAgwServer::FakeAgwServer(Registration answer) : answers_(answer) {
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

std::size_t FakeAgwServer::frameCount() {
    std::lock_guard lock(mutex_);
    return frames_.size();
}

std::size_t FakeAgwServer::dataBytesReceived() {
    std::lock_guard lock(mutex_);
    return answers_.dataBytes();
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
    for (std::size_t done = 0; clientFd_ >= 0 && !stalled_ && done < bytes.size();) {
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

void FakeAgwServer::setRegistration(Registration answer) {
    std::lock_guard lock(mutex_);
    answers_.setRegistration(answer);
}

void FakeAgwServer::answerOutstanding() {
    std::lock_guard lock(mutex_);
    answers_.answerOutstanding();
}

void FakeAgwServer::releaseFrames() {
    std::lock_guard lock(mutex_);
    answers_.releaseFrames();
}

void FakeAgwServer::releaseFramesWhenAsked() {
    std::lock_guard lock(mutex_);
    answers_.releaseFramesWhenAsked();
}

void FakeAgwServer::holdOutstandingAnswers() {
    std::lock_guard lock(mutex_);
    answers_.holdOutstandingAnswers();
}

void FakeAgwServer::answerHeldQuestions() {
    std::lock_guard lock(mutex_);
    for (const agw::Frame &answer : answers_.answerHeldQuestions())
        if (clientFd_ >= 0 && !stalled_)
            reply(answer);
}

std::size_t FakeAgwServer::maxOutstanding() {
    std::lock_guard lock(mutex_);
    return answers_.maxOutstanding();
}

std::size_t FakeAgwServer::framesDroppedByDisconnect() {
    std::lock_guard lock(mutex_);
    return answers_.framesDroppedByDisconnect();
}

void FakeAgwServer::answerPortList(std::string data) {
    std::lock_guard lock(mutex_);
    answers_.answerPortList(std::move(data));
}

void FakeAgwServer::stallClient() {
    std::lock_guard lock(mutex_);
    stalled_ = true;
}

void FakeAgwServer::run() {
    while (!stop_) {
        bool readsClient = false;
        {
            std::lock_guard lock(mutex_);
            readsClient = clientFd_ >= 0 && !stalled_;
        }
        pollfd watched[2] = {{listenFd_, POLLIN, 0}, {clientFd_, POLLIN, 0}};
        if (::poll(watched, readsClient ? 2 : 1, 10) <= 0)
            continue;
        if (watched[0].revents & POLLIN)
            acceptClient();
        if (readsClient && watched[1].revents)
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
    stalled_ = false;
    ++connections_;
    changed_.notify_all();
}

void FakeAgwServer::readClient() {
    char chunk[64 * 1024];
    std::lock_guard lock(mutex_);
    if (stalled_ || clientFd_ < 0)
        return; // stalled since the poll: the bytes stay unread
    // poll() said readable, so this does not block.
    const ssize_t got = ::recv(clientFd_, chunk, sizeof chunk, 0);
    if (got <= 0) {
        ::close(clientFd_);
        clientFd_ = -1;
        clientGone_ = true;
        changed_.notify_all();
        return;
    }
    inBytes_.append(chunk, static_cast<std::size_t>(got));
    std::size_t used = 0;
    for (agw::DecodeResult r = agw::decode(inBytes_); r.status == agw::DecodeStatus::Complete;
         r = agw::decode(std::string_view(inBytes_).substr(used))) {
        used += r.consumedBytes;
        for (const agw::Frame &answer : answers_.answer(r.frame))
            reply(answer);
        frames_.push_back(std::move(r.frame));
    }
    inBytes_.erase(0, used);
    changed_.notify_all();
}

// Called with the mutex held.
void FakeAgwServer::reply(const agw::Frame &frame) {
    const std::string bytes = agw::encode(frame);
    ::send(clientFd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

} // namespace corvantle::test
