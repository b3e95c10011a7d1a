// One client connection of the fake engine: the bytes it sent that are not yet whole frames, the bytes
// queued for it, and what it asked for (its registered role, monitoring, its link to the cluster).
//
// Each client has a queue of its own (its socket's) and is written without blocking, so a client that reads
// slowly only falls behind itself; the direct reader's figures stay a ceiling however slow the program is.
#pragma once

#include "AgwFrame.h"
#include "FakeAgwAnswers.h"
#include "Marker.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QTcpSocket;

namespace corvantle::bench {

enum class Role { None, Program, Direct, Other };

class EngineClient final {
  public:
    explicit EngineClient(QTcpSocket *socket); // takes the socket
    ~EngineClient();
    EngineClient(const EngineClient &) = delete;
    EngineClient &operator=(const EngineClient &) = delete;

    QTcpSocket *socket() const { return socket_; }
    bool open() const;

    // Reads what is waiting.
    void readAvailable();
    // The next whole frame received, if any; closes the connection on a frame that cannot be trusted.
    std::optional<agw::Frame> nextFrame();

    // Queues bytes for the client; false (nothing queued) when its queue is already over its bound.
    bool queue(std::string_view bytes);
    // Writes as much of the queue as the socket takes now.
    void flush();
    std::size_t pendingBytes() const;

    Role role = Role::None;
    bool monitoring = false;
    bool linkUp = false;
    LineScanner uplinkLines; // the client's connected data, as lines
    // What the engine answers this client: as the tests' fake engine does, with a radio that keeps up.
    test::FakeAgwAnswers answers;

  private:
    QTcpSocket *socket_;
    std::string in_;
    std::size_t inStart_ = 0; // frames before this offset are taken
};

} // namespace corvantle::bench
