// QtTelnetSocket against real QTcpSocket clients on loopback, the server on a port the system picks.
#include "QtTelnetSocket.h"
#include "TimerMark.h"

#include <QHostAddress>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

using corvantle::ClientId;
using corvantle::QtTelnetSocket;
using corvantle::test::TimerMark;

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
    void requestAcceptCarriesBytesBothWays();
    void peerCloseReachesHandlerWhichListensAgain();
    void ourCloseDeliversTheLastBytes();
    void unreadTextHoldsTheClientBackAndIsKept();
    void secondClientIsRefusedWhileOneIsConnected();
    void clientsSharingTheListenerAreKeptApartById();
    void refusedRequestIsClosedUnserved();
    void listenFailureSaysWhy();
    void sendWithoutClientFails();

  private:
    // Connects a client and lets the handler take it the way the bridge does: accepted, and with one client
    // at a time no longer listening.
    std::unique_ptr<QTcpSocket> connectAndAccept();

    std::unique_ptr<QtTelnetSocket> socket_;
    std::vector<ClientId> requests_;
    std::vector<ClientId> arrivals_; // a client id per data report
    std::vector<ClientId> closes_;
    bool stopListeningOnAccept_ = true;
    bool refuseRequests_ = false;
    bool listenAgainInCloseHandler_ = false;
    bool listenedAgain_ = false;
    quint16 port_ = 0;
};

void QtTelnetSocketTest::init() {
    requests_.clear();
    arrivals_.clear();
    closes_.clear();
    stopListeningOnAccept_ = true;
    refuseRequests_ = false;
    listenAgainInCloseHandler_ = false;
    listenedAgain_ = false;
    socket_ = std::make_unique<QtTelnetSocket>();
    socket_->setHandlers({
        .connectionRequest =
            [this](ClientId id) {
                requests_.push_back(id);
                if (refuseRequests_) {
                    socket_->refuse(id);
                    return;
                }
                socket_->accept(id);
                if (stopListeningOnAccept_)
                    socket_->stopListening();
            },
        .dataArrival = [this](ClientId id) { arrivals_.push_back(id); },
        .peerClosed =
            [this](ClientId id) {
                closes_.push_back(id);
                if (listenAgainInCloseHandler_) {
                    socket_->close(id);
                    std::string error;
                    listenedAgain_ = socket_->listen(error);
                }
            },
        .error = {},
    });
    socket_->setLocalPort(0);
    std::string error;
    QVERIFY2(socket_->listen(error), error.c_str());
    QVERIFY(socket_->isListening());
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
    QVERIFY(TimerMark(50).wait()); // a refused attempt that reached the server would be reported by now
    QVERIFY(requests_.empty());
}

void QtTelnetSocketTest::requestAcceptCarriesBytesBothWays() {
    const std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);
    QVERIFY(!socket_->isListening());
    const ClientId id = requests_.back();

    const std::string bytes = allByteValues();
    QVERIFY(socket_->send(id, bytes));
    QByteArray atClient;
    QTRY_VERIFY_WITH_TIMEOUT((atClient += client->readAll()).size() >= 256, 5000);
    QCOMPARE(atClient, toBytes(bytes));

    client->write(toBytes(bytes));
    std::string atServer;
    QTRY_VERIFY_WITH_TIMEOUT((atServer += socket_->read(id, 1024)).size() >= 256, 5000);
    QCOMPARE(toBytes(atServer), toBytes(bytes));
    QVERIFY(!arrivals_.empty());
    QCOMPARE(arrivals_.front(), id);
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
    const ClientId id = requests_.back();
    // The socket has read as far ahead as it reads; the rest stays with the client.
    QTRY_VERIFY_WITH_TIMEOUT(socket_->bytesAvailable(id) >= 64 * 1024, 5000);
    QVERIFY(socket_->bytesAvailable(id) <= 64 * 1024);
    QVERIFY(client->bytesToWrite() > 0); // TCP holds the client back

    QByteArray atServer;
    QTRY_VERIFY_WITH_TIMEOUT((atServer += toBytes(socket_->read(id, 64 * 1024))).size() >= flood.size(),
                             10000);
    QCOMPARE(atServer, flood);
}

void QtTelnetSocketTest::peerCloseReachesHandlerWhichListensAgain() {
    listenAgainInCloseHandler_ = true;
    std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);

    const ClientId first = requests_.back();

    client->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(closes_.size(), std::size_t{1}, 5000);
    QCOMPARE(closes_.front(), first);
    QVERIFY(listenedAgain_);
    QVERIFY(socket_->isListening());
    QCOMPARE(socket_->localPort(), port_);
    QVERIFY(!socket_->send(first, "gone"));

    // The next client is served the same way, under an id of its own.
    client = connectAndAccept();
    QVERIFY(client);
    const ClientId next = requests_.back();
    QVERIFY(next != first);
    QVERIFY(socket_->send(next, "again"));
    QByteArray atClient;
    QTRY_COMPARE_WITH_TIMEOUT(atClient += client->readAll(), QByteArray("again"), 5000);
    QCOMPARE(closes_.size(), std::size_t{1});
}

void QtTelnetSocketTest::ourCloseDeliversTheLastBytes() {
    const std::unique_ptr<QTcpSocket> client = connectAndAccept();
    QVERIFY(client);
    const ClientId id = requests_.back();
    const std::string goodbye(64 * 1024, 'g');
    QVERIFY(socket_->send(id, goodbye));
    socket_->close(id);
    QVERIFY(!socket_->send(id, "more"));

    QByteArray atClient;
    QTRY_VERIFY_WITH_TIMEOUT(client->state() == QAbstractSocket::UnconnectedState &&
                                 (atClient += client->readAll()).size() >=
                                     static_cast<qsizetype>(goodbye.size()),
                             5000);
    QCOMPARE(atClient.size(), static_cast<qsizetype>(goodbye.size()));
    QVERIFY(closes_.empty()); // our own close is not reported as the peer's
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
    QVERIFY(socket_->send(requests_.back(), "still here"));
}

// Several clients at once: each one's bytes are reported and read under its own id, what is sent to one
// reaches that one only, and one leaving leaves the others be.
void QtTelnetSocketTest::clientsSharingTheListenerAreKeptApartById() {
    stopListeningOnAccept_ = false;
    const std::unique_ptr<QTcpSocket> first = connectAndAccept();
    QVERIFY(first);
    const std::unique_ptr<QTcpSocket> second = connectAndAccept();
    QVERIFY(second);
    QVERIFY(socket_->isListening());
    const ClientId firstId = requests_[0];
    const ClientId secondId = requests_[1];
    QVERIFY(firstId != secondId);

    QVERIFY(socket_->send(firstId, "to first\r\n"));
    QVERIFY(socket_->send(secondId, "to second\r\n"));
    QByteArray atFirst;
    QByteArray atSecond;
    QTRY_VERIFY_WITH_TIMEOUT(
        (atFirst += first->readAll()).size() >= 10 && (atSecond += second->readAll()).size() >= 11, 5000);
    QCOMPARE(atFirst, QByteArray("to first\r\n"));
    QCOMPARE(atSecond, QByteArray("to second\r\n"));

    second->write("from second\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(socket_->bytesAvailable(secondId) >= 13, 5000);
    QCOMPARE(socket_->bytesAvailable(firstId), std::size_t{0});
    QVERIFY(!arrivals_.empty());
    QCOMPARE(arrivals_.back(), secondId);
    QCOMPARE(toBytes(socket_->read(secondId, 100)), QByteArray("from second\r\n"));

    first->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(closes_, std::vector<ClientId>{firstId}, 5000);
    socket_->close(firstId);
    QVERIFY(socket_->send(secondId, "on\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT(atSecond += second->readAll(), QByteArray("to second\r\non\r\n"), 5000);
}

void QtTelnetSocketTest::refusedRequestIsClosedUnserved() {
    refuseRequests_ = true;
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port_);
    QTRY_COMPARE_WITH_TIMEOUT(requests_.size(), std::size_t{1}, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 5000);
    QVERIFY(!socket_->send(requests_.back(), "nobody"));
    QVERIFY(socket_->isListening());
}

void QtTelnetSocketTest::listenFailureSaysWhy() {
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    socket_->stopListening();
    socket_->setLocalPort(holder.serverPort());
    std::string error;
    QVERIFY(!socket_->listen(error));
    QVERIFY(!error.empty());
    QVERIFY(!socket_->isListening());
}

void QtTelnetSocketTest::sendWithoutClientFails() {
    QVERIFY(!socket_->send(1, "nobody"));
    socket_->close(1); // closing a client that is not there does nothing
    socket_->stopListening();
    QVERIFY(!socket_->isListening());
    QVERIFY(!socket_->send(1, "nobody"));
}

QTEST_GUILESS_MAIN(QtTelnetSocketTest)
#include "QtTelnetSocketTest.moc"
