// The program as the service unit runs it: the real executable with --headless and --config FILE, no
// display at all, on Dire Wolf engine A; the project's cluster station GB7DXC on engine B; a telnet client on
// 127.0.0.1. A whole session over the simulated radio channel, and the end by SIGTERM as `systemctl stop`
// sends it. Run by tools/run-with-engines.sh, which starts the engines and says where they listen.
#include "ProgramUnderTest.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <signal.h>

using corvantle::test::freePort;
using corvantle::test::listeningAddresses;

namespace {

// Each engine keeps its transmitter busy for the real air time of what it sent, so the link may take a while.
constexpr int kLinkUpWaitMs = 60000;

// A process whose standard error (or merged output) is kept as it arrives.
class Watched {
  public:
    explicit Watched(QProcess::ProcessChannelMode mode) { process.setProcessChannelMode(mode); }
    ~Watched() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    QByteArray said() {
        said_ += process.readAllStandardError() + process.readAllStandardOutput();
        return said_;
    }
    bool saysWithin(const QByteArray &text, int ms) {
        return QTest::qWaitFor([&] { return said().contains(text); }, ms);
    }
    QProcess process;

  private:
    QByteArray said_;
};

// The program on engine A through its AGW port, or through its KISS port with the program's own AX.25 link
// (run-with-engines.sh --kiss-a gives engine A one).
struct EngineKind {
    const char *name;
    bool kiss;
};

class HeadlessService : public ::testing::TestWithParam<EngineKind> {};

TEST_P(HeadlessService, ASessionOverTheAirWithoutADisplayEndsCleanlyOnSigterm) {
    const QString engineA = qEnvironmentVariable("CORVANTLE_ENGINE_A_PORT");
    const QString engineB = qEnvironmentVariable("CORVANTLE_ENGINE_B_PORT");
    const QString kissA = qEnvironmentVariable("CORVANTLE_ENGINE_A_KISS_PORT");
    if (engineB.isEmpty())
        GTEST_SKIP() << "needs two engines: run through tools/run-with-engines.sh";
    if (GetParam().kiss && kissA.isEmpty())
        GTEST_SKIP() << "needs engine A's KISS port: run through tools/run-with-engines.sh --kiss-a";

    Watched cluster(QProcess::MergedChannels);
    cluster.process.start(CORVANTLE_CLUSTER_STATION,
                          {"--port", engineB, "--call", "GB7DXC", "--spot-interval", "2"});
    ASSERT_TRUE(cluster.saysWithin("READY GB7DXC", 10000)) << cluster.said().toStdString();

    // The settings file as an administrator leaves it in /etc: read-only, since nothing is saved headless.
    QTemporaryDir etc;
    const QString settings = etc.path() + "/settings.ini";
    const quint16 localPort = freePort();
    QFile file(settings);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QString("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\n"
                       "Config\\MyCallsign=N0CALL\nConfig\\Cluster=GB7DXC\nConfig\\LocalPort=%1\n"
                       "Engine\\Port=%2\n")
                   .arg(localPort)
                   .arg(engineA)
                   .toUtf8());
    if (GetParam().kiss)
        file.write(QString("Engine\\Kind=KISS\nEngine\\Kiss=127.0.0.1:%1\n").arg(kissA).toUtf8());
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    Watched program(QProcess::SeparateChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(name);
    program.process.setProcessEnvironment(environment);
    program.process.start(CORVANTLE_PROGRAM, {"--headless", "--config", settings});
    ASSERT_TRUE(program.process.waitForStarted());
    const QByteArray listening =
        "Listening for a telnet client on 127.0.0.1 port " + QByteArray::number(localPort);
    ASSERT_TRUE(program.saysWithin(listening, 10000)) << program.said().toStdString();
    EXPECT_EQ(listeningAddresses(localPort), QStringList{"0100007F"});

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, localPort);
    ASSERT_TRUE(client.waitForConnected(3000));
    QByteArray received;
    const auto receives = [&](const QByteArray &text, int ms) {
        return QTest::qWaitFor([&] { return (received += client.readAll()).contains(text); }, ms);
    };
    ASSERT_TRUE(receives("Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n", 5000))
        << received.toStdString();
    EXPECT_TRUE(received.startsWith("Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"));
    ASSERT_TRUE(receives("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWaitMs)) << received.toStdString();
    ASSERT_TRUE(receives("\r\nDX de ", 20000)) << received.toStdString(); // a spot, in a line of its own

    client.write("sh/dx\r\n");
    ASSERT_TRUE(cluster.saysWithin(R"(RX N0CALL "sh/dx \r")", 20000)) << cluster.said().toStdString();

    // The session log went to standard error, without a time in front: the journal adds its own.
    const QByteArray log = program.said();
    EXPECT_TRUE(log.contains("\nRegistered N0CALL\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("\nTelnet client connected from 127.0.0.1\n")) << log.toStdString();

    if (GetParam().kiss) {
        // The cluster ends the link on bye; the program's own link takes the DISC and tells the client.
        client.write("bye\r\n");
        ASSERT_TRUE(receives("*** DISCONNECTED From Station GB7DXC\r\n", 30000)) << received.toStdString();
        EXPECT_TRUE(cluster.saysWithin(R"(RX N0CALL "bye \r")", 1000)) << cluster.said().toStdString();
    }
    ::kill(static_cast<pid_t>(program.process.processId()), SIGTERM);
    ASSERT_TRUE(program.process.waitForFinished(10000));
    EXPECT_EQ(program.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.process.exitCode(), 0);
    // The link was dropped on the air, not left to time out.
    EXPECT_TRUE(cluster.saysWithin("DOWN N0CALL", 15000)) << cluster.said().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Engines, HeadlessService,
                         ::testing::Values(EngineKind{"Agw", false}, EngineKind{"Kiss", true}),
                         [](const ::testing::TestParamInfo<EngineKind> &info) { return info.param.name; });

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
