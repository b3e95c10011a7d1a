// A telnet client that vanishes without a FIN or a reset, as a laptop whose Wi-Fi drops: the real program,
// headless against a fake engine, must find it out, free its place for the next client and take the radio
// link down, on a quiet link and while spots go out to the vanished client alike.
//
// The test makes a network of its own: it moves itself into a network namespace (so nothing it does is seen
// by the rest of the machine), and the client lives in a second namespace joined to the first by a veth
// pair. Taking the client's end of the pair down makes it vanish: nothing it sent or would send arrives any
// more. This needs root (as CI has); elsewhere the test is skipped, saying why.
//
// The program's keepalive is shortened for the test (CORVANTLE_TEST_KEEPALIVE); with
// CORVANTLE_VANISH_REAL_TIMERS=1 in the environment the test keeps the program's own timers and prints how
// long the place stayed taken.
#include "FakeAgwServer.h"
#include "ProgramUnderTest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

using corvantle::test::FakeAgwServer;
using corvantle::test::freePort;
using corvantle::test::prepareProgram;
using corvantle::test::ProgramUnderTest;

namespace {

constexpr const char *kServerAddress = "10.77.0.1";
constexpr const char *kClientAddress = "10.77.0.2";

bool run(const QString &program, const QStringList &arguments, QString *why = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok && why != nullptr)
        *why = program + " " + arguments.join(' ') + ": " + QString::fromUtf8(process.readAll()).trimmed();
    return ok;
}

// The client's network: a namespace held open by a sleeping process, joined to the test's own namespace
// by a veth pair, 10.77.0.1 on the test's side and 10.77.0.2 on the client's.
class ClientNetwork final {
  public:
    ~ClientNetwork() {
        holder_.kill();
        holder_.waitForFinished(5000);
        if (namespaceFd_ >= 0)
            ::close(namespaceFd_);
    }

    // Empty when the network is up; otherwise why not.
    QString make() {
        if (::geteuid() != 0)
            return "needs root, for network namespaces";
        for (const char *tool : {"ip", "unshare", "nsenter"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return QString("needs the %1 command").arg(tool);
        if (::unshare(CLONE_NEWNET) != 0)
            return QString("cannot make a network namespace: ") + std::strerror(errno);
        QString why;
        if (!run("ip", {"link", "set", "lo", "up"}, &why))
            return why;
        holder_.start("unshare", {"--net", "sleep", "3600"});
        if (!holder_.waitForStarted(5000))
            return "cannot start the client's namespace";
        const QString pid = QString::number(holder_.processId());
        // unshare makes the namespace, then becomes sleep: wait until the namespace is there.
        QTest::qWaitFor([&] { return inOwnNamespace(pid); }, 5000);
        const QStringList inClient = {"-t", pid, "-n", "ip"};
        if (!run("ip", {"link", "add", "cvsrv", "type", "veth", "peer", "name", "cvcli", "netns", pid},
                 &why) ||
            !run("ip", {"addr", "add", QString(kServerAddress) + "/24", "dev", "cvsrv"}, &why) ||
            !run("ip", {"link", "set", "cvsrv", "up"}, &why) ||
            !run("nsenter",
                 inClient + QStringList{"addr", "add", QString(kClientAddress) + "/24", "dev", "cvcli"},
                 &why) ||
            !run("nsenter", inClient + QStringList{"link", "set", "cvcli", "up"}, &why))
            return why;
        namespaceFd_ = ::open(QString("/proc/%1/ns/net").arg(pid).toUtf8().constData(), O_RDONLY | O_CLOEXEC);
        pid_ = pid;
        return namespaceFd_ >= 0 ? QString() : "cannot open the client's namespace";
    }

    // A TCP connection from the client's namespace to `port` on the test's side, made by this thread
    // stepping into that namespace for the connect only.
    bool connectFromClient(QTcpSocket &socket, quint16 port) {
        const int own = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (own < 0 || ::setns(namespaceFd_, CLONE_NEWNET) != 0)
            return false;
        const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        ::inet_pton(AF_INET, kServerAddress, &to.sin_addr);
        const bool connected =
            descriptor >= 0 && ::connect(descriptor, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
        const bool back = ::setns(own, CLONE_NEWNET) == 0;
        ::close(own);
        if (!connected || !back) {
            if (descriptor >= 0)
                ::close(descriptor);
            return false;
        }
        return socket.setSocketDescriptor(descriptor);
    }

    // Down: the client's cable pulled; its packets no longer arrive, and nothing tells the program.
    bool setClientLink(bool up) {
        QString why;
        const bool done =
            run("nsenter", {"-t", pid_, "-n", "ip", "link", "set", "cvcli", up ? "up" : "down"}, &why);
        EXPECT_TRUE(done) << why.toStdString();
        return done;
    }

  private:
    static bool inOwnNamespace(const QString &pid) {
        return QFile::symLinkTarget("/proc/" + pid + "/ns/net") != QFile::symLinkTarget("/proc/self/ns/net");
    }

    QProcess holder_;
    int namespaceFd_ = -1;
    QString pid_;
};

bool realTimers() {
    return qEnvironmentVariable("CORVANTLE_VANISH_REAL_TIMERS") == "1";
}

class VanishedClientTest : public ::testing::TestWithParam<bool> {
  protected:
    static void SetUpTestSuite() {
        network_ = new ClientNetwork;
        whyNot_ = new QString(network_->make());
    }
    static void TearDownTestSuite() {
        delete network_;
        delete whyNot_;
    }

    void SetUp() override {
        if (!whyNot_->isEmpty())
            GTEST_SKIP() << "a client that vanishes " << whyNot_->toStdString();
        ASSERT_TRUE(network_->setClientLink(true)); // after an earlier test's client vanished
        engine = std::make_unique<FakeAgwServer>();
        ASSERT_TRUE(prepareProgram(program, config, "N0CALL", localPort, engine->port()));
        QFile store(config.path() + "/corvantle/settings.ini");
        ASSERT_TRUE(store.open(QIODevice::Append));
        store.write(
            QString("Config\\ListenAddress=any\nConfig\\AllowedClients=%1\n").arg(kClientAddress).toUtf8());
        store.close();
        program.withoutDisplay();
        QProcessEnvironment environment = program.processEnvironment();
        if (!realTimers())
            environment.insert("CORVANTLE_TEST_KEEPALIVE", "2,1,3"); // given up after 5 s
        program.setProcessEnvironment(environment);
        ASSERT_TRUE(program.launch(CORVANTLE_PROGRAM, {"--headless"}));
        ASSERT_TRUE(saidWithin("Listening for a telnet client on any port", 10000)) << said.toStdString();
    }

    bool saidWithin(const QByteArray &text, int ms) {
        return QTest::qWaitFor([&] { return (said += program.readAllStandardError()).contains(text); }, ms);
    }

    int framesOfKind(char kind) {
        int count = 0;
        for (const corvantle::agw::Frame &frame : engine->frames())
            count += frame.kind == kind && frame.callTo == "GB7DXC";
        return count;
    }

    static ClientNetwork *network_;
    static QString *whyNot_;
    QTemporaryDir config;
    std::unique_ptr<FakeAgwServer> engine;
    quint16 localPort = freePort();
    ProgramUnderTest program;
    QByteArray said;
};

ClientNetwork *VanishedClientTest::network_ = nullptr;
QString *VanishedClientTest::whyNot_ = nullptr;

// With Clients=1 the vanished client's place is the only one: the next client gets it once the vanished one
// is found out, and the link it held is taken down meanwhile.
TEST_P(VanishedClientTest, AVanishedClientIsFoundOutAndItsPlaceAndLinkAreFreed) {
    const bool spotsFlow = GetParam();
    QTcpSocket laptop;
    ASSERT_TRUE(network_->connectFromClient(laptop, localPort));
    QByteArray received;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (received += laptop.readAll()).contains("Please Wait"); }, 5000))
        << received.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return framesOfKind('C') == 1; }, 5000));
    engine->send({0, 'C', 0, "GB7DXC", "N0CALL", std::string("*** CONNECTED With Station GB7DXC\r\0", 35)});
    ASSERT_TRUE(QTest::qWaitFor([&] { return (received += laptop.readAll()).contains("CONNECTED"); }, 5000));

    ASSERT_TRUE(network_->setClientLink(false));
    QElapsedTimer sinceVanished;
    sinceVanished.start();
    const int boundMs = realTimers() ? 200000 : 20000;
    const std::string spot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";
    QElapsedTimer sinceSpot;
    sinceSpot.start();
    const bool left = QTest::qWaitFor(
        [&] {
            // While spots go out, retransmission, not keepalive, is what runs on the connection.
            if (spotsFlow && sinceSpot.elapsed() >= 500) {
                engine->send({0, 'D', 0xF0, "GB7DXC", "N0CALL", spot});
                sinceSpot.restart();
            }
            return (said += program.readAllStandardError()).contains("Telnet client left");
        },
        boundMs);
    const double seconds = static_cast<double>(sinceVanished.elapsed()) / 1000.0;
    ASSERT_TRUE(left) << "the vanished client still holds its place after " << seconds << " s\n"
                      << said.toStdString();
    std::cout << "the vanished client left " << seconds << " s after its link went down\n";
    // Found out by the keepalive (or the bound on unacknowledged data), not by anything quicker or slower.
    if (!realTimers()) {
        EXPECT_GE(seconds, 2.0);
        EXPECT_LE(seconds, 15.0);
    }
    // The last client's going takes the link down, as when a client leaves.
    ASSERT_TRUE(QTest::qWaitFor([&] { return framesOfKind('d') == 1; }, 5000));
    engine->send(
        {0, 'd', 0, "GB7DXC", "N0CALL", std::string("*** DISCONNECTED From Station GB7DXC\r\0", 38)});

    // Its place is free: the next client is greeted and asks for a link of its own.
    QTcpSocket next;
    next.connectToHost(QHostAddress::LocalHost, localPort);
    ASSERT_TRUE(next.waitForConnected(3000));
    QByteArray greeting;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (greeting += next.readAll()).contains("Please Wait"); }, 5000))
        << greeting.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return framesOfKind('C') == 2; }, 5000));
}

INSTANTIATE_TEST_SUITE_P(Link, VanishedClientTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return std::string(info.param ? "WhileSpotsGoOut" : "Quiet");
                         });

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
