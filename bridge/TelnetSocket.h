// The one TCP socket object through which the bridge serves its telnet client.
//
// It is either closed, listening on the local port, or connected to one client; a connection request
// arrives as a request id that the bridge accepts on this same object. ui/ implements it on QTcpServer and
// QTcpSocket, tests with a recording fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvantle {

enum class SocketState { Closed = 0, Listening = 2, Connected = 7, Closing = 8, Error = 9 };

class TelnetSocket {
  public:
    virtual ~TelnetSocket() = default;

    virtual SocketState state() const = 0;

    virtual int32_t localPort() const = 0;
    virtual void setLocalPort(int32_t port) = 0;

    // Listens on 127.0.0.1 at the local port. On failure returns false and says why in `error`.
    virtual bool listen(std::string &error) = 0;

    // Takes the pending connection `requestId` on this object: from then on it is the client connection.
    virtual void accept(int32_t requestId) = 0;

    // Sends the bytes to the client in a write of their own. Returns false when they could not be sent.
    virtual bool send(const std::string &bytes) = 0;

    // Bytes sent that the client has not taken yet.
    virtual std::size_t unsentBytes() const = 0;

    // Bytes the client has sent that are waiting to be read. What is left unread holds the client back:
    // the socket reads only a bounded amount ahead, and TCP makes the client wait for the rest.
    virtual std::size_t bytesAvailable() const = 0;

    // At most `maxBytes` of what the client has sent, as 8-bit text.
    virtual std::string read(std::size_t maxBytes) = 0;

    // Closes the client connection or stops listening, whichever the object is doing.
    virtual void close() = 0;
};

} // namespace corvantle
