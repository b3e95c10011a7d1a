// The TCP side through which the bridge serves its telnet clients: a listener on the local port and the
// client connections it accepted, each known by an id.
//
// A connection request arrives as a request id; the bridge accepts it (the id then names that client) or
// refuses it. Data, the peer's close and errors are reported per client id by whoever wires the socket to
// the bridge. ui/ implements it on QTcpServer and QTcpSocket, tests with a recording fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvantle {

// A telnet client connection: the id of the connection request it was accepted from.
using ClientId = int32_t;

class TelnetSocket {
  public:
    virtual ~TelnetSocket() = default;

    virtual int32_t localPort() const = 0;
    virtual void setLocalPort(int32_t port) = 0;

    virtual bool isListening() const = 0;
    // Listens at the local port, on 127.0.0.1 unless told otherwise; listening already is success. On
    // failure returns false and says why in `error`.
    virtual bool listen(std::string &error) = 0;
    // Where it listens, as the session log names it: "127.0.0.1", "any" or another address.
    virtual std::string listenAddress() const { return "127.0.0.1"; }
    // Stops listening (at shutdown), so that further clients are refused; requests not yet accepted are
    // refused too. The clients already accepted stay.
    virtual void stopListening() = 0;

    // The address a pending connection or a client comes from, as the session log names it; empty when
    // unknown.
    virtual std::string peerAddress(ClientId /*id*/) const { return {}; }

    // Takes the pending connection `requestId` as a client; from then on `requestId` names it.
    virtual void accept(ClientId requestId) = 0;
    // Closes the pending connection `requestId` unserved.
    virtual void refuse(ClientId requestId) = 0;

    // Sends the bytes to the client in a write of their own. Returns false when they could not be sent.
    virtual bool send(ClientId client, const std::string &bytes) = 0;

    // Bytes sent that the client has not taken yet.
    virtual std::size_t unsentBytes(ClientId client) const = 0;

    // Bytes the client has sent that are waiting to be read. What is left unread holds the client back:
    // the socket reads only a bounded amount ahead, and TCP makes the client wait for the rest.
    virtual std::size_t bytesAvailable(ClientId client) const = 0;

    // At most `maxBytes` of what the client has sent, as 8-bit text.
    virtual std::string read(ClientId client, std::size_t maxBytes) = 0;

    // Closes the client's connection after what was sent to it; its id means nothing from then on.
    virtual void close(ClientId client) = 0;
};

} // namespace corvantle
