// The KissEngine against a fake KISS TNC on loopback: what reaches the TNC, and the EngineFrames the bridge
// gets back for links that come up, carry text, are refused, run out of retries, or lose the TNC.
#include "KissEngine.h"
#include "SerialKissTransport.h"
#include "TcpKissTransport.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace corvantle;
using namespace std::chrono_literals;

namespace {

const ax25::Address kUser{"N0CALL", 0};
const ax25::Address kCluster{"GB7DXC", 0};

// A TNC's KISS port: takes one client, decodes what it sends, and sends it frames as if heard on the air.
class FakeTnc {
  public:
    FakeTnc() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            client_.reset(server_.nextPendingConnection());
            QObject::connect(client_.get(), &QTcpSocket::readyRead, [this] {
                const QByteArray bytes = client_->readAll();
                decoder_.feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
                while (std::optional<kiss::Frame> frame = decoder_.next())
                    received.push_back(std::move(*frame));
            });
        });
    }
    std::uint16_t port() const { return server_.serverPort(); }
    bool hasClient() const { return client_ && client_->state() == QAbstractSocket::ConnectedState; }
    void hear(const ax25::Frame &frame, std::uint8_t kissPort = 0) {
        const std::string bytes = kiss::dataFrame(kissPort, ax25::encode(frame));
        client_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    void dropClient() { client_->abort(); }
    // The AX.25 frames sent on `kissPort`, from the first not yet taken.
    std::optional<ax25::Frame> nextSent(std::uint8_t kissPort = 0) {
        while (taken_ < received.size()) {
            const kiss::Frame &frame = received[taken_++];
            if (frame.command == kiss::Command::Data && frame.port == kissPort)
                return ax25::decode(frame.payload);
        }
        return std::nullopt;
    }
    bool waitForSent(ax25::FrameType type, ax25::Frame *out = nullptr) {
        return QTest::qWaitFor([&] {
            while (std::optional<ax25::Frame> frame = nextSent())
                if (frame->type == type) {
                    if (out != nullptr)
                        *out = *frame;
                    return true;
                }
            return false;
        });
    }

    std::vector<kiss::Frame> received;

  private:
    QTcpServer server_;
    std::unique_ptr<QTcpSocket> client_;
    kiss::KissDecoder decoder_;
    std::size_t taken_ = 0;
};

ax25::Frame fromCluster(ax25::FrameType type, bool command, bool pollFinal, std::string info = {}) {
    ax25::Frame frame;
    frame.source = kCluster;
    frame.destination = kUser;
    frame.type = type;
    frame.command = command;
    frame.pollFinal = pollFinal;
    frame.info = std::move(info);
    return frame;
}

class Recorder final : public EngineListener {
  public:
    void frameArrived(const EngineFrame &frame) override { frames.push_back(frame); }
    void readyForData() override { ++readyCalls; }
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override { ++closes; }
    // Registers and waits for the answer, as the bridge does; nothing when none came.
    std::optional<bool> answerTo(kiss::KissEngine &engine, const std::string &call) {
        const std::size_t before = answers.size();
        engine.registerCallsign(call, "test");
        if (!QTest::qWaitFor([&] { return answers.size() > before; }, 5000))
            return std::nullopt;
        return answers.back();
    }
    bool waitFor(char kind) {
        return QTest::qWaitFor([&] {
            for (const EngineFrame &frame : frames)
                if (frame.kind == kind)
                    return true;
            return false;
        });
    }
    const EngineFrame *first(char kind) const {
        for (const EngineFrame &frame : frames)
            if (frame.kind == kind)
                return &frame;
        return nullptr;
    }
    std::vector<EngineFrame> frames;
    int readyCalls = 0;
    std::vector<bool> answers;
    int closes = 0;
};

kiss::KissEngineOptions quickOptions() {
    kiss::KissEngineOptions options;
    options.link.frack = 300ms;
    options.link.minT1 = 300ms;
    options.link.adaptT1 = false;
    options.link.bitRate = 0; // the fake TNC sends nothing on the air: T1 is FRACK, nothing more
    options.link.retries = 2;
    options.openWait = 1000ms;
    options.retryInterval = 200ms;
    options.closeGrace = 1000ms;
    options.queuedDataBytes = 300;
    options.tncParameters = {{0, kiss::Command::TxDelay, 30}};
    return options;
}

class KissEngineTest : public ::testing::Test {
  protected:
    KissEngineTest() { engine.setListener(&recorder); }

    // Registered, the link asked for and answered: the state most tests start from.
    void linkUp() {
        ASSERT_EQ(recorder.answerTo(engine, "n0call"), true);
        ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
        ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::SABM));
        tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
        ASSERT_TRUE(recorder.waitFor('c'));
    }

    FakeTnc tnc;
    kiss::KissEngine engine{std::make_unique<kiss::TcpKissTransport>("127.0.0.1", tnc.port()),
                            quickOptions()};
    Recorder recorder;
};

TEST_F(KissEngineTest, RegistrationOpensTheKissPortAndSetsTheTnc) {
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    EXPECT_TRUE(engine.isUp());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !tnc.received.empty(); }));
    EXPECT_EQ(tnc.received.front(), (kiss::Frame{0, kiss::Command::TxDelay, std::string(1, '\x1E')}));
}

TEST(KissEngineRegistration, FailsInBoundedTimeWithoutATncOrWithABadCallsign) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    kiss::KissEngine engine(std::make_unique<kiss::TcpKissTransport>("127.0.0.1", closedPort),
                            quickOptions());
    std::vector<std::string> notes;
    engine.setLog([&](const std::string &line) { notes.push_back(line); });
    Recorder recorder;
    engine.setListener(&recorder);
    EXPECT_EQ(recorder.answerTo(engine, "N0CALL"), false);
    EXPECT_EQ(recorder.answerTo(engine, "TOOLONGCALL"), false);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[1].find("TOOLONGCALL"), std::string::npos);
    EXPECT_NE(engine.connect("GB7DXC", {}, 0), "");
}

TEST_F(KissEngineTest, ALinkCarriesTextBothWaysWithTheAgwNotices) {
    linkUp();
    const EngineFrame *up = recorder.first('c');
    EXPECT_EQ(up->text, "*** CONNECTED With Station GB7DXC\r");
    EXPECT_EQ(up->from, "GB7DXC");
    EXPECT_EQ(up->to, "N0CALL");

    EXPECT_TRUE(engine.queueData("GB7DXC", "sh/dx\r"));
    EXPECT_FALSE(engine.queueData("K1ABC", "not on this link\r"));
    ax25::Frame sent;
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::I, &sent));
    EXPECT_EQ(sent.info, "sh/dx\r");
    EXPECT_EQ(sent.destination, kCluster);

    ax25::Frame data = fromCluster(ax25::FrameType::I, true, false, "DX de K1ABC\r");
    data.nr = 1;
    tnc.hear(data);
    ASSERT_TRUE(recorder.waitFor('D'));
    EXPECT_EQ(recorder.first('D')->text, "DX de K1ABC\r");
    EXPECT_EQ(recorder.first('D')->from, "GB7DXC");
    EXPECT_EQ(recorder.first('I'), nullptr); // the own link's frames are not monitored as well

    engine.disconnect("GB7DXC", 0);
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::DISC));
    tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
    ASSERT_TRUE(recorder.waitFor('d'));
    EXPECT_EQ(recorder.first('d')->text, "*** DISCONNECTED From Station GB7DXC\r");
}

TEST_F(KissEngineTest, LogsEveryFrameSentAndReceived) {
    std::vector<std::string> lines;
    engine.setLog({}, [&](const std::string &line) { lines.push_back(line); });
    linkUp();
    tnc.hear(fromCluster(ax25::FrameType::UI, true, false, "beacon"), 3);
    ASSERT_TRUE(recorder.waitFor('U'));
    EXPECT_EQ(lines, (std::vector<std::string>{"KISS> port 0 N0CALL>GB7DXC SABM C P",
                                               "KISS< port 0 GB7DXC>N0CALL UA R P",
                                               "KISS< port 3 GB7DXC>N0CALL UI C 6 bytes \"beacon\""}));
}

TEST_F(KissEngineTest, RefusedAndUnansweredConnectsEndInTheirNotices) {
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::SABM));
    tnc.hear(fromCluster(ax25::FrameType::DM, false, true));
    ASSERT_TRUE(recorder.waitFor('d'));
    EXPECT_EQ(recorder.first('d')->text, "*** DISCONNECTED From Station GB7DXC\r");

    recorder.frames.clear();
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return recorder.first('d') != nullptr; }, 5000)); // 3 SABMs, 300 ms apart
    EXPECT_EQ(recorder.first('d')->text, "*** DISCONNECTED RETRYOUT With GB7DXC\r");
}

TEST_F(KissEngineTest, FramesBetweenOtherStationsAreHeard) {
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    ax25::Frame spot = fromCluster(ax25::FrameType::I, true, false, "DX de W1AW\r");
    spot.destination = {"K1ABC", 0};
    tnc.hear(spot, 1);
    ax25::Frame beacon = fromCluster(ax25::FrameType::UI, true, false, "GB7DXC cluster");
    beacon.destination = {"BEACON", 0};
    tnc.hear(beacon);
    ASSERT_TRUE(recorder.waitFor('U'));
    ASSERT_NE(recorder.first('I'), nullptr);
    EXPECT_EQ(recorder.first('I')->text, "DX de W1AW\r");
    EXPECT_EQ(recorder.first('I')->from, "GB7DXC");
    EXPECT_EQ(recorder.first('I')->to, "K1ABC");
    EXPECT_EQ(recorder.first('I')->radioPort, 1);
    EXPECT_EQ(recorder.first('U')->text, "GB7DXC cluster");
}

TEST_F(KissEngineTest, ALostTncTakesTheLinkDownAndIsReopened) {
    linkUp();
    tnc.dropClient();
    ASSERT_TRUE(recorder.waitFor('d'));
    EXPECT_EQ(recorder.first('d')->text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_FALSE(engine.queueData("GB7DXC", "lost\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tnc.hasClient() && engine.isUp(); }));
    EXPECT_EQ(engine.connect("GB7DXC", {}, 0), "");
}

TEST_F(KissEngineTest, TextBeyondTheBoundWaitsForAcknowledgements) {
    linkUp();
    engine.sendData("GB7DXC", std::string(400, 'x'), 0); // PACLEN 128: four frames, all in the window
    EXPECT_FALSE(engine.canTakeData());
    ax25::Frame last;
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::I, &last));
    ax25::Frame ack = fromCluster(ax25::FrameType::RR, false, false);
    ack.nr = 4;
    tnc.hear(ack);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.readyCalls == 1; }));
    EXPECT_TRUE(engine.canTakeData());
    EXPECT_EQ(recorder.first('d'), nullptr); // room made by the acknowledgement, not by a link that failed
}

TEST_F(KissEngineTest, CloseTakesTheLinkDownOnTheAirFirst) {
    linkUp();
    QObject answerer;
    QTimer::singleShot(100, &answerer, [&] {
        if (tnc.waitForSent(ax25::FrameType::DISC))
            tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
    });
    engine.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.closes == 1; }, 5000));
    EXPECT_FALSE(engine.isUp());
    bool sawDisc = false;
    for (const kiss::Frame &frame : tnc.received)
        if (const std::optional<ax25::Frame> sent = ax25::decode(frame.payload))
            sawDisc = sawDisc || sent->type == ax25::FrameType::DISC;
    EXPECT_TRUE(sawDisc);
}

// A TNC on a serial line, played by the other end of a pseudo-terminal.
TEST(KissEngineSerial, RunsTheLinkOverAPseudoTerminalAndNoticesItsEnd) {
    const int tncSide = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(tncSide, 0);
    ASSERT_EQ(::grantpt(tncSide), 0);
    ASSERT_EQ(::unlockpt(tncSide), 0);
    kiss::KissEngine engine(std::make_unique<kiss::SerialKissTransport>(::ptsname(tncSide)), quickOptions());
    Recorder recorder;
    engine.setListener(&recorder);
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");

    kiss::KissDecoder decoder;
    const auto sabmArrived = [&] {
        char buffer[512];
        for (ssize_t got; (got = ::read(tncSide, buffer, sizeof buffer)) > 0;)
            decoder.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
        while (std::optional<kiss::Frame> frame = decoder.next())
            if (const std::optional<ax25::Frame> sent = ax25::decode(frame->payload))
                if (sent->type == ax25::FrameType::SABM && sent->destination == kCluster)
                    return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(sabmArrived));
    const std::string ua = kiss::dataFrame(0, ax25::encode(fromCluster(ax25::FrameType::UA, false, true)));
    ASSERT_EQ(::write(tncSide, ua.data(), ua.size()), static_cast<ssize_t>(ua.size()));
    ASSERT_TRUE(recorder.waitFor('c'));

    ::close(tncSide);
    ASSERT_TRUE(recorder.waitFor('d'));
    EXPECT_EQ(recorder.first('d')->text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_FALSE(engine.isUp());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the engine's sockets and timers need an event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
