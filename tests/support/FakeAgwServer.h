// A fake AGW packet engine for the engine library's tests.
//
// It listens on 127.0.0.1 on a port the system picks, answers registrations as told, records every frame a
// client sends and lets the test push raw bytes back, split or joined however the test needs.
#pragma once

#include "AgwFrame.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvantle::test {

enum class Registration { Accept, AcceptLowercase, Refuse, Ignore };

class FakeAgwServer final {
  public:
    explicit FakeAgwServer(Registration answer = Registration::Accept);
    ~FakeAgwServer();
    FakeAgwServer(const FakeAgwServer &) = delete;
    FakeAgwServer &operator=(const FakeAgwServer &) = delete;

    std::string port() const { return std::to_string(port_); }

    // Every frame received so far, over all connections, once at least `count` are there or `wait` passed.
    std::vector<agw::Frame> frames(std::size_t count = 0,
                                   std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    int connections();
    bool waitForConnections(int count, std::chrono::milliseconds wait);
    // True once the current client has closed its side.
    bool waitForClientGone(std::chrono::milliseconds wait);

    void send(const std::string &bytes);
    void send(const agw::Frame &frame) { send(agw::encode(frame)); }
    // Ends the current client's connection, as an engine restart does.
    void dropClient();

  private:
    void run();
    void acceptClient();
    void readClient();
    void answer(const agw::Frame &request);

    Registration answer_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<agw::Frame> frames_;
    std::string inBytes_;
    int connections_ = 0;
    bool clientGone_ = false;
    std::thread thread_;
};

} // namespace corvantle::test
