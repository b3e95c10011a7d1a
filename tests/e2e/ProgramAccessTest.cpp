// Who may use the telnet port: the real program, run headless (no display) against a fake engine, with
// clients whose source address is another loopback address (a socket bound to 127.0.0.2 and so on before
// it connects). All traffic stays on the loopback range; the one address outside it in a list below is
// never contacted, it only makes the list reach beyond this machine.
#include "FakeAgwServer.h"
#include "ProgramUnderTest.h"

#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using corvantle::test::FakeAgwServer;
using corvantle::test::freePort;
using corvantle::test::listeningAddresses;
using corvantle::test::prepareProgram;
using corvantle::test::ProgramUnderTest;

namespace {

class ProgramAccessTest : public ::testing::Test {
  protected:
    QTemporaryDir config;
    FakeAgwServer engine;
    quint16 localPort = freePort();
    ProgramUnderTest program;
    QByteArray said; // standard error so far

    // Starts the program headless, with no display, and `extraSettings` added to its store.
    void start(const QString &extraSettings) {
        ASSERT_TRUE(prepareProgram(program, config, "N0CALL", localPort, engine.port()));
        QFile store(config.path() + "/corvantle/settings.ini");
        ASSERT_TRUE(store.open(QIODevice::Append));
        store.write(extraSettings.toUtf8());
        store.close();
        program.withoutDisplay();
        ASSERT_TRUE(program.launch(CORVANTLE_PROGRAM, {"--headless"}));
    }

    bool saidWithin(const QByteArray &text, int ms) {
        return QTest::qWaitFor([&] { return (said += program.readAllStandardError()).contains(text); }, ms);
    }

    int connectRequests() {
        int count = 0;
        for (const corvantle::agw::Frame &frame : engine.frames())
            count += frame.kind == 'C';
        return count;
    }

    // A client from `source` to the program; returns what it received before the program closed it or
    // before `until` showed up in it.
    QByteArray visit(QTcpSocket &client, const QString &source, const QByteArray &until) {
        const QHostAddress from(source);
        const QHostAddress to = from.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6
                                                                                 : QHostAddress::LocalHost;
        EXPECT_TRUE(client.bind(from, 0)) << client.errorString().toStdString();
        client.connectToHost(to, localPort);
        EXPECT_TRUE(client.waitForConnected(3000)) << client.errorString().toStdString();
        QByteArray received;
        // Either end counts; what came decides the test.
        (void)QTest::qWaitFor(
            [&] {
                received += client.readAll();
                return received.contains(until) || client.state() == QAbstractSocket::UnconnectedState;
            },
            5000);
        return received + client.readAll();
    }

    void TearDown() override {
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
    }
};

TEST_F(ProgramAccessTest, ServesTheListedAddressesAndRangesAndRefusesOthersWithoutAConnect) {
    ASSERT_NO_FATAL_FAILURE(start("Config\\ListenAddress=any\n"
                                  "Config\\AllowedClients=\"192.0.2.0/24, 127.0.0.2, 127.0.1.0/24\"\n"
                                  "Config\\Clients=8\n"));
    ASSERT_TRUE(
        saidWithin("Listening for a telnet client on any port " + QByteArray::number(localPort), 10000))
        << said.toStdString();

    for (const QString source : {"127.0.0.3", "127.0.2.1"}) {
        SCOPED_TRACE(source.toStdString());
        QTcpSocket client;
        const QByteArray received = visit(client, source, "\n");
        EXPECT_EQ(received, "*** " + source.toUtf8() + " is not allowed to connect here\r\n");
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; }, 3000))
            << "the refused client stays connected";
        EXPECT_TRUE(
            saidWithin("Telnet client from " + source.toUtf8() + " refused: not in AllowedClients", 3000))
            << said.toStdString();
    }

    // Named, in a range, this machine over IPv4 and IPv6: each is greeted and stays.
    QTcpSocket clients[4];
    const QString allowed[] = {"127.0.0.2", "127.0.1.9", "127.0.0.1", "::1"};
    for (int index = 0; index < 4; ++index) {
        SCOPED_TRACE(allowed[index].toStdString());
        const QByteArray received = visit(clients[index], allowed[index], "by ZR8QOD\r\n");
        EXPECT_TRUE(received.startsWith("Welcome to the AGWPE telnet corvantle")) << received.toStdString();
        EXPECT_EQ(clients[index].state(), QAbstractSocket::ConnectedState);
    }
    // The first allowed client asked for the link; the refused ones asked for nothing.
    ASSERT_TRUE(QTest::qWaitFor([&] { return connectRequests() >= 1; }, 5000));
    EXPECT_EQ(connectRequests(), 1);
    EXPECT_EQ(engine.frames().back().callTo, "GB7DXC");
}

TEST_F(ProgramAccessTest, RefusesToListenBeyondLoopbackWithoutAnAllowListAndSaysWhy) {
    struct Row {
        const char *settings;
        const char *address;
    };
    const Row rows[] = {
        {"Config\\ListenAddress=any\n", "any"},
        {"Config\\ListenAddress=any\nConfig\\AllowedClients=\"127.0.0.2, ::1\"\n", "any"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.settings);
        said.clear();
        ASSERT_NO_FATAL_FAILURE(start(row.settings));
        ASSERT_TRUE(program.waitForFinished(10000));
        said += program.readAllStandardError();
        EXPECT_EQ(program.exitCode(), 2);
        const QByteArray why =
            "Can't listen on local TCP port " + QByteArray::number(localPort) + ": ListenAddress is " +
            row.address +
            ", which other machines can reach, but "
            "AllowedClients names no address outside this machine. Every client connection "
            "transmits under your callsign";
        EXPECT_TRUE(said.contains(why)) << said.toStdString();
        EXPECT_EQ(said.count(why), 1) << "said once, not once as a warning and again as a message";
        EXPECT_TRUE(said.contains(config.path().toUtf8() + "/corvantle/settings.ini")) << said.toStdString();
        EXPECT_TRUE(listeningAddresses(localPort).isEmpty());
    }
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
