// The telnet clients' side on QTcpServer and QTcpSocket.
//
// The bridge closes clients and listens again from inside the close and error handlers, that is from inside
// a signal of the very QTcpSocket being dropped; so a dropped socket is only detached and deleted later,
// never deleted on the spot.
#include "QtTelnetSocket.h"

#include "ClientKeepalive.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace corvantle {
namespace {
constexpr qint64 kReadAheadBytes = 64 * 1024;
constexpr int kSeparateWritesPerTurn = 64;

// A client's address as people write it and the allow-list reads it: dotted for IPv4, also when it came
// through a dual-stack listener, and an IPv6 address without its zone (fe80::1, not fe80::1%eth0).
std::string addressText(QHostAddress address) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4)
        return QHostAddress(ipv4).toString().toStdString();
    address.setScopeId(QString());
    return address.toString().toStdString();
}
} // namespace

QtTelnetSocket::QtTelnetSocket(QObject *parent) : QObject(parent) {
    connect(&server_, &QTcpServer::newConnection, this, &QtTelnetSocket::onNewConnection);
}

QtTelnetSocket::~QtTelnetSocket() {
    for (auto &[id, socket] : clients_)
        release(socket);
    for (auto &[id, socket] : pending_)
        dispose(socket);
}

int32_t QtTelnetSocket::localPort() const {
    if (server_.isListening())
        return server_.serverPort();
    if (!clients_.empty())
        return clients_.begin()->second->localPort();
    return localPort_;
}

void QtTelnetSocket::setLocalPort(int32_t port) {
    localPort_ = port;
}

bool QtTelnetSocket::isListening() const {
    return server_.isListening();
}

void QtTelnetSocket::setListenPolicy(ListenPolicy policy, std::string location) {
    policy_ = std::move(policy);
    policyLocation_ = std::move(location);
}

bool QtTelnetSocket::listen(std::string &error) {
    if (server_.isListening())
        return true;
    if (localPort_ < 0 || localPort_ > 65535) {
        error = "The port " + std::to_string(localPort_) + " is out of range.";
        return false;
    }
    if (error = policy_.problem(policyLocation_); !error.empty())
        return false;
    const QHostAddress address = policy_.address
                                     ? QHostAddress(QString::fromStdString(policy_.address->text()))
                                     : QHostAddress(QHostAddress::Any);
    if (!server_.listen(address, static_cast<quint16>(localPort_))) {
        error = server_.errorString().toStdString();
        return false;
    }
    return true;
}

// Further clients are refused by the system itself; those that came meanwhile are closed unserved.
void QtTelnetSocket::stopListening() {
    server_.close();
    for (auto &[id, socket] : pending_)
        dispose(socket);
    pending_.clear();
}

void QtTelnetSocket::onNewConnection() {
    while (server_.isListening()) {
        QTcpSocket *socket = server_.nextPendingConnection();
        if (socket == nullptr)
            return;
        socket->setParent(this);
        if (refusedByPolicy(socket))
            continue;
        const ClientId requestId = nextRequestId_++;
        pending_[requestId] = socket;
        if (handlers_.connectionRequest)
            handlers_.connectionRequest(requestId);
    }
}

// The client hears why in one line, and the connection closes once that line is out.
bool QtTelnetSocket::refusedByPolicy(QTcpSocket *socket) {
    const std::string address = addressText(socket->peerAddress());
    if (policy_.allowed.allows(address))
        return false;
    socket->write(QByteArray::fromStdString("*** " + address + " is not allowed to connect here\r\n"));
    release(socket);
    if (handlers_.refused)
        handlers_.refused(address);
    return true;
}

std::string QtTelnetSocket::peerAddress(ClientId id) const {
    const auto pending = pending_.find(id);
    if (pending != pending_.end())
        return addressText(pending->second->peerAddress());
    const QTcpSocket *client = clientSocket(id);
    return client == nullptr ? std::string() : addressText(client->peerAddress());
}

void QtTelnetSocket::accept(ClientId requestId) {
    const auto found = pending_.find(requestId);
    if (found == pending_.end())
        return;
    QTcpSocket *socket = found->second;
    pending_.erase(found);
    clients_[requestId] = socket;
    // Qt reads only this far ahead of the bridge; beyond it TCP holds the client back.
    socket->setReadBufferSize(kReadAheadBytes);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A client that vanished without a word is found out and leaves like any other (see ClientKeepalive.h).
    if (std::string error; !applyKeepalive(socket->socketDescriptor(), keepalive_, error))
        qWarning("corvantle: telnet client without keepalive: %s", error.c_str());
    connect(socket, &QTcpSocket::readyRead, this, [this, requestId] {
        if (handlers_.dataArrival && clients_.count(requestId) != 0)
            handlers_.dataArrival(requestId);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, requestId] {
        if (handlers_.peerClosed && clients_.count(requestId) != 0)
            handlers_.peerClosed(requestId);
    });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, requestId] { onErrorOccurred(requestId); });
}

void QtTelnetSocket::refuse(ClientId requestId) {
    const auto found = pending_.find(requestId);
    if (found == pending_.end())
        return;
    dispose(found->second);
    pending_.erase(found);
}

bool QtTelnetSocket::send(ClientId client, const std::string &bytes) {
    QTcpSocket *socket = clientSocket(client);
    if (socket == nullptr || socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (socket->write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        return false;
    // Clients that parse each read on its own need each line in a write of its own: out now. Only far
    // beyond anything a radio delivers (a backlog handled in one turn of the event loop) do the lines of
    // that turn leave together, still whole, at its end.
    if (writesThisTurn_[client]++ < kSeparateWritesPerTurn)
        socket->flush();
    if (!turnEndPosted_) {
        turnEndPosted_ = true;
        QTimer::singleShot(0, this, [this] { flushAtTurnEnd(); });
    }
    return true;
}

void QtTelnetSocket::flushAtTurnEnd() {
    turnEndPosted_ = false;
    for (const auto &[id, writes] : writesThisTurn_)
        if (QTcpSocket *socket = clientSocket(id))
            socket->flush();
    writesThisTurn_.clear();
}

std::size_t QtTelnetSocket::unsentBytes(ClientId client) const {
    const QTcpSocket *socket = clientSocket(client);
    return socket == nullptr ? 0 : static_cast<std::size_t>(socket->bytesToWrite());
}

std::size_t QtTelnetSocket::bytesAvailable(ClientId client) const {
    const QTcpSocket *socket = clientSocket(client);
    return socket == nullptr ? 0 : static_cast<std::size_t>(socket->bytesAvailable());
}

std::string QtTelnetSocket::read(ClientId client, std::size_t maxBytes) {
    QTcpSocket *socket = clientSocket(client);
    if (socket == nullptr)
        return {};
    const QByteArray data = socket->read(static_cast<qint64>(maxBytes));
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

void QtTelnetSocket::close(ClientId client) {
    const auto found = clients_.find(client);
    if (found == clients_.end())
        return;
    QTcpSocket *socket = found->second;
    clients_.erase(found);
    writesThisTurn_.erase(client);
    release(socket);
}

void QtTelnetSocket::onErrorOccurred(ClientId client) {
    QTcpSocket *socket = clientSocket(client);
    // The peer's close comes as RemoteHostClosedError followed by disconnected(); the latter reports it.
    if (socket == nullptr || socket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    if (handlers_.error)
        handlers_.error(client, static_cast<int32_t>(socket->error()), socket->errorString().toStdString());
}

QTcpSocket *QtTelnetSocket::clientSocket(ClientId client) const {
    const auto found = clients_.find(client);
    return found == clients_.end() ? nullptr : found->second;
}

void QtTelnetSocket::release(QTcpSocket *socket) {
    socket->disconnect(this);
    // Whatever the bridge sent last (a goodbye line) still goes out before the connection closes.
    socket->flush();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
}

void QtTelnetSocket::dispose(QTcpSocket *socket) {
    socket->abort();
    socket->deleteLater();
}

} // namespace corvantle
