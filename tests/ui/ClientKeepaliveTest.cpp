// Keepalive on the telnet clients' connections: the options the system holds for a client that
// QtTelnetSocket accepted, and the timers a test may shorten.
#include "ClientKeepalive.h"
#include "QtTelnetSocket.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using corvantle::ClientId;
using corvantle::KeepaliveTimers;
using corvantle::QtTelnetSocket;

namespace {

int option(qintptr descriptor, int level, int name) {
    int value = -1;
    socklen_t size = sizeof value;
    if (::getsockopt(static_cast<int>(descriptor), level, name, &value, &size) != 0)
        return -1;
    return value;
}

} // namespace

class ClientKeepaliveTest final : public QObject {
    Q_OBJECT
  private slots:
    void anAcceptedClientIsProbedWithinTwoMinutes();
    void testsMayShortenTheTimers_data();
    void testsMayShortenTheTimers();
};

// A client that vanishes is found out after 60 s of silence and six probes 10 s apart; data it never
// acknowledges is given up after the same two minutes.
void ClientKeepaliveTest::anAcceptedClientIsProbedWithinTwoMinutes() {
    qunsetenv("CORVANTLE_TEST_KEEPALIVE");
    QtTelnetSocket socket;
    socket.setHandlers({.connectionRequest = [&socket](ClientId id) { socket.accept(id); }});
    socket.setLocalPort(0);
    std::string error;
    QVERIFY2(socket.listen(error), error.c_str());

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(socket.localPort()));
    QVERIFY(client.waitForConnected(5000));
    QTcpSocket *accepted = nullptr;
    QTRY_VERIFY((accepted = socket.findChild<QTcpSocket *>()) != nullptr);
    // accept() runs in the same turn as the connection's arrival.
    const qintptr descriptor = accepted->socketDescriptor();
    QCOMPARE(option(descriptor, SOL_SOCKET, SO_KEEPALIVE), 1);
    QCOMPARE(option(descriptor, IPPROTO_TCP, TCP_KEEPIDLE), 60);
    QCOMPARE(option(descriptor, IPPROTO_TCP, TCP_KEEPINTVL), 10);
    QCOMPARE(option(descriptor, IPPROTO_TCP, TCP_KEEPCNT), 6);
    QCOMPARE(option(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
}

void ClientKeepaliveTest::testsMayShortenTheTimers_data() {
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<int>("idle");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("probes");
    QTest::newRow("shortened") << QByteArray("2,1,3") << 2 << 1 << 3;
    QTest::newRow("blanks") << QByteArray(" 5, 2 ,4") << 5 << 2 << 4;
    QTest::newRow("unset") << QByteArray() << 60 << 10 << 6;
    QTest::newRow("two fields") << QByteArray("2,1") << 60 << 10 << 6;
    QTest::newRow("zero") << QByteArray("0,1,3") << 60 << 10 << 6;
    QTest::newRow("not a number") << QByteArray("2,x,3") << 60 << 10 << 6;
}

void ClientKeepaliveTest::testsMayShortenTheTimers() {
    QFETCH(QByteArray, variable);
    QFETCH(int, idle);
    QFETCH(int, interval);
    QFETCH(int, probes);
    if (variable.isNull())
        qunsetenv("CORVANTLE_TEST_KEEPALIVE");
    else
        qputenv("CORVANTLE_TEST_KEEPALIVE", variable);
    const KeepaliveTimers timers = corvantle::clientKeepaliveTimers();
    qunsetenv("CORVANTLE_TEST_KEEPALIVE");
    QCOMPARE(timers.idleSeconds, idle);
    QCOMPARE(timers.intervalSeconds, interval);
    QCOMPARE(timers.probes, probes);
    QCOMPARE(timers.deadlineSeconds(), idle + interval * probes);
}

QTEST_GUILESS_MAIN(ClientKeepaliveTest)
#include "ClientKeepaliveTest.moc"
