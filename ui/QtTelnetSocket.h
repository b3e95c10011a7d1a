// The telnet clients' side on QTcpServer and QTcpSocket, bound to 127.0.0.1 unless a listen policy says
// otherwise.
//
// One object plays the listener and holds the client connections it accepted, each by its id. Connection
// requests, data, a peer's close and errors go out through the callbacks main sets to the bridge's client
// handlers, so this class knows nothing of the bridge. A client whose address the policy does not allow is
// told so and closed here, before the bridge hears of it: it never causes a connect on the air.
#pragma once

#include "ClientKeepalive.h"
#include "ListenPolicy.h"
#include "TelnetSocket.h"

#include <QObject>
#include <QTcpServer>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

class QTcpSocket;

namespace corvantle {

struct TelnetSocketHandlers {
    std::function<void(ClientId requestId)> connectionRequest;
    std::function<void(ClientId client)> dataArrival;
    std::function<void(ClientId client)> peerClosed;
    std::function<void(ClientId client, int32_t number, const std::string &description)> error;
    // A client from an address the allow-list does not name was told so and closed.
    std::function<void(const std::string &address)> refused;
};

class QtTelnetSocket final : public QObject, public TelnetSocket {
    Q_OBJECT
  public:
    explicit QtTelnetSocket(QObject *parent = nullptr);
    ~QtTelnetSocket() override;

    void setHandlers(TelnetSocketHandlers handlers) { handlers_ = std::move(handlers); }
    // Where to listen and whom to serve from the next listen() on; `location` is the settings file that a
    // refusal to listen names.
    void setListenPolicy(ListenPolicy policy, std::string location);

    // While listening, the port actually bound (which tells the port picked for 0).
    int32_t localPort() const override;
    void setLocalPort(int32_t port) override;
    bool isListening() const override;
    bool listen(std::string &error) override;
    std::string listenAddress() const override { return policy_.addressText(); }
    void stopListening() override;
    std::string peerAddress(ClientId id) const override;
    void accept(ClientId requestId) override;
    void refuse(ClientId requestId) override;
    bool send(ClientId client, const std::string &bytes) override;
    std::size_t unsentBytes(ClientId client) const override;
    std::size_t bytesAvailable(ClientId client) const override;
    std::string read(ClientId client, std::size_t maxBytes) override;
    void close(ClientId client) override;

  private:
    void onNewConnection();
    bool refusedByPolicy(QTcpSocket *socket);
    void onErrorOccurred(ClientId client);
    QTcpSocket *clientSocket(ClientId client) const;
    void flushAtTurnEnd();
    void release(QTcpSocket *socket);
    static void dispose(QTcpSocket *socket);

    TelnetSocketHandlers handlers_;
    ListenPolicy policy_ = ListenPolicy::byDefault();
    std::string policyLocation_;
    QTcpServer server_;
    std::map<ClientId, QTcpSocket *> clients_;
    std::map<ClientId, QTcpSocket *> pending_;
    KeepaliveTimers keepalive_ = clientKeepaliveTimers();
    ClientId nextRequestId_ = 1;
    int32_t localPort_ = 4444;
    std::map<ClientId, int> writesThisTurn_; // sends to each client since the event loop last went round
    bool turnEndPosted_ = false;             // the end-of-turn flush is on its way
};

} // namespace corvantle
