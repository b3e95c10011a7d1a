// Starts the real corvantle program on the offscreen platform with a prepared store and a fake engine,
// and looks at it from outside: whom it registers, where it listens, what a telnet client gets.
#include "FakeAgwServer.h"
#include "ProgramUnderTest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using corvantle::test::FakeAgwServer;
using corvantle::test::freePort;
using corvantle::test::listeningAddresses;
using corvantle::test::prepareProgram;
using corvantle::test::ProgramUnderTest;

namespace {

class ProgramStartTest : public ::testing::Test {
  protected:
    QTemporaryDir config;
    FakeAgwServer engine;
    quint16 localPort = freePort();
    ProgramUnderTest program;

    void SetUp() override {
        // The callsign stored in lower case: the engine must still see it in upper case.
        ASSERT_TRUE(prepareProgram(program, config, "n0call", localPort, engine.port()));
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        ASSERT_TRUE(program.launch(CORVANTLE_PROGRAM, {}));
    }

    // A client of the program whose link to the cluster is up.
    void connectWithLink(QTcpSocket &client) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !listeningAddresses(localPort).isEmpty(); }, 10000));
        client.connectToHost(QHostAddress::LocalHost, localPort);
        ASSERT_TRUE(client.waitForConnected(3000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return engine.frames().back().kind == 'C'; }, 5000));
        engine.send(
            {0, 'C', 0, "GB7DXC", "N0CALL", std::string("*** CONNECTED With Station GB7DXC\r\0", 35)});
        QByteArray received;
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return (received += client.readAll()).contains("CONNECTED"); }, 5000));
    }

    void TearDown() override {
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
    }
};

TEST_F(ProgramStartTest, RegistersListensOnLoopbackOnlyAndGreetsAClient) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listeningAddresses(localPort).isEmpty(); }, 10000));
    EXPECT_EQ(listeningAddresses(localPort), QStringList{"0100007F"}); // 127.0.0.1, nothing else

    const auto registration = engine.frames(1);
    ASSERT_FALSE(registration.empty());
    EXPECT_EQ(registration[0].kind, 'X');
    EXPECT_EQ(registration[0].callFrom, "N0CALL"); // the engine only takes upper-case calls

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, localPort);
    ASSERT_TRUE(client.waitForConnected(3000));
    QByteArray greeting;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (greeting += client.readAll()).count('\n') >= 2; }, 5000));
    EXPECT_EQ(greeting, "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                        "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.frames().back().kind == 'C'; }, 5000));
    EXPECT_EQ(engine.frames().back().callTo, "GB7DXC");

    // The link comes up and the cluster sends a spot: it reaches the client although the callsign is
    // stored in lower case and the engine reports it in upper case.
    engine.send({0, 'C', 0, "GB7DXC", "N0CALL", std::string("*** CONNECTED With Station GB7DXC\r\0", 35)});
    const std::string spot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";
    engine.send({0, 'D', 0xF0, "GB7DXC", "N0CALL", spot});
    const QByteArray expected =
        "*** CONNECTED With Station GB7DXC\r\n" + QByteArray::fromStdString(spot).replace("\r", "\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return (greeting += client.readAll()).contains(expected); }, 5000))
        << greeting.toStdString();
}

// A client that reads nothing while the cluster floods it: its session ends at the program's bound, the
// engine is read all the while, and the program serves the next client.
TEST_F(ProgramStartTest, AClientThatStopsReadingIsEndedAndTheProgramCarriesOn) {
    QTcpSocket client;
    ASSERT_NO_FATAL_FAILURE(connectWithLink(client));

    // 20 MB of cluster text; the test's own client socket reads nothing meanwhile.
    const std::string line = std::string(1999, 'x') + "\r";
    std::string burst;
    for (int i = 0; i < 100; ++i)
        burst += corvantle::agw::encode({0, 'D', 0xF0, "GB7DXC", "N0CALL", line});
    for (int i = 0; i < 100; ++i)
        engine.send(burst);

    const auto sawDisconnect = [&] {
        for (const corvantle::agw::Frame &frame : engine.frames())
            if (frame.kind == 'd' && frame.callTo == "GB7DXC")
                return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(sawDisconnect, 10000)) << "the session was not ended";
    // What the client did get is whole lines; then the program closed the connection.
    QByteArray received;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            received += client.readAll();
            return client.state() == QAbstractSocket::UnconnectedState;
        },
        20000));
    received += client.readAll();
    EXPECT_LT(received.size(), 20 * 1000 * 1000);

    QTcpSocket next;
    next.connectToHost(QHostAddress::LocalHost, localPort);
    ASSERT_TRUE(next.waitForConnected(3000));
    QByteArray greeting;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (greeting += next.readAll()).count('\n') >= 2; }, 5000));
}

// Another program already holds the local port. The program names the port on standard error (and in a
// box that waits for the user's click, then ends the program) and does not go on to listen, even once the
// port is free.
TEST_F(ProgramStartTest, ALocalPortTakenAtStartIsNamedAndNeverListenedOn) {
    program.terminate();
    program.waitForFinished(5000);
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, localPort)) << squatter.errorString().toStdString();

    QProcess blocked;
    blocked.setProcessEnvironment(program.processEnvironment());
    blocked.start(CORVANTLE_PROGRAM, {});
    ASSERT_TRUE(blocked.waitForStarted());
    const QByteArray complaint = "Can't listen on local TCP port " + QByteArray::number(localPort) + ": ";
    QByteArray said;
    const bool named =
        QTest::qWaitFor([&] { return (said += blocked.readAllStandardError()).contains(complaint); }, 10000);
    squatter.close();
    QTest::qWait(1500); // three ticks' worth, had the tick been started
    const QStringList listeners = listeningAddresses(localPort);
    blocked.kill();
    blocked.waitForFinished(5000);
    ASSERT_TRUE(named) << said.toStdString();
    EXPECT_TRUE(listeners.isEmpty()) << listeners.join(' ').toStdString();
}

// Logout, `systemctl stop` and Ctrl-C run the same shutdown as closing the window.
TEST_F(ProgramStartTest, TerminationSignalsDropTheLinkUnregisterAndExitCleanly) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        if (program.state() == QProcess::NotRunning) {
            ASSERT_TRUE(program.launch(CORVANTLE_PROGRAM, {}));
        }
        QTcpSocket client;
        ASSERT_NO_FATAL_FAILURE(connectWithLink(client));
        const std::size_t before = engine.frames().size();

        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(10000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        std::string kinds;
        for (const corvantle::agw::Frame &frame : engine.frames(before + 2))
            kinds += frame.kind;
        EXPECT_NE(kinds.find("dx", before), std::string::npos) << kinds; // the link's 'd', then unregistered
    }
}

// --verbose puts the session log on standard error; --verbose=frames adds every AGW frame.
TEST_F(ProgramStartTest, VerboseLogsTheSessionAndOptionallyEveryFrame) {
    program.terminate();
    program.waitForFinished(5000);
    for (const QString &option : {QStringLiteral("--verbose"), QStringLiteral("--verbose=frames")}) {
        SCOPED_TRACE(option.toStdString());
        QProcess verbose;
        verbose.setProcessEnvironment(program.processEnvironment());
        verbose.start(CORVANTLE_PROGRAM, {option});
        ASSERT_TRUE(verbose.waitForStarted());
        QByteArray said;
        const bool listening = QTest::qWaitFor(
            [&] {
                return (said += verbose.readAllStandardError()).contains("Listening for a telnet client");
            },
            10000);
        verbose.terminate();
        verbose.waitForFinished(5000);
        said += verbose.readAllStandardError();
        ASSERT_TRUE(listening) << said.toStdString();
        EXPECT_TRUE(
            QRegularExpression("\\d\\d:\\d\\d:\\d\\d Registered N0CALL").match(QString(said)).hasMatch())
            << said.toStdString();
        EXPECT_EQ(said.contains("AGW> X port 0 N0CALL"), option.endsWith("frames")) << said.toStdString();
    }
}

// Before the window is shown (the engine has not answered the registration yet, or a start-up box waits for
// its OK), a signal runs the same shutdown and the program ends with status 0.
TEST(ProgramStartSignals, ASignalBeforeTheWindowIsShownEndsTheProgramCleanly) {
    struct Row {
        const char *name;
        corvantle::test::Registration registration;
        QByteArray settings; // added to the store
    };
    const Row rows[] = {
        {"the registration unanswered", corvantle::test::Registration::Ignore, ""},
        {"a start-up box open", corvantle::test::Registration::Accept, "Config\\RadioPort=abc\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir config;
        FakeAgwServer engine(row.registration);
        ProgramUnderTest program;
        ASSERT_TRUE(prepareProgram(program, config, "N0CALL", freePort(), engine.port()));
        QFile store(config.path() + "/corvantle/settings.ini");
        ASSERT_TRUE(store.open(QIODevice::Append));
        store.write(row.settings);
        store.close();
        ASSERT_TRUE(program.launch(CORVANTLE_PROGRAM, {}));
        if (row.settings.isEmpty()) {
            ASSERT_FALSE(engine.frames(1, std::chrono::milliseconds(10000)).empty());
        } else {
            QByteArray said;
            // Logged just before the box opens; the signal is handled in the box's own event loop.
            ASSERT_TRUE(QTest::qWaitFor(
                [&] { return (said += program.readAllStandardError()).contains("RadioPort"); }, 10000));
        }
        ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(5000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
    }
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
