// The session's telnet clients: who is there, sending to them with a bound on what waits unread, reading
// what they sent, the clients whose end is decided, and listening for the program's whole run. The telnet
// socket is its own: the other parts reach the clients through the operations below.
//
// Any send can end a client in the middle of a handler that goes on using it (the socket may even report the
// client's close from inside the send), so a client is never removed here on its own: it is marked as
// ending, and the bridge removes the marked ones when its outermost handler is done.
#pragma once

#include "SessionLog.h"
#include "TelnetSocket.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantle {

// The most sent text one client may leave unread before it is ended alone.
inline constexpr std::size_t kMaxUnsentToClientBytes = 1 << 20;

class ClientHub final {
  public:
    ClientHub(TelnetSocket &socket, SessionLog &log) : socket_(socket), log_(log) {}

    // The most clients the session takes: the Clients setting, kept within its range.
    void setMaxClients(int maxClients);
    bool full() const { return static_cast<int>(liveCount()) >= maxClients_; }
    void accept(ClientId client);
    // A connection beyond the places there are: told so in one line and closed, never a client.
    void turnAway(ClientId requestId);

    // The clients still in the session: not those whose end is decided.
    std::vector<ClientId> ids() const;
    // Every client, also those whose end is decided.
    std::vector<ClientId> everyId() const;
    bool has(ClientId client) const;
    std::size_t liveCount() const;
    bool empty() const { return liveCount() == 0; }
    // Where a client or a pending connection comes from, as the session log names it; empty when unknown.
    std::string peerAddress(ClientId client) const { return socket_.peerAddress(client); }

    // What a client has sent that waits unread (also a client whose end is decided, until it is removed),
    // and at most `maxBytes` of it.
    std::size_t waiting(ClientId client) const { return socket_.bytesAvailable(client); }
    std::string read(ClientId client, std::size_t maxBytes) { return socket_.read(client, maxBytes); }

    // Sends text to one client with telnet line ends; when that fails, marks the client as ending and
    // returns false.
    bool send(ClientId client, const std::string &text);
    // The same to every client; false when none is left.
    bool sendToAll(const std::string &text);

    void markEnding(ClientId client);
    // Marks the client as ending, saying why on the log as a warning.
    void endBecause(ClientId client, const std::string &reason);
    std::optional<ClientId> nextEnding() const;
    // Closes the client's connection and forgets it.
    void remove(ClientId client);

    // At shutdown: nothing is ended or reopened any more.
    void stop() { stopped_ = true; }

    // The local port, and where it listens as the session log names it.
    void setLocalPort(int32_t port) { socket_.setLocalPort(port); }
    int32_t localPort() const { return socket_.localPort(); }
    std::string listenAddress() const { return socket_.listenAddress(); }
    // Listens from start-up on, and again should listening be lost; false, with the reason, when the first
    // listen fails.
    bool startListening(std::string &error);
    void updateListening();
    // At shutdown: further clients are refused.
    void stopListening() { socket_.stopListening(); }

  private:
    void listenAgain();

    TelnetSocket &socket_;
    SessionLog &log_;
    std::map<ClientId, bool> ending_; // every client, and whether its end is decided
    int maxClients_ = 1;
    bool stopped_ = false;
    bool listeningAllowed_ = false;
    std::string lastListenError_;
};

} // namespace corvantle
