// The telnet client's socket on QTcpServer and QTcpSocket.
//
// The bridge closes and listens again from inside the close and error handlers, that is from inside a
// signal of the very QTcpSocket being dropped; so a dropped socket is only detached and deleted later,
// never deleted on the spot.
#include "QtTelnetSocket.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace corvantle {
namespace {
constexpr qint64 kReadAheadBytes = 64 * 1024;
constexpr int kSeparateWritesPerTurn = 64;
} // namespace

QtTelnetSocket::QtTelnetSocket(QObject *parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &QtTelnetSocket::onNewConnection);
}

QtTelnetSocket::~QtTelnetSocket() {
    releaseClient();
    for (auto &[id, socket] : pending_)
        dispose(socket);
}

SocketState QtTelnetSocket::state() const {
    if (client_ != nullptr) {
        if (failed_)
            return SocketState::Error;
        return peerClosed_ ? SocketState::Closing : SocketState::Connected;
    }
    return server_.isListening() ? SocketState::Listening : SocketState::Closed;
}

int32_t QtTelnetSocket::localPort() const {
    if (client_ != nullptr)
        return client_->localPort();
    if (server_.isListening())
        return server_.serverPort();
    return localPort_;
}

void QtTelnetSocket::setLocalPort(int32_t port) {
    localPort_ = port;
}

bool QtTelnetSocket::listen(std::string &error) {
    if (state() != SocketState::Closed) {
        error = "The socket is not closed.";
        return false;
    }
    if (localPort_ < 0 || localPort_ > 65535) {
        error = "The port " + std::to_string(localPort_) + " is out of range.";
        return false;
    }
    if (!server_.listen(QHostAddress::LocalHost, static_cast<quint16>(localPort_))) {
        error = server_.errorString().toStdString();
        return false;
    }
    return true;
}

void QtTelnetSocket::onNewConnection() {
    while (QTcpSocket *socket = server_.nextPendingConnection()) {
        socket->setParent(this);
        const int32_t requestId = nextRequestId_++;
        pending_[requestId] = socket;
        if (handlers_.connectionRequest)
            handlers_.connectionRequest(requestId);
    }
}

void QtTelnetSocket::accept(int32_t requestId) {
    const auto found = pending_.find(requestId);
    if (found == pending_.end())
        return;
    QTcpSocket *socket = found->second;
    pending_.erase(found);

    // One client at a time: whatever else waits or listens goes, so a second client is refused.
    server_.close();
    releaseClient();
    for (auto &[id, other] : pending_)
        dispose(other);
    pending_.clear();

    client_ = socket;
    peerClosed_ = false;
    failed_ = false;
    // Qt reads only this far ahead of the bridge; beyond it TCP holds the client back.
    client_->setReadBufferSize(kReadAheadBytes);
    client_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(client_, &QTcpSocket::readyRead, this, &QtTelnetSocket::onReadyRead);
    connect(client_, &QTcpSocket::disconnected, this, &QtTelnetSocket::onDisconnected);
    connect(client_, &QTcpSocket::errorOccurred, this, &QtTelnetSocket::onErrorOccurred);
}

bool QtTelnetSocket::send(const std::string &bytes) {
    if (state() != SocketState::Connected)
        return false;
    if (client_->write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        return false;
    // Clients that parse each read on its own need each line in a write of its own: out now. Only far
    // beyond anything a radio delivers (a backlog handled in one turn of the event loop) do the lines of
    // that turn leave together, still whole, at its end.
    if (writesThisTurn_++ < kSeparateWritesPerTurn)
        client_->flush();
    if (!turnEndPosted_) {
        turnEndPosted_ = true;
        QTimer::singleShot(0, this, [this] {
            turnEndPosted_ = false;
            writesThisTurn_ = 0;
            if (client_ != nullptr)
                client_->flush();
        });
    }
    return true;
}

std::size_t QtTelnetSocket::unsentBytes() const {
    return client_ == nullptr ? 0 : static_cast<std::size_t>(client_->bytesToWrite());
}

std::size_t QtTelnetSocket::bytesAvailable() const {
    return client_ == nullptr ? 0 : static_cast<std::size_t>(client_->bytesAvailable());
}

std::string QtTelnetSocket::read(std::size_t maxBytes) {
    if (client_ == nullptr)
        return {};
    const QByteArray data = client_->read(static_cast<qint64>(maxBytes));
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtTelnetSocket::close() {
    if (client_ != nullptr)
        releaseClient();
    else
        server_.close(); // requests already taken stay pending, so close() followed by accept() works
}

void QtTelnetSocket::onReadyRead() {
    if (handlers_.dataArrival && client_ != nullptr)
        handlers_.dataArrival();
}

void QtTelnetSocket::onDisconnected() {
    peerClosed_ = true;
    if (handlers_.peerClosed)
        handlers_.peerClosed();
}

void QtTelnetSocket::onErrorOccurred() {
    // The peer's close comes as RemoteHostClosedError followed by disconnected(); the latter reports it.
    if (client_ == nullptr || client_->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    failed_ = true;
    if (handlers_.error)
        handlers_.error(static_cast<int32_t>(client_->error()), client_->errorString().toStdString());
}

void QtTelnetSocket::releaseClient() {
    if (client_ == nullptr)
        return;
    QTcpSocket *socket = client_;
    client_ = nullptr;
    peerClosed_ = false;
    failed_ = false;
    socket->disconnect(this);
    // Whatever the bridge sent last (a goodbye line) still goes out before the connection closes.
    socket->flush();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void QtTelnetSocket::dispose(QTcpSocket *socket) {
    socket->abort();
    socket->deleteLater();
}

} // namespace corvantle
