// The KissEngine against a fake KISS TNC on loopback: what reaches the TNC, and the EngineFrames the bridge
// gets back for links that come up, carry text, are refused, run out of retries, or lose the TNC.
#include "KissEngine.h"
#include "SerialKissTransport.h"
#include "TcpKissTransport.h"
#include "TimerMark.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
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
    void stopListening() { server_.close(); }
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
    void frameArrived(const EngineFrame &frame) override {
        frames.push_back(frame);
        if (engine != nullptr && frame.kind == FrameKind::LinkDown)
            reachableAtLinkDown.push_back(engine->reachable());
    }
    void readyForData() override { ++readyCalls; }
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override { ++closes; }
    void engineBack() override { ++backs; }
    // Set to hear whether a link's down notice came with the engine reachable (a station ended the link) or
    // not (the TNC was lost).
    const PacketEngine *engine = nullptr;
    std::vector<bool> reachableAtLinkDown;
    int backs = 0;
    // Registers and waits for the answer, as the bridge does; nothing when none came.
    std::optional<bool> answerTo(kiss::KissEngine &engine, const std::string &call) {
        const std::size_t before = answers.size();
        engine.registerCallsign(call, "test");
        if (!QTest::qWaitFor([&] { return answers.size() > before; }, 5000))
            return std::nullopt;
        return answers.back();
    }
    bool waitFor(FrameKind kind) {
        return QTest::qWaitFor([&] {
            for (const EngineFrame &frame : frames)
                if (frame.kind == kind)
                    return true;
            return false;
        });
    }
    const EngineFrame *first(FrameKind kind) const {
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
        ASSERT_TRUE(recorder.waitFor(FrameKind::LinkUp));
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
    EXPECT_EQ(engine.registrationFailure(), "Your callsign \"TOOLONGCALL\" is not an AX.25 callsign: 1 to 6 "
                                            "letters or digits, then an optional SSID -0 to -15");
    EXPECT_NE(engine.connect("GB7DXC", {}, 0), "");
}

// The start-up box names the TNC as the settings give it, on a TCP port or a serial line.
TEST(KissEngineRegistration, AFailedStartNamesTheTnc) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        closedPort = probe.serverPort();
    }
    const QTemporaryDir dir;
    const std::string missingDevice = dir.path().toStdString() + "/ttyKISS";
    struct Row {
        std::unique_ptr<kiss::KissTransport> transport;
        std::string said;
    };
    Row rows[] = {
        {std::make_unique<kiss::TcpKissTransport>("127.0.0.1", closedPort),
         "Can't connect to the KISS TNC at 127.0.0.1:" + std::to_string(closedPort)},
        {std::make_unique<kiss::SerialKissTransport>(missingDevice),
         "Can't connect to the KISS TNC at " + missingDevice},
    };
    for (Row &row : rows) {
        SCOPED_TRACE(row.said);
        kiss::KissEngine engine(std::move(row.transport), quickOptions());
        engine.setLog([](const std::string &) {});
        Recorder recorder;
        engine.setListener(&recorder);
        EXPECT_EQ(recorder.answerTo(engine, "N0CALL"), false);
        EXPECT_EQ(engine.registrationFailure(), row.said);
    }
}

TEST_F(KissEngineTest, ALinkCarriesTextBothWaysWithTheAgwNotices) {
    linkUp();
    const EngineFrame *up = recorder.first(FrameKind::LinkUp);
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
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkData));
    EXPECT_EQ(recorder.first(FrameKind::LinkData)->text, "DX de K1ABC\r");
    EXPECT_EQ(recorder.first(FrameKind::LinkData)->from, "GB7DXC");
    EXPECT_EQ(recorder.first(FrameKind::HeardInformation),
              nullptr); // the own link's frames are not monitored as well

    engine.disconnect("GB7DXC", 0);
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::DISC));
    tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED From Station GB7DXC\r");
}

TEST_F(KissEngineTest, LogsEveryFrameSentAndReceived) {
    std::vector<std::string> lines;
    engine.setLog({}, [&](const std::string &line) { lines.push_back(line); });
    linkUp();
    tnc.hear(fromCluster(ax25::FrameType::UI, true, false, "beacon"), 3);
    ASSERT_TRUE(recorder.waitFor(FrameKind::HeardUnnumbered));
    EXPECT_EQ(lines, (std::vector<std::string>{"KISS> port 0 N0CALL>GB7DXC SABM C P",
                                               "KISS< port 0 GB7DXC>N0CALL UA R P",
                                               "KISS< port 3 GB7DXC>N0CALL UI C 6 bytes \"beacon\""}));
}

TEST_F(KissEngineTest, RefusedAndUnansweredConnectsEndInTheirNotices) {
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::SABM));
    tnc.hear(fromCluster(ax25::FrameType::DM, false, true));
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED From Station GB7DXC\r");

    recorder.frames.clear();
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.first(FrameKind::LinkDown) != nullptr; },
                                5000)); // 3 SABMs, 300 ms apart
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED RETRYOUT With GB7DXC\r");
}

TEST_F(KissEngineTest, FramesBetweenOtherStationsAreHeard) {
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    ax25::Frame spot = fromCluster(ax25::FrameType::I, true, false, "DX de W1AW\r");
    spot.destination = {"K1ABC", 0};
    tnc.hear(spot, 1);
    ax25::Frame beacon = fromCluster(ax25::FrameType::UI, true, false, "GB7DXC cluster");
    beacon.destination = {"BEACON", 0};
    tnc.hear(beacon);
    ASSERT_TRUE(recorder.waitFor(FrameKind::HeardUnnumbered));
    ASSERT_NE(recorder.first(FrameKind::HeardInformation), nullptr);
    EXPECT_EQ(recorder.first(FrameKind::HeardInformation)->text, "DX de W1AW\r");
    EXPECT_EQ(recorder.first(FrameKind::HeardInformation)->from, "GB7DXC");
    EXPECT_EQ(recorder.first(FrameKind::HeardInformation)->to, "K1ABC");
    EXPECT_EQ(recorder.first(FrameKind::HeardInformation)->radioPort, 1);
    EXPECT_EQ(recorder.first(FrameKind::HeardUnnumbered)->text, "GB7DXC cluster");
}

// The bridge hears that the engine was away (the notice comes while it is not reachable) and when it is back,
// so that the clients still connected get their link again.
TEST_F(KissEngineTest, ALostTncTakesTheLinkDownAndIsReopened) {
    recorder.engine = &engine;
    linkUp();
    tnc.dropClient();
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_EQ(recorder.reachableAtLinkDown, std::vector<bool>{false});
    EXPECT_FALSE(engine.queueData("GB7DXC", "lost\r"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tnc.hasClient() && engine.isUp(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.backs == 1; }));
    EXPECT_TRUE(engine.reachable());
    EXPECT_EQ(engine.connect("GB7DXC", {}, 0), "");
}

// A relink asked in the moment the TNC's port is being reopened waits for the port instead of failing.
TEST_F(KissEngineTest, AConnectWhileThePortIsReopeningWaitsForIt) {
    linkUp();
    tnc.dropClient();
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    recorder.frames.clear();
    EXPECT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::SABM));
    tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkUp));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown), nullptr);
}

// When the port does not open after all, the waiting connect ends as a link that went down.
TEST_F(KissEngineTest, AConnectWaitingForAPortThatStaysClosedEndsInTheLinkDownNotice) {
    linkUp();
    tnc.stopListening();
    tnc.dropClient();
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    recorder.frames.clear();
    EXPECT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.first(FrameKind::LinkDown) != nullptr; }, 5000));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_EQ(recorder.first(FrameKind::LinkUp), nullptr);
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
    EXPECT_EQ(recorder.first(FrameKind::LinkDown),
              nullptr); // room made by the acknowledgement, not by a link that failed
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

// The frame types sent so far, in order, from the first not yet taken.
std::vector<ax25::FrameType> sentTypes(FakeTnc &tnc) {
    std::vector<ax25::FrameType> types;
    while (std::optional<ax25::Frame> frame = tnc.nextSent())
        types.push_back(frame->type);
    return types;
}

// A line typed just before the program closes (a logger's "bye") still reaches the station: the queue goes
// out as the window allows, and the DISC only once the station has acknowledged all of it.
TEST_F(KissEngineTest, CloseSendsTheQueuedTextAndDisconnectsOnceItIsAcknowledged) {
    linkUp();
    engine.sendData("GB7DXC", std::string(600, 'x'), 0); // PACLEN 128: five frames, a window of four
    engine.close();
    using Type = ax25::FrameType;
    std::vector<Type> sent;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const std::vector<Type> more = sentTypes(tnc);
        sent.insert(sent.end(), more.begin(), more.end());
        return sent.size() >= 4;
    }));
    for (const Type type : sent)
        EXPECT_NE(type, Type::DISC) << "a DISC before the text was acknowledged";
    ASSERT_GE(sent.size(), 4U);
    EXPECT_EQ(std::vector<Type>(sent.begin(), sent.begin() + 4), std::vector<Type>(4, Type::I));
    ax25::Frame ack = fromCluster(Type::RR, false, false);
    ack.nr = 4;
    tnc.hear(ack);
    ax25::Frame last;
    ASSERT_TRUE(tnc.waitForSent(Type::I, &last));
    EXPECT_EQ(last.ns, 4);
    for (const Type type : sentTypes(tnc))
        EXPECT_NE(type, Type::DISC) << "a DISC before the last frame was acknowledged";
    ack.nr = 5;
    tnc.hear(ack);
    ASSERT_TRUE(tnc.waitForSent(Type::DISC));
    tnc.hear(fromCluster(Type::UA, false, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.closes == 1; }, 5000));
    EXPECT_FALSE(engine.isUp());
}

// A station that acknowledges nothing holds the close up for closeDataWait, not longer: then the DISC.
TEST(KissEngineClose, AStationThatAcknowledgesNothingHoldsTheCloseForCloseDataWait) {
    FakeTnc tnc;
    kiss::KissEngineOptions options = quickOptions();
    options.link.retries = 10; // the link alone would give up after 3.3 s
    options.closeDataWait = 800ms;
    kiss::KissEngine engine(std::make_unique<kiss::TcpKissTransport>("127.0.0.1", tnc.port()), options);
    Recorder recorder;
    engine.setListener(&recorder);
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::SABM));
    tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkUp));

    engine.sendData("GB7DXC", "bye\r", 0);
    QElapsedTimer clock;
    clock.start();
    engine.close();
    ASSERT_TRUE(tnc.waitForSent(ax25::FrameType::DISC, nullptr));
    const qint64 discAfter = clock.elapsed();
    EXPECT_GE(discAfter, 700);
    EXPECT_LT(discAfter, 3000);
    tnc.hear(fromCluster(ax25::FrameType::UA, false, true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.closes == 1; }, 5000));
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
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkUp));

    ::close(tncSide);
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_FALSE(engine.isUp());
}

// A TNC's end of a pseudo-terminal, standing for a serial adapter: while it is open, the device exists.
class PseudoTerminalTnc {
  public:
    PseudoTerminalTnc() {
        fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0 && ::grantpt(fd_) == 0 && ::unlockpt(fd_) == 0)
            device = ::ptsname(fd_);
    }
    ~PseudoTerminalTnc() { unplug(); }
    PseudoTerminalTnc(const PseudoTerminalTnc &) = delete;
    PseudoTerminalTnc &operator=(const PseudoTerminalTnc &) = delete;

    // Waits for an AX.25 frame of `type` from the program.
    bool waitForSent(ax25::FrameType type) {
        return QTest::qWaitFor([&] {
            char buffer[512];
            for (ssize_t got; fd_ >= 0 && (got = ::read(fd_, buffer, sizeof buffer)) > 0;)
                decoder_.feed(std::string_view(buffer, static_cast<std::size_t>(got)));
            while (std::optional<kiss::Frame> frame = decoder_.next())
                if (const std::optional<ax25::Frame> sent = ax25::decode(frame->payload))
                    if (sent->type == type)
                        return true;
            return false;
        });
    }
    bool hear(const ax25::Frame &frame) {
        const std::string bytes = kiss::dataFrame(0, ax25::encode(frame));
        return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // The device goes away, as an adapter pulled out.
    void unplug() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    std::string device;

  private:
    int fd_ = -1;
    kiss::KissDecoder decoder_;
};

// The device the settings name (a stable name, as udev gives an adapter) goes away with the link up: the
// bridge hears the link go down, and once a device is back under that name the engine opens it again by
// itself and a new link works.
TEST(KissEngineSerial, ADeviceThatGoesAwayAndComesBackIsOpenedAgain) {
    QTemporaryDir dir;
    const QString name = dir.filePath("tnc-" + QString::number(::getpid()));
    auto tnc = std::make_unique<PseudoTerminalTnc>();
    ASSERT_FALSE(tnc->device.empty());
    ASSERT_TRUE(QFile::link(QString::fromStdString(tnc->device), name));
    kiss::KissEngine engine(std::make_unique<kiss::SerialKissTransport>(name.toStdString(), 19200),
                            quickOptions());
    Recorder recorder;
    std::vector<std::string> notes;
    engine.setLog([&](const std::string &line) { notes.push_back(line); });
    engine.setListener(&recorder);
    ASSERT_EQ(recorder.answerTo(engine, "N0CALL"), true);
    const auto linkUp = [&] {
        EXPECT_EQ(engine.connect("GB7DXC", {}, 0), "");
        ASSERT_TRUE(tnc->waitForSent(ax25::FrameType::SABM));
        ASSERT_TRUE(tnc->hear(fromCluster(ax25::FrameType::UA, false, true)));
        ASSERT_TRUE(recorder.waitFor(FrameKind::LinkUp));
    };
    linkUp();

    tnc->unplug();
    ASSERT_TRUE(QFile::remove(name));
    ASSERT_TRUE(recorder.waitFor(FrameKind::LinkDown));
    EXPECT_EQ(recorder.first(FrameKind::LinkDown)->text, "*** DISCONNECTED From Station GB7DXC\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !engine.isUp(); }));
    ASSERT_TRUE(test::TimerMark(500).wait()); // a few attempts to reopen it fail meanwhile
    EXPECT_FALSE(engine.isUp());

    tnc = std::make_unique<PseudoTerminalTnc>();
    ASSERT_TRUE(QFile::link(QString::fromStdString(tnc->device), name));
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.isUp(); }, 5000)) << [&] {
        std::string all;
        for (const std::string &line : notes)
            all += line + "\n";
        return all;
    }();
    recorder.frames.clear();
    linkUp();
    const auto noted = [&](const std::string &text) {
        return std::any_of(notes.begin(), notes.end(),
                           [&](const std::string &line) { return line.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(noted("is lost")) << notes.size();
    EXPECT_TRUE(noted("is open again"));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the engine's sockets and timers need an event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
