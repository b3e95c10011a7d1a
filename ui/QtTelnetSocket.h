// The telnet client's socket on QTcpServer and QTcpSocket, bound to 127.0.0.1 only.
//
// One object plays the listening socket and, after accept(), the client connection. Connection requests,
// data, the peer's close and errors go out through the callbacks main sets to the bridge's client
// handlers, so this class knows nothing of the bridge.
#pragma once

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
    std::function<void(int32_t requestId)> connectionRequest;
    std::function<void()> dataArrival;
    std::function<void()> peerClosed;
    std::function<void(int32_t number, const std::string &description)> error;
};

class QtTelnetSocket final : public QObject, public TelnetSocket {
    Q_OBJECT
  public:
    explicit QtTelnetSocket(QObject *parent = nullptr);
    ~QtTelnetSocket() override;

    void setHandlers(TelnetSocketHandlers handlers) { handlers_ = std::move(handlers); }

    SocketState state() const override;
    // While listening or connected, the port actually bound (which tells the port picked for 0).
    int32_t localPort() const override;
    void setLocalPort(int32_t port) override;
    bool listen(std::string &error) override;
    void accept(int32_t requestId) override;
    bool send(const std::string &bytes) override;
    std::size_t unsentBytes() const override;
    std::size_t bytesAvailable() const override;
    std::string read(std::size_t maxBytes) override;
    void close() override;

  private:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();
    void onErrorOccurred();
    void releaseClient();
    static void dispose(QTcpSocket *socket);

    TelnetSocketHandlers handlers_;
    QTcpServer server_;
    QTcpSocket *client_ = nullptr;
    std::map<int32_t, QTcpSocket *> pending_;
    int32_t nextRequestId_ = 1;
    int32_t localPort_ = 4444;
    bool peerClosed_ = false;
    bool failed_ = false;
    int writesThisTurn_ = 0;     // sends since the event loop last went round
    bool turnEndPosted_ = false; // the end-of-turn flush is on its way
};

} // namespace corvantle
