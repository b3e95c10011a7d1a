// AgwConnection: one TCP connection to a packet engine's AGW port, with what keeps it alive.
//
// It connects (name lookup included) within a bound, registers a callsign with 'X' and waits a bounded time
// for the answer, hands every whole frame the engine sends to its owner, and writes each frame in one
// write, with a bound on what the engine has not taken yet. Once registered it notices an engine that went
// away or stopped answering (a version request 'R' after a quiet spell) and, when told to, reconnects on its
// own. Without a callsign it only connects: a short question needs no registration.
#pragma once

#include "AgwFrame.h"
#include "AgwFrameReader.h"

#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace corvantle {

struct AgwConnectionTiming {
    std::chrono::milliseconds connectWait{2000};       // TCP connect, name lookup included
    std::chrono::milliseconds answerWait{3000};        // the engine's answer to a registration
    std::chrono::milliseconds retryInterval{5000};     // between reconnect attempts after a lost connection
    std::chrono::milliseconds quietBeforeProbe{30000}; // nothing heard this long: ask for the version
    std::chrono::milliseconds probeAnswerWait{5000};   // no answer to that: the connection is dead
};

struct AgwConnectionLimits {
    std::size_t unsentToEngineBytes = 1 << 20; // written but not yet taken by the engine's socket
    std::size_t readChunkBytes = 64 * 1024;    // read and handled per event, so the window stays live
};

class AgwConnection final {
  public:
    using LogLine = std::function<void(const std::string &line)>;
    // Why a connection was lost whose stream stopped making sense.
    static constexpr const char *kBrokenStream = "the engine sent a frame of impossible length";

    // What the owner hears. Each may be left empty.
    struct Handlers {
        // Registered (or, without a callsign, connected): the first time and after each reconnect.
        std::function<void()> up;
        // An attempt that was not followed by a retry failed: the engine is not reachable, or refused.
        std::function<void(const std::string &why)> failed;
        // The connection that was up is gone; a reconnect follows when reconnects are on.
        std::function<void(const std::string &why)> lost;
        // Each whole frame other than the registration answer.
        std::function<void(agw::Frame frame)> frame;
        // The socket handed bytes to the system: the unsent count went down.
        std::function<void()> bytesWritten;
    };

    AgwConnection(AgwConnectionTiming timing, AgwConnectionLimits limits, Handlers handlers);
    ~AgwConnection();
    AgwConnection(const AgwConnection &) = delete;
    AgwConnection &operator=(const AgwConnection &) = delete;

    // `warnings` receive what went wrong (default: standard error), `frames` every frame both ways.
    void setLog(LogLine warnings, LogLine frames);

    // Connects to host:port and registers `callsign` (upper case already); an empty callsign only connects.
    void open(const std::string &host, std::uint16_t port, const std::string &callsign);
    // After a loss: connect and register again, every retryInterval, until up or closed.
    void setReconnects(bool on) { reconnects_ = on; }
    // Drops the connection at once; nothing more is heard from it.
    void close();

    // Writes one frame; false when the connection is not open or the engine took nothing for too long
    // (the connection is lost then).
    bool send(const agw::Frame &frame);
    // Hands what is written to the system now, for the last frame before a close.
    void flush() { socket_.flush(); }

    bool isUp() const { return state_ == State::Up; }
    bool attempting() const { return state_ == State::Connecting || state_ == State::Registering; }
    bool isClosed() const { return state_ == State::Closed; }
    std::size_t unsentBytes() const { return static_cast<std::size_t>(socket_.bytesToWrite()); }
    // Counts connections, so that something scheduled for later sees that its connection is gone.
    std::uint64_t generation() const { return generation_; }
    // The context for work scheduled later on the event loop; it ends with the connection.
    QObject *context() { return &socket_; }
    std::string address() const { return host_ + ":" + std::to_string(port_); }

  private:
    enum class State { Closed, Connecting, Registering, Up, Waiting };

    void note(const std::string &line) const;
    void startConnecting();
    void onConnected();
    void onRegistrationAnswer(bool accepted);
    void onTrouble(const std::string &why);
    void onAttemptFailed(const std::string &why);
    void loseConnection(const std::string &why);
    void abortSocket();
    void onReadyRead();
    void onQuiet();

    AgwConnectionTiming timing_;
    AgwConnectionLimits limits_;
    Handlers handlers_;
    LogLine warnings_;
    LogLine frameLog_;
    std::string host_;
    std::uint16_t port_ = 0;
    std::string callsign_;
    State state_ = State::Closed;
    bool reconnects_ = false; // after a loss; not at start-up and not once closed

    QTcpSocket socket_;
    QTimer attemptTimer_; // connect and registration answer
    QTimer retryTimer_;   // next reconnect
    QTimer quietTimer_;   // nothing heard from the engine for a while
    QTimer probeTimer_;   // no answer to the version probe
    agw::FrameReader reader_;
    std::uint64_t generation_ = 0;
};

} // namespace corvantle
