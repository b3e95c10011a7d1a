// Connection: one TCP connection to 127.0.0.1, served by an event loop on a thread of its own that reads
// without pause (a reader that stops reading would stall the program, or the engine for every client) and
// writes what the driver hands it. The read time of each chunk is taken the moment the socket says it is
// readable; the driver thread only waits, with a deadline, on what the connection's thread reports.
#pragma once

#include <QThread>

class QTcpSocket;

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::bench {

class Connection final {
  public:
    // Called on the connection's thread with each chunk read and its read time.
    using OnBytes = std::function<void(std::string_view bytes, std::int64_t readNs)>;

    explicit Connection(OnBytes onBytes) : onBytes_(std::move(onBytes)) {}
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Tries to connect until the port listens, the deadline passes or `worthWaiting` says stop. The first
    // connection that succeeds is kept.
    bool open(
        int port, std::int64_t deadlineNs, const std::function<bool()> &worthWaiting = [] { return true; });
    std::int64_t connectedNs() const { return connectedNs_; }
    // The peer closed the connection after it was open.
    bool closed() const { return state_ == State::Closed; }
    // Hands `bytes` to the writer and waits until the socket has sent them all; false when the deadline
    // passes or the connection closes first.
    bool write(std::string_view bytes, std::int64_t deadlineNs);

  private:
    enum class State { Connecting, Open, Failed, Closed };

    // These run on the connection's thread.
    void tryConnect(int port, std::int64_t deadlineNs);
    void onConnected();
    void readAll();

    OnBytes onBytes_;
    QThread thread_;
    QTcpSocket *socket_ = nullptr; // lives on thread_
    std::vector<char> readBuffer_; // used on thread_
    std::atomic<State> state_{State::Connecting};
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> connectedNs_{0};
    std::atomic<int> writesWaiting_{0};   // handed to the thread, not yet given to the socket
    std::atomic<std::int64_t> unsent_{0}; // given to the socket, not yet taken by the kernel
};

} // namespace corvantle::bench
