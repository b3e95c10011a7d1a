// Faults from outside against the real corvantle program on the offscreen platform, with a fake engine: an
// engine that sends garbage or goes away in the middle of a frame, a client that floods the program, resets
// its connection or arrives with forty-nine others, and the local port taken while a session runs. Each
// test says what must hold afterwards: the program still runs, listens or keeps its session, and nothing
// is lost or doubled on the way.
//
// The local port already taken at start-up is in ProgramStartTest.cpp.
#include "FakeAgwServer.h"
#include "ProgramUnderTest.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using corvantle::agw::Frame;
using corvantle::test::FakeAgwServer;

namespace {

const QByteArray kGreeting = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n"
                             "Connecting to GB7DXC DX Cluster Station...*Please Wait*\r\n";
const QByteArray kConnected = "*** CONNECTED With Station GB7DXC\r\n";
const QByteArray kDisconnected = "*** DISCONNECTED From Station GB7DXC\r\n";
const QByteArray kEngineAway =
    "*** The packet engine is not reachable yet: connecting to GB7DXC once it is back\r\n";
const std::string kSpot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";

Frame fromCluster(char kind, const std::string &data) {
    return {0, kind, static_cast<std::uint8_t>(kind == 'D' ? 0xF0 : 0), "GB7DXC", "N0CALL", data};
}
const Frame kLinkUp = fromCluster('C', std::string("*** CONNECTED With Station GB7DXC\r\0", 35));
const Frame kLinkDown = fromCluster('d', std::string("*** DISCONNECTED From Station GB7DXC\r\0", 38));
const Frame kSpotFrame = fromCluster('D', kSpot);
const QByteArray kSpotForClient = QByteArray::fromStdString(kSpot).replace("\r", "\r\n");

// Whether anything listens on `port`.
bool somethingListensOn(quint16 port) {
    return !corvantle::test::listeningAddresses(port).isEmpty();
}

// A generous bound on the program's memory, which says that a flood is held back rather than kept. Under
// AddressSanitizer every allocation carries shadow memory and a quarantine, so the bound does not apply.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kMemoryBoundKb = 1024 * 1024;
#else
constexpr long kMemoryBoundKb = 100 * 1024;
#endif

// The most memory the process has held so far (VmHWM), in kilobytes.
long peakMemoryKb(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// What must reach the radio of what a client sent: each line end (CR LF, CR NUL, CR, LF) becomes the
// radio's " \r"; every other byte passes unchanged, once and in order.
std::string forRadio(const std::string &sent) {
    std::string out;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const char c = sent[i];
        if (c != '\r' && c != '\n') {
            out += c;
            continue;
        }
        out += " \r";
        if (c == '\r' && i + 1 < sent.size() && (sent[i + 1] == '\n' || sent[i + 1] == '\0'))
            ++i;
    }
    return out;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(random() & 0xFF);
    return bytes;
}

// A telnet client of the program, keeping everything it received.
class Client {
  public:
    explicit Client(quint16 port) { socket.connectToHost(QHostAddress::LocalHost, port); }
    QByteArray received() {
        received_ += socket.readAll();
        return received_;
    }
    bool waitFor(const QByteArray &text, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return received().contains(text); }, timeoutMs);
    }
    void type(const QByteArray &text) { socket.write(text); }
    bool isClosed() const { return socket.state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket socket;

  private:
    QByteArray received_;
};

using corvantle::test::ProgramUnderTest;

class ProgramFaultTest : public ::testing::Test {
  protected:
    QTemporaryDir config;
    FakeAgwServer engine;
    quint16 localPort = corvantle::test::freePort();
    ProgramUnderTest program;
    QByteArray log_;
    std::size_t sessions_ = 0; // opened so far, each with one connect request

    void SetUp() override {
        ASSERT_TRUE(corvantle::test::prepareProgram(program, config, "N0CALL", localPort, engine.port()));
        program.setProcessChannelMode(QProcess::ForwardedOutputChannel);
        ASSERT_TRUE(program.launch(CORVANTLE_PROGRAM, {"--verbose"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return log().contains("Listening for a telnet client"); }, 10000))
            << log().toStdString();
    }

    void TearDown() override {
        if (HasFailure())
            std::cerr << "--- the program's log:\n" << log().toStdString();
        program.terminate();
        if (!program.waitForFinished(5000))
            program.kill();
    }

    // What the program said on standard error so far: its session log and its warnings.
    QByteArray log() {
        log_ += program.readAllStandardError();
        return log_;
    }

    bool running() const { return program.state() == QProcess::Running; }

    // The kinds of the frames the engine received, in order, one letter each.
    std::string kindsReceived() {
        std::string kinds;
        for (const Frame &frame : engine.frames())
            kinds += frame.kind;
        return kinds;
    }
    std::size_t received(char kind) { return std::ranges::count(kindsReceived(), kind); }
    bool waitForFrames(char kind, std::size_t count, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return received(kind) >= count; }, timeoutMs);
    }

    // Greets the client, sees the program ask the engine for the link and brings the link up.
    void openSession(Client &client) {
        ASSERT_TRUE(client.waitFor(kGreeting)) << client.received().toStdString();
        ASSERT_TRUE(waitForFrames('C', ++sessions_)) << kindsReceived();
        engine.send(kLinkUp);
        ASSERT_TRUE(client.waitFor(kConnected)) << client.received().toStdString();
    }

    // A new client gets a whole session: greeting, link, and a spot from the cluster, once.
    void expectNextSessionWorks() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return somethingListensOn(localPort); }, 5000));
        Client next(localPort);
        openSession(next);
        engine.send(kSpotFrame);
        ASSERT_TRUE(next.waitFor(kSpotForClient)) << next.received().toStdString();
        EXPECT_EQ(next.received().count(kSpotForClient), 1);
    }
};

// ---- the engine's side ----

struct EngineFault {
    const char *name;
    std::string bytes; // what the engine sends in the middle of a session
    bool thenCloses = false;
};

std::string withAbsurdLength() {
    std::string frame = corvantle::agw::encode(kSpotFrame);
    for (int i = 28; i < 32; ++i)
        frame[i] = i == 31 ? '\x7F' : '\xFF'; // announces 2 GB of data
    return frame;
}

void PrintTo(const EngineFault &fault, std::ostream *out) {
    *out << fault.name;
}

class EngineFaultTest : public ProgramFaultTest, public ::testing::WithParamInterface<EngineFault> {};

// The engine connection can no longer be trusted or is gone: the client hears the link went down and
// nothing of the broken stream, its session stays, the program registers again on its own and asks for
// the link again for the client that stayed, with the line it typed meanwhile; the next session works too.
TEST_P(EngineFaultTest, TheClientHearsTheLinkWentDownAndTheProgramRegistersAgain) {
    Client client(localPort);
    openSession(client);
    ASSERT_EQ(received('X'), 1u);

    engine.send(GetParam().bytes);
    if (GetParam().thenCloses)
        engine.dropClient();

    ASSERT_TRUE(client.waitFor(kDisconnected + kEngineAway)) << client.received().toStdString();
    EXPECT_EQ(client.received(), kGreeting + kConnected + kDisconnected + kEngineAway);

    // A line typed while the engine is away waits for the link.
    const std::size_t dataBefore = received('D');
    client.type("sh/dx\r\n");
    ASSERT_TRUE(waitForFrames('X', 2, 15000)) << "no new registration: " << kindsReceived();
    EXPECT_EQ(engine.connections(), 2);
    ASSERT_TRUE(waitForFrames('C', ++sessions_)) << "the link was not asked for again: " << kindsReceived();
    engine.send(kLinkUp);
    ASSERT_TRUE(QTest::qWaitFor([&] { return client.received().count(kConnected) == 2; }, 5000))
        << client.received().toStdString();
    ASSERT_TRUE(waitForFrames('D', dataBefore + 1)) << kindsReceived();
    EXPECT_EQ(engine.frames().back().data, "sh/dx \r");
    EXPECT_FALSE(client.received().contains("Not sent")) << client.received().toStdString();
    EXPECT_FALSE(client.isClosed());

    client.socket.disconnectFromHost();
    ASSERT_TRUE(waitForFrames('d', 1)) << kindsReceived();
    engine.send(kLinkDown);
    expectNextSessionWorks();
    EXPECT_TRUE(running());
}

INSTANTIATE_TEST_SUITE_P(
    BrokenStreams, EngineFaultTest,
    ::testing::Values(EngineFault{"RandomBytes", randomBytes(4096, 7)},
                      EngineFault{"AbsurdLength", withAbsurdLength()},
                      EngineFault{"ClosedInTheMiddleOfAHeader",
                                  corvantle::agw::encode(kSpotFrame).substr(0, 20), true}),
    [](const ::testing::TestParamInfo<EngineFault> &info) { return std::string(info.param.name); });

// ---- the client's side ----

// 10 MB of random bytes, NULs, CRs and LFs among them, pasted at once while the engine paces the link and
// the radio at first sends nothing: every byte reaches the engine once and in order with only its line ends
// rewritten, the program holds the client back instead of taking it all in, and the session goes on.
TEST_F(ProgramFaultTest, AFloodFromTheClientReachesTheEngineWholeAndInOrder) {
    engine.answerOutstanding();
    Client client(localPort);
    openSession(client);

    const std::string flood = randomBytes(10 * 1000 * 1000, 11) + "\r\n"; // the last line ended too
    const std::string expected = forRadio(flood);
    client.type(QByteArray::fromStdString(flood));
    // The radio is busy while the program asks six times how far it got: the program's window and queue fill
    // up, and it stops reading the client.
    ASSERT_TRUE(waitForFrames('Y', 6, 10000)) << kindsReceived().size() << " frames";
    EXPECT_GT(client.socket.bytesToWrite(), 0) << "the program took in the whole flood";
    EXPECT_LT(peakMemoryKb(program.processId()), kMemoryBoundKb);
    engine.releaseFramesWhenAsked();
    engine.releaseFrames();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.dataBytesReceived() >= expected.size(); }, 300000))
        << engine.dataBytesReceived() << " of " << expected.size() << " bytes reached the engine";

    std::string radio;
    for (const Frame &frame : engine.frames())
        if (frame.kind == 'D' && frame.callTo == "GB7DXC")
            radio += frame.data;
    const auto at = static_cast<std::size_t>(std::ranges::mismatch(radio, expected).in1 - radio.begin());
    const auto around = [at](const std::string &bytes) {
        return QByteArray::fromStdString(bytes.substr(at - std::min<std::size_t>(at, 16), 32))
            .toHex(' ')
            .toStdString();
    };
    EXPECT_TRUE(radio == expected) << radio.size() << " bytes sent, " << expected.size()
                                   << " expected; they differ from byte " << at << ":\n  sent     "
                                   << around(radio) << "\n  expected " << around(expected);
    EXPECT_LE(engine.maxOutstanding(), 8u)
        << "more frames handed to the engine than the radio can keep up with";
    EXPECT_LT(peakMemoryKb(program.processId()), kMemoryBoundKb);

    engine.send(kSpotFrame);
    EXPECT_TRUE(client.waitFor(kSpotForClient)) << client.received().right(200).toStdString();
    EXPECT_TRUE(running());
}

// A client that resets its connection while the cluster is talking to it: the link is dropped, the
// program listens again and serves the next client.
TEST_F(ProgramFaultTest, AClientThatResetsItsConnectionEndsTheLinkAndTheNextIsServed) {
    Client client(localPort);
    openSession(client);

    const linger resetOnClose{1, 0};
    ASSERT_EQ(::setsockopt(static_cast<int>(client.socket.socketDescriptor()), SOL_SOCKET, SO_LINGER,
                           &resetOnClose, sizeof resetOnClose),
              0);
    client.socket.abort();
    engine.send(kSpotFrame);

    ASSERT_TRUE(waitForFrames('d', 1)) << "the link was not dropped: " << kindsReceived();
    const Frame drop = engine.frames().back();
    EXPECT_EQ(drop.kind, 'd');
    EXPECT_EQ(drop.callTo, "GB7DXC");
    engine.send(kLinkDown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return somethingListensOn(localPort); }, 5000));
    EXPECT_EQ(received('d'), 1u) << kindsReceived();

    expectNextSessionWorks();
    EXPECT_TRUE(running());
}

// Fifty clients at once: one is served, the others hear that every place is taken and are closed, and only
// one link is asked for. Once the served one leaves, the next client is served.
TEST_F(ProgramFaultTest, OfFiftyClientsAtOnceExactlyOneIsServed) {
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 50; ++i)
        clients.push_back(std::make_unique<Client>(localPort));

    int greeted = 0;
    int turnedAway = 0;
    const auto settled = [&] {
        greeted = turnedAway = 0;
        for (const auto &client : clients) {
            if (client->received().startsWith(kGreeting))
                ++greeted;
            else if (client->isClosed() &&
                     client->received() == "*** All 1 place is taken here; try again later\r\n")
                ++turnedAway;
        }
        return greeted + turnedAway == 50;
    };
    ASSERT_TRUE(QTest::qWaitFor(settled, 15000)) << greeted << " greeted, " << turnedAway << " turned away";
    ASSERT_EQ(greeted, 1);

    const auto served = std::ranges::find_if(clients, [](const auto &client) { return !client->isClosed(); });
    ASSERT_NE(served, clients.end());
    openSession(**served);
    EXPECT_EQ(received('C'), 1u) << kindsReceived();

    (*served)->socket.disconnectFromHost();
    ASSERT_TRUE(waitForFrames('d', 1));
    engine.send(kLinkDown);
    expectNextSessionWorks();
}

// Another program cannot take the local port while a session runs, nor once it has ended: the port is the
// program's from start-up to the end, so a logger's next connection cannot reach an impostor.
TEST_F(ProgramFaultTest, AnotherProgramCannotTakeThePortDuringOrAfterASession) {
    Client client(localPort);
    openSession(client);

    QTcpServer squatter;
    EXPECT_FALSE(squatter.listen(QHostAddress::LocalHost, localPort));
    client.socket.disconnectFromHost();
    ASSERT_TRUE(waitForFrames('d', 1));
    engine.send(kLinkDown);
    EXPECT_FALSE(squatter.listen(QHostAddress::LocalHost, localPort));
    EXPECT_TRUE(running());

    expectNextSessionWorks();
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
