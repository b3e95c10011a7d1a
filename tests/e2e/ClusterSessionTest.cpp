// Whole cluster sessions over the air: the bridge (the real Qt socket side and the real engine library) on
// Dire Wolf engine A, the project's cluster station GB7DXC on engine B, the two joined by a simulated radio
// channel, and a real TCP client on 127.0.0.1. Run by tools/run-with-engines.sh, which starts the engines
// and says where they listen.
#include "OverTheAir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

using namespace corvantle;
using namespace corvantle::test;
using namespace corvantle::test::over_the_air;
using namespace std::chrono_literals;

namespace {

// Another station with its own engine client, recording the frames it is handed.
class Station final : public EngineListener {
  public:
    explicit Station(const char *portVariable)
        : engine(settings::EngineAddress{"127.0.0.1",
                                         static_cast<std::uint16_t>(environment(portVariable).toUInt())}) {
        engine.setListener(this);
    }
    void frameArrived(const EngineFrame &frame) override { kinds.push_back(frame.kind); }
    void readyForData() override {}
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override { ++closes; }
    bool saw(FrameKind kind) const { return std::find(kinds.begin(), kinds.end(), kind) != kinds.end(); }
    // Registers and waits for the answer, as the bridge does.
    bool registered(const std::string &call, const std::string &program) {
        engine.registerCallsign(call, program);
        return QTest::qWaitFor([&] { return !answers.empty(); }, 10000) && answers.back();
    }
    // Closes and waits until the engine has let go.
    void close() {
        engine.close();
        (void)QTest::qWaitFor([&] { return closes > 0; }, 10000);
    }

    AgwEngine engine;
    std::vector<FrameKind> kinds;
    std::vector<bool> answers;
    int closes = 0;
};

// Engine A killed outright and started again the way run-with-engines.sh starts it: same configuration,
// same AGW port, same end of the radio channel. The new engine outlives the test, so later tests still have
// one; it carries the run's CORVANTLE_ENGINE_DIR, so run-with-engines.sh stops it at the end.
class EngineARestart {
  public:
    EngineARestart() : dir_(environment("CORVANTLE_ENGINE_DIR")) {}
    ~EngineARestart() {
        if (channelFromB_ >= 0)
            ::close(channelFromB_);
    }

    bool kill() {
        // While A is gone, B's transmitter must still find a reader on its FIFO, or its writes fail; what it
        // sends meanwhile is read here and dropped, as the air would drop it.
        channelFromB_ = ::open(path("ba.fifo").constData(), O_RDWR | O_NONBLOCK);
        if (channelFromB_ < 0)
            return false;
        drain_ = std::make_unique<QSocketNotifier>(channelFromB_, QSocketNotifier::Read);
        QObject::connect(drain_.get(), &QSocketNotifier::activated, [this] {
            char buffer[4096];
            while (::read(channelFromB_, buffer, sizeof buffer) > 0) {
            }
        });
        const pid_t pid = enginePid();
        return pid > 0 && ::kill(pid, SIGKILL) == 0;
    }

    bool start() {
        drain_.reset();
        const int readyBefore = readyLines();
        const QString command = "HOME=\"$PWD/home-a\" exec direwolf -c a.conf -t 0 - 0<>ba.fifo >>a.log 2>&1";
        qint64 pid = 0;
        if (!QProcess::startDetached("bash", {"-c", command}, dir_, &pid))
            return false;
        QFile pidFile(dir_ + "/a.pid");
        if (!pidFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        pidFile.write(QByteArray::number(pid) + "\n");
        return QTest::qWaitFor([&] { return readyLines() > readyBefore; }, 20000);
    }

  private:
    QByteArray path(const char *name) const { return QFile::encodeName(dir_ + "/" + name); }
    pid_t enginePid() const {
        QFile pidFile(dir_ + "/a.pid");
        return pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toInt() : -1;
    }
    int readyLines() const {
        QFile log(dir_ + "/a.log");
        return log.open(QIODevice::ReadOnly)
                   ? static_cast<int>(log.readAll().count("Ready to accept AGW client application 0"))
                   : 0;
    }

    QString dir_;
    int channelFromB_ = -1;
    std::unique_ptr<QSocketNotifier> drain_;
};

class ClusterSessionTest : public ::testing::Test {
  protected:
    explicit ClusterSessionTest(const char *spotIntervalSeconds = "2") : cluster(spotIntervalSeconds) {}
    void SetUp() override {
        if (environment("CORVANTLE_ENGINE_B_PORT").isEmpty())
            GTEST_SKIP() << "needs two engines: run through tools/run-with-engines.sh";
        // A connect that reaches engine B before the station registered there is never answered.
        ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 10000));
    }
    // The bridge is gone by now. Its disconnect request takes a moment on the air; the cluster holds no stale
    // session for a test that runs next on the same engines.
    void TearDown() override {
        const auto linksOf = [&](const char *what) {
            return cluster.log().filter(QRegularExpression(QString("^") + what + " N0CALL$")).size();
        };
        if (!QTest::qWaitFor([&] { return linksOf("DOWN") >= linksOf("UP"); }, 10000))
            std::cout << "the cluster still holds a link to N0CALL\n";
    }
    ClusterStation cluster;
};

// The frames that engine B heard carrying data from N0CALL to the cluster, retransmissions included.
int dataFramesFromN0call() {
    QFile log(environment("CORVANTLE_ENGINE_DIR") + "/b.log");
    return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count("N0CALL>GB7DXC:(I ")) : 0;
}

// Tests whose point is the air time: run on engines with Dire Wolf's default timings (see
// tests/e2e/CMakeLists.txt), with a cluster that sends no spots meanwhile, so that its answers have the
// channel to themselves. Each prints what it measured.
class AirTimeTest : public ClusterSessionTest {
  protected:
    AirTimeTest() : ClusterSessionTest("3600") {}
};

// A logging program's login, ten lines in one write: the lines share one frame on the air.
TEST_F(AirTimeTest, ATenLineLoginWrittenAtOnceGoesInOneFrame) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait))
        << client.received().data();

    const QByteArray lines[] = {"set/name Pat", "set/qth Leeds", "set/qra IO93fs", "set/page 30",
                                "set/nobeep",   "unset/talk",    "set/wcy",        "sh/dx 5",
                                "sh/wwv",       "sh/announce/3"};
    QByteArray login;
    std::vector<std::string> expected;
    for (const QByteArray &line : lines) {
        login += line + "\r\n";
        expected.push_back(line.toStdString() + " \r");
    }
    ASSERT_EQ(login.size(), 123);
    const int framesBefore = dataFramesFromN0call();
    QElapsedTimer clock;
    clock.start();
    client.type(login);
    const auto lastArrived = [&] { return cluster.logged(R"(RX N0CALL "sh/announce/3 \r")"); };
    ASSERT_TRUE(QTest::qWaitFor(lastArrived, 60000))
        << cluster.texts("RX N0CALL ").size() << " lines arrived";
    const int frames = dataFramesFromN0call() - framesBefore;
    std::cout << "a ten-line login of 123 bytes reached the cluster in " << clock.elapsed() << " ms, in "
              << frames << " frames\n";
    EXPECT_EQ(cluster.texts("RX N0CALL "), expected);
    EXPECT_EQ(frames, 1);
}

// A block of numbered lines pasted into the client reaches the cluster line by line: each once, in order,
// with the radio's line end. The cluster answers every line, and those answers take most of the air time,
// so the lines are short.
TEST_F(AirTimeTest, TwoHundredNumberedLinesFromTheClientArriveOnceAndInOrder) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait))
        << client.received().data();

    QByteArray block;
    std::vector<std::string> expected;
    for (int i = 1; i <= 200; ++i) {
        const QByteArray line = QByteArray::number(i).rightJustified(3, '0');
        block += line + "\r\n";
        expected.push_back(line.toStdString() + " \r");
    }
    const int framesBefore = dataFramesFromN0call();
    QElapsedTimer clock;
    clock.start();
    client.type(block);
    const auto lastArrived = [&] { return cluster.logged(R"(RX N0CALL "200 \r")"); };
    ASSERT_TRUE(QTest::qWaitFor(lastArrived, 300000))
        << cluster.texts("RX N0CALL ").size() << " lines arrived";
    const int frames = dataFramesFromN0call() - framesBefore;
    std::cout << "200 numbered lines from the client crossed the radio channel in " << clock.elapsed()
              << " ms, in " << frames << " frames\n";
    EXPECT_EQ(cluster.texts("RX N0CALL "), expected);
    // Lines that wait together share frames: far fewer frames than lines.
    EXPECT_LT(frames, 50);
}

TEST_F(ClusterSessionTest, SpotsArriveOnceAndCommandsReachTheCluster) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    auto client = std::make_unique<Client>(bridge.localPort);
    ASSERT_TRUE(client->connected);
    ASSERT_TRUE(client->waitFor(kGreeting, 2s));
    EXPECT_TRUE(client->received().startsWith(kGreeting));

    ASSERT_TRUE(client->waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait))
        << client->received().data();
    EXPECT_EQ(bridge.window.statusText, "Status: Connected");
    // The greeting is several lines; wait for spots proper, which come every 2 s.
    const auto spotsSent = [&] {
        std::vector<QByteArray> spots;
        for (const std::string &line : cluster.texts("TX N0CALL "))
            if (line.rfind("DX de ", 0) == 0)
                spots.push_back(QByteArray::fromStdString(line).replace("\r", "\r\n"));
        return spots;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return spotsSent().size() >= 3; }, 20000));

    client->type("sh/dx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx \r")"); }, 10000))
        << cluster.log().join('\n').toStdString();
    bridge.bridge.applySettings([&] {
        BridgeState next = bridge.bridge.state();
        next.compatibilityMode = true;
        return next;
    }());
    client->type("sh/dx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx\r")"); }, 10000));

    // Every spot the cluster sent reaches the client exactly once, byte for byte, with telnet line ends.
    // The last ones may still be on their way over the radio.
    const std::vector<QByteArray> spots = spotsSent();
    ASSERT_GE(spots.size(), 3u);
    const auto allArrived = [&] {
        return std::all_of(spots.begin(), spots.end(),
                           [&](const QByteArray &spot) { return client->received().contains(spot); });
    };
    EXPECT_TRUE(QTest::qWaitFor(allArrived, 30000)) << client->received().data();
    for (const QByteArray &spot : spots)
        EXPECT_EQ(client->received().count(spot), 1) << spot.data();
    EXPECT_EQ(client->received().count('\0'), 0);

    client->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 15000))
        << cluster.log().join('\n').toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.window.statusText == "Status: Disconnected"; }, 20000));

    Client next(bridge.localPort);
    ASSERT_TRUE(next.connected);
    EXPECT_TRUE(next.waitFor(kGreeting, 2s));
    ASSERT_TRUE(next.waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait));
    next.type("bye\r\n");
    // The station gives its goodbye up to 10 s to be delivered before it ends the link.
    EXPECT_TRUE(next.waitFor("*** DISCONNECTED From Station GB7DXC\r\n", 40s)) << next.received().data();
}

TEST_F(ClusterSessionTest, MonitorModePassesOnWhatTheClusterSendsAnotherStation) {
    BridgeOnEngineA bridge(Config{{"MonitorMode", "True"}});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor("Monitoring GB7DXC DX Cluster Station...\r\n", 2s));
    EXPECT_EQ(bridge.window.statusText, "Status: Monitoring");

    // A third station on engine A works the cluster itself.
    Station third("CORVANTLE_ENGINE_A_PORT");
    ASSERT_TRUE(third.registered("G4XYZ", "third station"));
    ASSERT_EQ(third.engine.connect("GB7DXC", {}, 0), "");

    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.texts("TX G4XYZ ").size() >= 3; }, 20000));
    const std::string greeting = cluster.texts("TX G4XYZ ").front();
    EXPECT_TRUE(client.waitFor(QByteArray::fromStdString(greeting).replace("\r", "\r\n"), 15s))
        << client.received().data();

    client.type("sh/dx\r\n");
    // The client's line crosses loopback into this event loop long before the third station's command has
    // crossed the air: once the cluster has that command, whatever the bridge might have sent or asked for in
    // answer to the line would have been on the air too.
    third.engine.sendData("GB7DXC", "sh/wwv\r", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX G4XYZ "sh/wwv\r")"); }, 20000))
        << cluster.log().join('\n').toStdString();
    EXPECT_TRUE(cluster.texts("RX N0CALL ").empty());
    EXPECT_FALSE(cluster.logged("UP N0CALL"));
    QFile engineLog(environment("CORVANTLE_ENGINE_DIR") + "/a.log");
    ASSERT_TRUE(engineLog.open(QIODevice::ReadOnly));
    EXPECT_FALSE(engineLog.readAll().contains("N0CALL>GB7DXC:(SABM")) << "the bridge asked for a link";
    third.engine.disconnect("GB7DXC", 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN G4XYZ"); }, 20000));
    third.close();
}

// Anyone on the channel can connect to the user's callsign. Such a link is taken down and nothing of it
// reaches the logging program, while the cluster session goes on.
TEST_F(ClusterSessionTest, AStrangerWhoConnectsDuringASessionIsTurnedAwayUnseen) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait))
        << client.received().data();

    Station stranger("CORVANTLE_ENGINE_B_PORT");
    ASSERT_TRUE(stranger.registered("G4XYZ", "stranger"));
    ASSERT_EQ(stranger.engine.connect("N0CALL", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return stranger.saw(FrameKind::LinkUp); }, 15000));
    stranger.engine.sendData("N0CALL", "DX de G4XYZ:     14000.0  FAKE1        fake spot      0000Z\r", 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return stranger.saw(FrameKind::LinkDown); }, 20000))
        << "the stranger's link stayed up";

    client.type("sh/dx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx \r")"); }, 15000));
    EXPECT_TRUE(client.waitFor("N0CALL de GB7DXC >", 15s));
    EXPECT_FALSE(client.received().contains("G4XYZ")) << client.received().data();
    EXPECT_FALSE(client.received().contains("FAKE1"));
    EXPECT_EQ(bridge.window.statusText, "Status: Connected");
    EXPECT_TRUE(bridge.bridge.linkUp());
    stranger.close();
}

// Two programs share the link. The cluster ends it (one of them says "bye"); the bridge asks for it again by
// itself, and the next spot reaches each program once.
TEST_F(ClusterSessionTest, TwoClientsShareALinkThatComesBackAfterTheClusterEndsIt) {
    BridgeOnEngineA bridge(Config{{"Relink", "True"}, {"Clients", "2"}});
    ASSERT_TRUE(bridge.loaded);
    const QByteArray connected = "*** CONNECTED With Station GB7DXC\r\n";
    Client first(bridge.localPort);
    ASSERT_TRUE(first.waitFor(connected, kLinkUpWait)) << first.received().data();
    Client second(bridge.localPort);
    ASSERT_TRUE(second.connected);
    ASSERT_TRUE(
        second.waitFor("Joining the session with GB7DXC DX Cluster Station (2 clients)\r\n" + connected, 5s))
        << second.received().data();

    first.type("bye\r\n");
    for (Client *client : {&first, &second})
        ASSERT_TRUE(client->waitFor(
            "*** DISCONNECTED From Station GB7DXC\r\nReconnecting to GB7DXC in 10 s...\r\n", 40s))
            << client->received().data();
    EXPECT_EQ(bridge.window.statusText, "Status: Reconnecting");

    const auto relinked = [&] {
        return first.received().count(connected) == 2 && second.received().count(connected) == 2;
    };
    ASSERT_TRUE(QTest::qWaitFor(relinked, 30000)) << first.received().data();
    EXPECT_EQ(bridge.window.statusText, "Status: Connected");
    const std::size_t sentBefore = cluster.texts("TX N0CALL ").size();

    std::string spot;
    const auto nextSpot = [&] {
        const std::vector<std::string> sent = cluster.texts("TX N0CALL ");
        for (std::size_t i = sentBefore; i < sent.size() && spot.empty(); ++i)
            if (sent[i].rfind("DX de ", 0) == 0)
                spot = sent[i];
        return !spot.empty();
    };
    ASSERT_TRUE(QTest::qWaitFor(nextSpot, 20000)) << cluster.log().join('\n').toStdString();
    const QByteArray line = QByteArray::fromStdString(spot).replace("\r", "\r\n");
    for (Client *client : {&first, &second}) {
        EXPECT_TRUE(client->waitFor(line, 15s)) << client->received().data();
        EXPECT_EQ(client->received().count(line), 1) << client->received().data();
    }
    EXPECT_EQ(cluster.log().filter(QRegularExpression("^UP N0CALL")).size(), 2);
}

// A burst from the cluster, packed into frames the way a node packs it, arrives whole and in order.
TEST_F(ClusterSessionTest, TwoHundredNumberedLinesArriveOnceAndInOrder) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait))
        << client.received().data();

    QElapsedTimer clock;
    clock.start();
    client.type("count 200\r\n");
    ASSERT_TRUE(client.waitFor("LINE 0200 of 0200\r\n", 120s)) << client.received().data();
    std::cout << "200 numbered lines crossed the radio channel in " << clock.elapsed() << " ms\n";

    const QByteArray received = client.received();
    qsizetype previous = -1;
    for (int i = 1; i <= 200; ++i) {
        const QByteArray line =
            QByteArray("LINE ") + QByteArray::number(i).rightJustified(4, '0') + " of 0200\r\n";
        EXPECT_EQ(received.count(line), 1) << line.data();
        const qsizetype at = received.indexOf(line);
        EXPECT_GT(at, previous) << line.data();
        // Each line begins a line of its own: nothing else was joined to its front.
        EXPECT_TRUE(at == 0 || received[at - 1] == '\n') << line.data();
        previous = at;
    }
}

TEST_F(ClusterSessionTest, ConnectThroughDigipeatersGoesOutWithTheirPath) {
    BridgeOnEngineA bridge(Config{{"ConnectViaDigi", "True"}, {"Digis", "RELAY1,RELAY2"}});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor(kGreeting, 2s));

    QFile engineLog(environment("CORVANTLE_ENGINE_DIR") + "/a.log");
    const auto pathSent = [&] {
        engineLog.open(QIODevice::ReadOnly);
        const bool found = engineLog.readAll().contains("N0CALL>GB7DXC,RELAY1,RELAY2:(SABM");
        engineLog.close();
        return found;
    };
    EXPECT_TRUE(QTest::qWaitFor(pathSent, 10000));
}

// The engine under the bridge dies in the middle of a session and comes back. The client hears that the link
// went down and that it comes back with the engine; the bridge registers again by itself and asks for the
// link for the client that stayed, and the session works both ways again without the client doing anything.
TEST_F(ClusterSessionTest, AnEngineKilledInASessionGivesTheClientThatStayedItsLinkBack) {
    std::vector<std::string> libraryNotes;
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    bridge.engine.setLog([&](const std::string &line) { libraryNotes.push_back(line); }, {});
    const QByteArray connected = "*** CONNECTED With Station GB7DXC\r\n";
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor(connected, kLinkUpWait)) << client.received().data();

    EngineARestart engineA;
    ASSERT_TRUE(engineA.kill());
    const QByteArray lost =
        "*** DISCONNECTED From Station GB7DXC\r\n"
        "*** The packet engine is not reachable yet: connecting to GB7DXC once it is back\r\n";
    EXPECT_TRUE(client.waitFor(lost, 10s)) << client.received().data();
    EXPECT_EQ(bridge.window.statusText, "Status: Disconnected");
    EXPECT_FALSE(bridge.bridge.linkUp());
    client.type("sh/dx\r\n"); // held until the link is back

    ASSERT_TRUE(engineA.start());
    const auto registeredAgain = [&] {
        return std::any_of(libraryNotes.begin(), libraryNotes.end(), [](const std::string &line) {
            return line.find(" is back") != std::string::npos;
        });
    };
    ASSERT_TRUE(QTest::qWaitFor(registeredAgain, 30000));
    const auto connectedAgain = [&] { return client.received().count(connected) == 2; };
    ASSERT_TRUE(QTest::qWaitFor(connectedAgain, std::chrono::milliseconds(kLinkUpWait).count()))
        << client.received().data();
    EXPECT_EQ(bridge.window.statusText, "Status: Connected");
    EXPECT_EQ(client.received().count("Not sent"), 0) << client.received().data();

    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx \r")"); }, 20000))
        << cluster.log().join('\n').toStdString();
    // A spot the cluster sent on the new link reaches the client once.
    std::string spot;
    const auto spotOnNewLink = [&] {
        const QStringList log = cluster.log();
        const qsizetype linkUp = log.lastIndexOf(QRegularExpression("^UP N0CALL"));
        for (qsizetype i = linkUp + 1; linkUp >= 0 && i < log.size() && spot.empty(); ++i)
            if (log[i].startsWith(R"(TX N0CALL "DX de )"))
                spot = unescape(log[i].mid(10));
        return !spot.empty();
    };
    ASSERT_TRUE(QTest::qWaitFor(spotOnNewLink, 20000)) << cluster.log().join('\n').toStdString();
    const QByteArray line = QByteArray::fromStdString(spot).replace("\r", "\r\n");
    EXPECT_TRUE(client.waitFor(line, 30s)) << client.received().data();
    EXPECT_EQ(client.received().count(line), 1);
}

// The connect requests engine B heard from N0CALL (SABM, or SABME from a 2.2 engine), retries included.
int connectFramesFromN0call() {
    QFile log(environment("CORVANTLE_ENGINE_DIR") + "/b.log");
    return log.open(QIODevice::ReadOnly) ? static_cast<int>(log.readAll().count("N0CALL>GB7DXC:(SABM")) : 0;
}

// A connection that only looks in (a port scan, a monitoring check) and leaves at once puts nothing on the
// air: the next client that stays is the first whose connect engine B hears.
TEST_F(ClusterSessionTest, AConnectionThatOnlyLooksInPutsNothingOnTheAir) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    const int before = connectFramesFromN0call();
    {
        Client lookIn(bridge.localPort);
        ASSERT_TRUE(lookIn.waitFor(kGreeting, 5s)) << lookIn.received().data();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.bridge.clientCount() == 0; }, 5000));
    Client stays(bridge.localPort);
    ASSERT_TRUE(stays.waitFor("*** CONNECTED With Station GB7DXC\r\n", kLinkUpWait))
        << stays.received().data();
    EXPECT_EQ(connectFramesFromN0call() - before, 1);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
