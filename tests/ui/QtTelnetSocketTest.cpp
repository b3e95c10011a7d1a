// QtTelnetSocket against real QTcpSocket clients on loopback, the server on a port the system picks.
#include "QtTelnetSocket.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

using corvantle::QtTelnetSocket;
using corvantle::SocketState;

namespace {

// Every byte value once, NUL and 0xFF included.
std::string allByteValues() {
    std::string bytes;
    for (int value = 0; value < 256; ++value)
        bytes.push_back(static_cast<char>(value));
    return bytes;
}

QByteArray toBytes(const std::string &text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

class QtTelnetSocketTest final : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void listensOnLoopbackOnly();
    void requestCloseAcceptCarriesBytesBothWays();
    void peerCloseReachesHandlerWhichListensAgain();
    void ourCloseDeliversTheLastBytes();
    void unreadTextHoldsTheClientBackAndIsKept();
    void secondClientIsRefusedWhileOneIsConnected();
    void listenFailureSaysWhy();
    void sendWithoutClientFails();

  private:
    // Connects a client and lets the handler accept it the way the bridge does: close, then accept.
    std::unique_ptr<QTcpSocket> connectAndAccept();

    std::unique_ptr<QtTelnetSocket> socket_;
    std::vector<int> requests_;
    int arrivals_ = 0;
    int closes_ = 0;
    SocketState stateInCloseHandler_ = SocketState::Closed;
    bool listenAgainInCloseHandler_ = false;
    bool listenedAgain_ = false;
    quint16 port_ = 0;
};

void QtTelnetSocketTest::init() {
    requests_.clear();
    arrivals_ = 0;
    closes_ = 0;
    listenAgainInCloseHandler_ = false;
    listenedAgain_ = false;
    socket_ = std::make_unique<QtTelnetSocket>();
    socket_->setHandlers({
        .connectionRequest =
            [this](int32_t id) {
                requests_.push_back(id);
                socket_->close();
                socket_->accept(id);
            },
        .dataArrival = [this] { ++arrivals_; },
        .peerClosed =
            [this] {
                ++closes_;
                stateInCloseHandler_ = socket_->state();
                if (listenAgainInCloseHandler_) {
                    socket_->close();
                    std::string error;
                    listenedAgain_ = socket_->listen(error);
                }
            },
        .error = {},
    });
    socket_->setLocalPort(0);
    std::string error;
    QVERIFY2(socket_->listen(error), error.c_str());
    QCOMPARE(socket_->state(), SocketState::Listening);
    port_ = static_cast<quint16>(socket_->localPort());
    QVERIFY(port_ != 0);
    socket_->setLocalPort(port_); // listening again takes the same port, as with a configured one
}

void QtTelnetSocketTest::cleanup() {
    socket_.reset();
}

std::unique_ptr<QTcpSocket> QtTelnetSocketTest::connectAndAccept() {
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, port_);
    const auto before = requests_.size();
    if (!QTest::qWaitFor([&] { return requests_.size() > before; }, 5000))
        return nullptr;
    if (!QTest::qWaitFor([&] { return client->state() == QAbstractSocket::ConnectedState; }, 5000))
        return nullptr;
    return client;
}

void QtTelnetSocketTest::listensOnLoopbackOnly() {
    QList<QHostAddress> others;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address != QHostAddress(QHostAddress::LocalHost) && !address.isLinkLocal())
            others.append(address);
    }
    if (others.isEmpty())
        QSKIP("this machine has no address but 127.0.0.1");

    for (const QHostAddress &address : others) {
        QTcpSocket client;
        QSignalSpy errors(&client, &QTcpSocket::errorOccurred);
        client.connectToHost(address, port_);
        QTRY_VERIFY2_WITH_TIMEOUT(!errors.isEmpty() || client.state() == QAbstractSocket::ConnectedState,
                                  qPrintable(address.toString()), 5000);
        QVERIFY2(client.state() != QAbstractSocket::ConnectedState, qPrintable(address.toString()));
    }
    QTest::qWait(50);
    QVERIFY(requests_.empty());
}

void QtTelnetSocketTest::requestCloseAcceptCarriesBytesBothWays() {
    const std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);
    QCOMPARE(socket_->state(), SocketState::Connected);

    const std::string bytes = allByteValues();
    QVERIFY(socket_->send(bytes));
    QByteArray atClient;
    QTRY_VERIFY_WITH_TIMEOUT((atClient += client->readAll()).size() >= 256, 5000);
    QCOMPARE(atClient, toBytes(bytes));

    client->write(toBytes(bytes));
    std::string atServer;
    QTRY_VERIFY_WITH_TIMEOUT((atServer += socket_->read(1024)).size() >= 256, 5000);
    QCOMPARE(toBytes(atServer), toBytes(bytes));
    QVERIFY(arrivals_ > 0);
}

// A client's text the bridge does not read yet stays mostly in the client's own buffers: the socket reads
// only a bounded amount ahead, and nothing is lost once the bridge reads again.
void QtTelnetSocketTest::unreadTextHoldsTheClientBackAndIsKept() {
    const std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);
    QByteArray flood(4 * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < flood.size(); ++i)
        flood[i] = static_cast<char>('a' + i % 26);
    client->write(flood);
    QTest::qWait(500);
    QVERIFY(socket_->bytesAvailable() > 0);
    QVERIFY(socket_->bytesAvailable() <= 64 * 1024);
    QVERIFY(client->bytesToWrite() > 0); // TCP holds the client back

    QByteArray atServer;
    QTRY_VERIFY_WITH_TIMEOUT((atServer += toBytes(socket_->read(64 * 1024))).size() >= flood.size(), 10000);
    QCOMPARE(atServer, flood);
}

void QtTelnetSocketTest::peerCloseReachesHandlerWhichListensAgain() {
    listenAgainInCloseHandler_ = true;
    std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);

    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(closes_, 1, 5000);
    QCOMPARE(stateInCloseHandler_, SocketState::Closing);
    QVERIFY(listenedAgain_);
    QCOMPARE(socket_->state(), SocketState::Listening);
    QCOMPARE(socket_->localPort(), port_);

    // The next client is served the same way.
    client = connectAndAccept();
    QVERIFY(client);
    QVERIFY(socket_->send("again"));
    QByteArray atClient;
    QTRY_COMPARE_WITH_TIMEOUT(atClient += client->readAll(), QByteArray("again"), 5000);
    QCOMPARE(closes_, 1);
}

void QtTelnetSocketTest::ourCloseDeliversTheLastBytes() {
    const std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);
    const std::string goodbye(64 * 1024, 'g');
    QVERIFY(socket_->send(goodbye));
    socket_->close();
    QCOMPARE(socket_->state(), SocketState::Closed);

    QByteArray atClient;
    QTRY_VERIFY_WITH_TIMEOUT(client->state() == QAbstractSocket::UnconnectedState &&
                                 (atClient += client->readAll()).size() >=
                                     static_cast<qsizetype>(goodbye.size()),
                             5000);
    QCOMPARE(atClient.size(), static_cast<qsizetype>(goodbye.size()));
    QCOMPARE(closes_, 0); // our own close is not reported as the peer's
}

void QtTelnetSocketTest::secondClientIsRefusedWhileOneIsConnected() {
    const std::unique_ptr<QTcpSocket> first = connectAndAccept();
    QVERIFY(first);

    QTcpSocket second;
    QSignalSpy errors(&second, &QTcpSocket::errorOccurred);
    second.connectToHost(QHostAddress::LocalHost, port_);
    QTRY_VERIFY_WITH_TIMEOUT(!errors.isEmpty(), 5000);
    QCOMPARE(second.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(requests_.size(), std::size_t{1});
    QCOMPARE(socket_->state(), SocketState::Connected);
}

void QtTelnetSocketTest::listenFailureSaysWhy() {
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    socket_->close();
    socket_->setLocalPort(holder.serverPort());
    std::string error;
    QVERIFY(!socket_->listen(error));
    QVERIFY(!error.empty());
    QCOMPARE(socket_->state(), SocketState::Closed);
}

void QtTelnetSocketTest::sendWithoutClientFails() {
    QVERIFY(!socket_->send("nobody"));
    socket_->close();
    QCOMPARE(socket_->state(), SocketState::Closed);
    QVERIFY(!socket_->send("nobody"));
}

QTEST_GUILESS_MAIN(QtTelnetSocketTest)
#include "QtTelnetSocketTest.moc"
