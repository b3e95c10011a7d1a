// AgwEngine against a fake engine on loopback: registration, the requests it writes, the frames it hands
// the listener, monitored copies of own links, framing, pacing data to the radio, and an engine that goes
// away, hangs or stops reading.
#include "AgwEngine.h"
#include "FakeAgwServer.h"
#include "TimerMark.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace corvantle {
namespace {

using namespace std::chrono_literals;
using test::FakeAgwServer;
using test::Registration;

constexpr const char *kProgram = "Corvantle Test";
constexpr std::size_t kDataPerFrame = 256; // what every engine takes in one 'D'

AgwTiming fastTiming() {
    AgwTiming timing;
    timing.answerWait = 300ms;
    timing.retryInterval = 100ms;
    timing.closeGrace = 300ms;
    return timing;
}

settings::EngineAddress engineAt(const std::string &port, const std::string &host = "127.0.0.1") {
    return {host, static_cast<std::uint16_t>(std::stoi(port))};
}

// A loopback socket that listens and never accepts: the system completes the connection, nobody answers,
// as with Dire Wolf's fourth client.
class SilentListener final {
  public:
    SilentListener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(fd_, 4);
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(fd_); }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;
    std::string port() const { return std::to_string(port_); }

  private:
    int fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    unsigned short port_ = 0;
};

// A loopback port nobody listens on.
std::string closedPort() {
    const SilentListener gone;
    return gone.port();
}

// Runs the event loop until `done` holds or `limit` passes. A short timer wakes the loop, because the fake
// engine's thread changes what `done` looks at without sending the loop an event.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s) {
    QTimer wake;
    wake.start(1ms);
    const QDeadlineTimer deadline(limit);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop to a mark `span` from now, to see that something does NOT happen: the engine's timers
// due before the mark have fired by then, however busy the machine is.
void settle(std::chrono::milliseconds span) {
    EXPECT_TRUE(test::TimerMark(static_cast<int>(span.count())).wait());
}

// Takes what the engine writes to stderr while it lives, and lets go of stderr even when an assertion ends
// the test early.
class StderrNotes final {
  public:
    StderrNotes() { testing::internal::CaptureStderr(); }
    ~StderrNotes() {
        if (!taken_)
            testing::internal::GetCapturedStderr();
    }
    StderrNotes(const StderrNotes &) = delete;
    StderrNotes &operator=(const StderrNotes &) = delete;
    std::string take() {
        taken_ = true;
        return testing::internal::GetCapturedStderr();
    }

  private:
    bool taken_ = false;
};

// What the bridge would be told.
class RecordingListener final : public EngineListener {
  public:
    void frameArrived(const EngineFrame &frame) override { frames.push_back(frame); }
    void readyForData() override {
        ++readyCalls;
        roomWhenReady = roomWhenReady && engine != nullptr && engine->canTakeData();
    }
    void radioPortsKnown(const std::vector<int> &ports) override { portLists.push_back(ports); }
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override { ++closes; }
    std::size_t count(FrameKind kind, const std::string &from) const {
        return static_cast<std::size_t>(
            std::count_if(frames.begin(), frames.end(),
                          [&](const EngineFrame &f) { return f.kind == kind && f.from == from; }));
    }

    const PacketEngine *engine = nullptr;
    std::vector<EngineFrame> frames;
    int readyCalls = 0;
    bool roomWhenReady = true; // canTakeData() was true at every readyForData
    std::vector<std::vector<int>> portLists;
    std::vector<bool> answers; // to each registration, in order
    int closes = 0;
};

// Registers and runs the event loop until the one answer came, as the bridge waits for it; false also when
// none came. Without a listener of the test's own, one listens for the answer alone.
bool registerAndWait(AgwEngine &engine, const std::string &call, RecordingListener *listener = nullptr) {
    RecordingListener own;
    RecordingListener &answers = listener != nullptr ? *listener : own;
    if (listener == nullptr)
        engine.setListener(&own);
    const std::size_t before = answers.answers.size();
    engine.registerCallsign(call, kProgram);
    EXPECT_EQ(answers.answers.size(), before) << "answered from inside registerCallsign";
    const bool answered = waitUntil([&] { return answers.answers.size() > before; }, 10s);
    EXPECT_TRUE(answered) << "no answer to the registration";
    settle(1ms); // and no second answer
    EXPECT_LE(answers.answers.size(), before + 1);
    if (listener == nullptr)
        engine.setListener(nullptr);
    return answered && answers.answers.back();
}

// Starts the close and runs the event loop until the engine says it is over.
bool closeAndWait(AgwEngine &engine, RecordingListener &listener) {
    const int before = listener.closes;
    engine.close();
    return waitUntil([&] { return listener.closes > before; }, 10s);
}

agw::Frame frame(char kind, const std::string &from, const std::string &to, const std::string &data,
                 std::uint8_t port = 0) {
    return agw::Frame{port, kind, static_cast<std::uint8_t>(kind == 'D' ? 0xF0 : 0), from, to, data};
}

// Dire Wolf's monitor text for an I-frame: header, "]" CR, the information, its own CR, NUL.
std::string monitoredI(const std::string &from, const std::string &to, const std::string &info) {
    std::string text = " 1:Fm " + from + " To " + to + " <I S0 R0 pid=F0 Len=" + std::to_string(info.size()) +
                       " P=0 >[03:09:00]\r";
    if (!info.empty())
        text += info + "\r";
    return text + '\0';
}

std::string notice(const std::string &text) {
    return text + "\r" + '\0';
}

// The kinds of `frames` in order, leaving out version requests (the sign-of-life probe, sent on a timer) and
// the port list question of each registration (tested on its own).
std::string kinds(const std::vector<agw::Frame> &frames) {
    std::string letters;
    for (const agw::Frame &f : frames)
        if (f.kind != 'R' && f.kind != 'G')
            letters += f.kind;
    return letters;
}

// What the listener heard, in short: each kind as the letter of the AGW frame that brings it, with 'c' for a
// link up (after the 'C' notice) and '?' for any other frame.
std::string kinds(const std::vector<EngineFrame> &frames) {
    std::string letters;
    for (const EngineFrame &f : frames) {
        switch (f.kind) {
        case FrameKind::LinkUp:
            letters += 'c';
            break;
        case FrameKind::LinkDown:
            letters += 'd';
            break;
        case FrameKind::LinkData:
            letters += 'D';
            break;
        case FrameKind::HeardInformation:
            letters += 'I';
            break;
        case FrameKind::HeardUnnumbered:
            letters += 'U';
            break;
        case FrameKind::HeardSupervisory:
            letters += 'S';
            break;
        case FrameKind::Transmitted:
            letters += 'T';
            break;
        case FrameKind::Other:
            letters += '?';
            break;
        }
    }
    return letters;
}

// Text that shows any loss, doubling or reordering: numbered lines of 64 bytes.
std::string numberedLines(std::size_t bytes) {
    std::string text;
    char line[65];
    for (std::size_t n = 0; text.size() < bytes; ++n) {
        std::snprintf(line, sizeof line, "%08zu DX de K1ABC:     14025.0  JA1XYZ     CW  line %08zu\r", n, n);
        text += line;
    }
    text.resize(bytes);
    return text;
}

// ---- Registration -------------------------------------------------------------------------------------

TEST(AgwEngineRegistration, FollowsTheEnginesAnswer) {
    struct Case {
        const char *name;
        Registration answer;
        const char *host;
        bool registered;
    };
    const Case cases[] = {
        {"X answer", Registration::Accept, "127.0.0.1", true},
        {"x answer", Registration::AcceptLowercase, "127.0.0.1", true},
        {"host by name", Registration::Accept, "localhost", true},
        {"refused", Registration::Refuse, "127.0.0.1", false},
        {"no answer", Registration::Ignore, "127.0.0.1", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeAgwServer server(c.answer);
        AgwEngine engine(engineAt(server.port(), c.host), fastTiming());
        EXPECT_EQ(registerAndWait(engine, " n0call-0"), c.registered);
        EXPECT_EQ(engine.isUp(), c.registered);
        const std::string expected = c.registered ? "Xm" : "X";
        ASSERT_TRUE(waitUntil([&] { return server.frameCount() >= expected.size(); }));
        const std::vector<agw::Frame> sent = server.frames();
        EXPECT_EQ(kinds(sent), expected);
        EXPECT_EQ(sent[0].callFrom, "N0CALL");
    }
}

TEST(AgwEngineRegistration, RegistersACallsignOnlyWhenItFitsWhole) {
    struct Case {
        const char *call;
        const char *registeredAs; // nullptr: refused without a word to the engine
    };
    const Case cases[] = {
        {"TOOLONGCALL", nullptr},     // ten characters or more would be cut to nine on the wire
        {"N0CALL-150", nullptr},      // the same
        {"", nullptr},                // nothing to register
        {"  ", nullptr},              // the same
        {" n0call-15 ", "N0CALL-15"}, // nine characters fit
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        FakeAgwServer server;
        AgwEngine engine(engineAt(server.port()), fastTiming());
        StderrNotes notes;
        const bool registered = registerAndWait(engine, c.call);
        const std::string said = notes.take();
        if (c.registeredAs == nullptr) {
            EXPECT_FALSE(registered);
            EXPECT_EQ(server.connections(), 0);
            EXPECT_NE(said.find('"' + std::string(c.call) + '"'), std::string::npos) << said;
            continue;
        }
        EXPECT_TRUE(registered);
        ASSERT_TRUE(waitUntil([&] { return server.frameCount() >= 1; }));
        EXPECT_EQ(server.frames()[0].callFrom, c.registeredAs);
    }
}

TEST(AgwEngineRegistration, SendsMonitoringOnOncePerConnection) {
    FakeAgwServer server;
    AgwEngine engine(engineAt(server.port()), fastTiming());
    RecordingListener listener;
    engine.setListener(&listener);
    ASSERT_TRUE(registerAndWait(engine, "N0CALL", &listener));
    EXPECT_EQ(engine.connect("GB7DXC", {}, 0), "");
    for (int i = 0; i < 3; ++i)
        server.send(frame('U', "K1ABC", "W1AW", monitoredI("K1ABC", "W1AW", "")));
    ASSERT_TRUE(waitUntil([&] { return listener.frames.size() == 3; }));
    engine.close();
    ASSERT_TRUE(waitUntil([&] { return kinds(server.frames()).size() >= 5; }));
    EXPECT_EQ(kinds(server.frames()), "XmCdx"); // the pending link is ended before unregistering
}

// With waits far longer than the refusal takes, the reason shows what ended the attempt.
TEST(AgwEngineRegistration, FailsAtOnceWhenNoEngineListens) {
    AgwTiming patient;
    patient.connectWait = 60s;
    patient.answerWait = 60s;
    AgwEngine engine(engineAt(closedPort()), patient);
    StderrNotes notes;
    EXPECT_FALSE(registerAndWait(engine, "N0CALL"));
    const std::string said = notes.take();
    EXPECT_NE(said.find("refused"), std::string::npos) << said;
}

TEST(AgwEngineRegistration, GivesUpOnAHostNameThatDoesNotResolve) {
    AgwEngine engine(engineAt("8000", "nonexistent.invalid"), fastTiming());
    bool loopRan = false;
    QTimer::singleShot(0, [&] { loopRan = true; });
    EXPECT_FALSE(registerAndWait(engine, "N0CALL"));
    EXPECT_FALSE(engine.isUp());
    EXPECT_TRUE(loopRan); // the lookup was waited for on the event loop
}

TEST(AgwEngineRegistration, GivesUpOnAnEngineThatNeverAnswersWithTheEventLoopLive) {
    FakeAgwServer ignores(Registration::Ignore);
    const SilentListener neverAccepts;
    for (const std::string &port : {ignores.port(), neverAccepts.port()}) {
        SCOPED_TRACE(port);
        AgwEngine engine(engineAt(port), fastTiming());
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(5ms);
        EXPECT_FALSE(registerAndWait(engine, "N0CALL"));
        EXPECT_FALSE(engine.isUp());
        EXPECT_GE(ticks, 2) << "the wait for the answer held up the event loop";
    }
}

// The program can close while the engine has not answered yet: the close is answered, the registration never.
TEST(AgwEngineRegistration, ACloseBeforeTheAnswerAbandonsIt) {
    FakeAgwServer ignores(Registration::Ignore);
    AgwEngine engine(engineAt(ignores.port()), fastTiming());
    RecordingListener listener;
    engine.setListener(&listener);
    engine.registerCallsign("N0CALL", kProgram);
    ASSERT_TRUE(waitUntil([&] { return ignores.frameCount() >= 1; }));
    EXPECT_TRUE(closeAndWait(engine, listener));
    settle(2 * fastTiming().answerWait);
    EXPECT_TRUE(listener.answers.empty());
    EXPECT_EQ(listener.closes, 1);
}

// ---- A registered engine ------------------------------------------------------------------------------

class AgwEngineTest : public testing::Test {
  protected:
    virtual AgwTiming timing() const { return fastTiming(); }
    virtual AgwLimits limits() const { return {}; }

    void SetUp() override {
        engine = std::make_unique<AgwEngine>(engineAt(server.port()), timing(), limits());
        listener.engine = engine.get();
        engine->setListener(&listener);
        ASSERT_TRUE(registerAndWait(*engine, "n0call-0", &listener));
        ASSERT_TRUE(waitUntil([&] { return server.frameCount() >= 3; })); // 'X', 'm' and 'G'
    }

    // The frames the engine sent after its registration, once there are `count` of them; port list
    // questions left out.
    std::vector<agw::Frame> requests(std::size_t count) {
        const auto asked = [&] {
            std::vector<agw::Frame> frames = server.frames();
            std::erase_if(frames, [](const agw::Frame &f) { return f.kind == 'G'; });
            return frames;
        };
        waitUntil([&] { return asked().size() >= count + 2; });
        const std::vector<agw::Frame> all = asked();
        return {all.begin() + 2, all.end()};
    }

    bool received(std::size_t count) {
        return waitUntil([&] { return listener.frames.size() >= count; });
    }

    void linkUp(const std::string &remote, std::uint8_t port = 0) {
        const std::size_t before = listener.frames.size();
        server.send(frame('C', remote, "N0CALL", notice("*** CONNECTED With Station " + remote), port));
        ASSERT_TRUE(received(before + 1));
        ASSERT_EQ(listener.frames.back().kind, FrameKind::LinkUp);
    }

    // Hands `data` over as the bridge does: while the engine can take it, else after readyForData. Events
    // are handled between the pieces, as when a client's text comes in over time. `eachTurn` runs while
    // waiting for room. Returns how much was handed over when the engine first had no room, or 0.
    std::size_t feed(const std::string &data, std::size_t piece, const std::function<void()> &eachTurn) {
        std::size_t givenWhenFull = 0;
        for (std::size_t given = 0; given < data.size();) {
            if (!engine->canTakeData()) {
                if (givenWhenFull == 0)
                    givenWhenFull = given;
                const int ready = listener.readyCalls;
                if (!waitUntil([&] {
                        eachTurn();
                        return listener.readyCalls > ready;
                    })) {
                    ADD_FAILURE() << "no readyForData after " << given << " bytes";
                    return givenWhenFull;
                }
                continue;
            }
            engine->sendData("GB7DXC", data.substr(given, piece), 0);
            given += piece;
            QCoreApplication::processEvents();
        }
        return givenWhenFull;
    }

    std::string dataTo(const std::string &remote) {
        std::string joined;
        for (const agw::Frame &f : server.frames())
            if (f.kind == 'D' && f.callTo == remote)
                joined += f.data;
        return joined;
    }

    FakeAgwServer server;
    RecordingListener listener;
    std::unique_ptr<AgwEngine> engine;
};

// ---- Requests -----------------------------------------------------------------------------------------

TEST_F(AgwEngineTest, ConnectRequestsNameOwnCallAndRoute) {
    struct Case {
        const char *station;
        std::vector<std::string> digis;
        char sentKind;
        const char *remote;
        std::string data;
    };
    const Case cases[] = {
        {"gb7dxc-0", {}, 'C', "GB7DXC", ""},
        {" GB7DXC ", {" ", ""}, 'C', "GB7DXC", ""},
        {"GB7DXC-15", {}, 'C', "GB7DXC-15", ""}, // nine characters fit
        {"GB7DXC-05", {}, 'C', "GB7DXC-5", ""},  // as the KISS engine's link names it
        {"gb7dxc",
         {" relay1 ", "", "Relay2-0"},
         'v',
         "GB7DXC",
         std::string("\2RELAY1\0\0\0\0RELAY2\0\0\0\0", 21)},
        {"GB7DXC", {"RELAY1-15"}, 'v', "GB7DXC", std::string("\1RELAY1-15\0", 11)},
        {"GB7DXC",
         {"A1", "A2", "A3", "A4", "A5", "A6", "A7"},
         'v',
         "GB7DXC",
         std::string("\7A1\0\0\0\0\0\0\0\0A2\0\0\0\0\0\0\0\0A3\0\0\0\0\0\0\0\0A4\0\0\0\0\0\0\0\0"
                     "A5\0\0\0\0\0\0\0\0A6\0\0\0\0\0\0\0\0A7\0\0\0\0\0\0\0\0",
                     71)},
    };
    std::size_t count = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.station);
        EXPECT_EQ(engine->connect(c.station, c.digis, 3), "");
        const agw::Frame sent = requests(++count).back();
        EXPECT_EQ(sent.kind, c.sentKind);
        EXPECT_EQ(sent.port, 3);
        EXPECT_EQ(sent.callFrom, "N0CALL");
        EXPECT_EQ(sent.callTo, c.remote);
        EXPECT_EQ(sent.data, c.data);
    }
}

TEST_F(AgwEngineTest, RefusesARouteThatDoesNotFitWithoutAWordToTheEngine) {
    struct Case {
        const char *name;
        std::string station;
        std::vector<std::string> digis;
        int port;
        std::string named; // the reason names this
    };
    const Case cases[] = {
        {"station too long", "GB7DXC-123", {}, 0, "GB7DXC-123"},
        {"digipeater too long", "GB7DXC", {"RELAY1", "RELAY12-15"}, 0, "RELAY12-15"},
        {"no station", " ", {}, 0, ""},
        {"eight digipeaters", "GB7DXC", {"A1", "A2", "A3", "A4", "A5", "A6", "A7", "A8"}, 0, "8"},
        {"radio port below 0", "GB7DXC", {}, -1, "-1"},
        {"radio port above 255", "GB7DXC", {}, 256, "256"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string reason = engine->connect(c.station, c.digis, c.port);
        EXPECT_NE(reason, "");
        EXPECT_NE(reason.find(c.named), std::string::npos) << reason;
    }
    engine->sendData("GB7DXC", "to no port\r", 256);
    engine->disconnect("GB7DXC", -1);
    engine->disconnect("K1ABC", 0); // a marker: nothing may come before it
    EXPECT_EQ(kinds(requests(1)), "d");
    EXPECT_EQ(requests(1).at(0).callTo, "K1ABC");
    EXPECT_EQ(listener.frames.size(), 0u); // the caller has the reason; no link notice on top
}

TEST_F(AgwEngineTest, SplitsDataIntoFramesOf256InOrder) {
    const std::string text = numberedLines(600);
    engine->sendData("gb7dxc", text, 1);
    const std::vector<agw::Frame> sent = requests(3);
    ASSERT_EQ(sent.size(), 3u);
    std::string joined;
    for (const agw::Frame &f : sent) {
        EXPECT_EQ(f.kind, 'D');
        EXPECT_EQ(f.pid, 0xF0);
        EXPECT_EQ(f.port, 1);
        EXPECT_EQ(f.callFrom, "N0CALL");
        EXPECT_EQ(f.callTo, "GB7DXC");
        EXPECT_LE(f.data.size(), kDataPerFrame);
        joined += f.data;
    }
    EXPECT_EQ(joined, text);
}

TEST_F(AgwEngineTest, SendsDisconnect) {
    engine->disconnect("GB7DXC-0", 2);
    const agw::Frame sent = requests(1).at(0);
    EXPECT_EQ(sent.kind, 'd');
    EXPECT_EQ(sent.port, 2);
    EXPECT_EQ(sent.callFrom, "N0CALL");
    EXPECT_EQ(sent.callTo, "GB7DXC");
}

// ---- Received frames ----------------------------------------------------------------------------------

TEST_F(AgwEngineTest, HandsEachFrameToTheListenerAsItArrives) {
    // No call into the engine between the frames: running the event loop is all it takes.
    for (const char *text : {"one\r", "two\r", "three\r"}) {
        const std::size_t before = listener.frames.size();
        server.send(frame('D', "GB7DXC", "N0CALL", text));
        ASSERT_TRUE(received(before + 1));
        EXPECT_EQ(listener.frames.back().text, text);
    }
}

TEST_F(AgwEngineTest, MapsNoticesAndMonitoredFrames) {
    struct Case {
        const char *name;
        agw::Frame sent;
        FrameKind kind;
        const char *from;
        std::string text;
    };
    const std::string up = notice("*** CONNECTED With Station GB7DXC");
    const std::string down = notice("*** DISCONNECTED From Station GB7DXC");
    const Case cases[] = {
        {"link up", frame('C', "GB7DXC", "N0CALL", up, 1), FrameKind::LinkUp, "GB7DXC", up},
        {"link down", frame('d', "GB7DXC", "N0CALL", down, 1), FrameKind::LinkDown, "GB7DXC", down},
        {"link up, calls swapped", frame('C', "N0CALL", "GB7DXC", up, 2), FrameKind::LinkUp, "GB7DXC", up},
        {"link down, calls swapped", frame('d', "N0CALL", "GB7DXC", down, 2), FrameKind::LinkDown, "GB7DXC",
         down},
        // The bridge compares calls as callsign::normal writes them.
        {"calls written otherwise", frame('C', "gb7dxc-0", "N0CALL-0", up, 1), FrameKind::LinkUp, "GB7DXC",
         up},
        {"heard, calls written otherwise", frame('I', "K1ABC-05", "W1AW", monitoredI("K1ABC", "W1AW", "x\r")),
         FrameKind::HeardInformation, "K1ABC-5", "x\r"},
        {"own SABM", frame('T', "N0CALL", "GB7DXC", notice(" 1:Fm N0CALL To GB7DXC <SABM P=1 >[03:09:00]")),
         FrameKind::Transmitted, "N0CALL", ""},
        {"heard UA", frame('S', "GB7DXC", "N0CALL", notice(" 1:Fm GB7DXC To N0CALL <UA F=1 >[03:09:00]")),
         FrameKind::HeardSupervisory, "GB7DXC", ""},
        {"heard UI", frame('U', "K1ABC", "BEACON", monitoredI("K1ABC", "BEACON", "QRV 14025\r"), 1),
         FrameKind::HeardUnnumbered, "K1ABC", "QRV 14025\r"},
        {"other kind", frame('y', "", "", std::string("\3\0\0\0", 4), 2), FrameKind::Other, "",
         std::string("\3\0\0\0", 4)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = listener.frames.size();
        server.send(c.sent);
        ASSERT_TRUE(received(before + 1));
        const EngineFrame &got = listener.frames.back();
        EXPECT_EQ(got.kind, c.kind);
        EXPECT_EQ(got.from, c.from);
        EXPECT_EQ(got.text, c.text);
        EXPECT_EQ(got.radioPort, c.sent.port);
    }
}

TEST_F(AgwEngineTest, PassesPayloadsOnExactly) {
    const std::string payloads[] = {
        "DX de K1ABC:     14025.0  JA1XYZ       CW                             1234Z\r",
        "a line cut in the mid", // cluster lines can span frames: no line end may be added
        "brackets ] [x] inside\r",
        "two lines\rin one frame\r",
        std::string("binary\0bytes\xFF", 13),
    };
    for (const std::string &payload : payloads) {
        SCOPED_TRACE(payload);
        const std::size_t before = listener.frames.size();
        server.send(frame('D', "GB7DXC", "N0CALL", payload));
        server.send(frame('I', "K1ABC", "W1AW", monitoredI("K1ABC", "W1AW", payload)));
        ASSERT_TRUE(received(before + 2));
        const EngineFrame &data = listener.frames[before];
        EXPECT_EQ(data.kind, FrameKind::LinkData);
        EXPECT_EQ(data.from, "GB7DXC");
        EXPECT_EQ(data.text, payload);
        const EngineFrame &heard = listener.frames[before + 1];
        EXPECT_EQ(heard.kind, FrameKind::HeardInformation);
        EXPECT_EQ(heard.from, "K1ABC");
        EXPECT_EQ(heard.to, "W1AW");
        EXPECT_EQ(heard.text, payload); // the information only, without the engine's description and CR
    }
}

TEST_F(AgwEngineTest, CutsTextsTo4000) {
    std::string big(5000, 'u');
    big[kMaxFrameTextBytes - 1] = 'L';
    server.send(frame('D', "GB7DXC", "N0CALL", big));
    server.send(frame('U', "K1ABC", "W1AW", monitoredI("K1ABC", "W1AW", big)));
    ASSERT_TRUE(received(2));
    for (const EngineFrame &got : listener.frames)
        EXPECT_EQ(got.text, big.substr(0, kMaxFrameTextBytes)) << static_cast<int>(got.kind);
}

// ---- Framing ------------------------------------------------------------------------------------------

TEST_F(AgwEngineTest, ReassemblesAFrameSentByteByByte) {
    const std::string bytes = agw::encode(frame('D', "GB7DXC", "N0CALL", "hello\r"));
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        server.send(bytes.substr(i, 1));
        settle(2ms); // each byte arrives and is read alone
        ASSERT_TRUE(listener.frames.empty()) << "after " << i + 1 << " bytes";
    }
    server.send(bytes.substr(bytes.size() - 1));
    ASSERT_TRUE(received(1));
    EXPECT_EQ(listener.frames[0].text, "hello\r");
}

TEST_F(AgwEngineTest, HandsOverJoinedFramesInOrder) {
    server.send(agw::encode(frame('C', "GB7DXC", "N0CALL", notice("*** CONNECTED With Station GB7DXC"))) +
                agw::encode(frame('D', "GB7DXC", "N0CALL", "one\r")) +
                agw::encode(frame('D', "GB7DXC", "N0CALL", "two\r")) +
                agw::encode(frame('d', "GB7DXC", "N0CALL", notice("*** DISCONNECTED From Station GB7DXC"))));
    ASSERT_TRUE(received(4));
    EXPECT_EQ(kinds(listener.frames), "cDDd");
    EXPECT_EQ(listener.frames[1].text, "one\r");
    EXPECT_EQ(listener.frames[2].text, "two\r");
}

TEST_F(AgwEngineTest, AnAbsurdLengthEndsTheConnection) {
    std::string header = agw::encode(frame('D', "GB7DXC", "N0CALL", ""));
    header.replace(28, 4, "\xFF\xFF\xFF\x7F");
    server.send(agw::encode(frame('D', "GB7DXC", "N0CALL", "before")) + header + std::string(64, 'g'));
    ASSERT_TRUE(received(1));
    EXPECT_EQ(listener.frames[0].text, "before");
    EXPECT_TRUE(waitUntil([&] { return server.waitForClientGone(0ms); }));
    EXPECT_EQ(listener.frames.size(), 1u);
}

// ---- Own links and their monitored copies -------------------------------------------------------------

TEST_F(AgwEngineTest, HidesMonitoredCopiesOfOwnLinksOnly) {
    const auto other = frame('I', "K1ABC", "W1AW", monitoredI("K1ABC", "W1AW", "theirs\r"));
    const auto fromRemote = frame('I', "GB7DXC", "N0CALL", monitoredI("GB7DXC", "N0CALL", "spot\r"));
    const auto toRemote = frame('I', "N0CALL", "GB7DXC", monitoredI("N0CALL", "GB7DXC", "sh/dx\r"));

    ASSERT_EQ(engine->connect("gb7dxc-0", {}, 0), "");
    server.send(fromRemote); // can come before the 'C' notice
    server.send(other);
    ASSERT_TRUE(received(1));
    EXPECT_EQ(listener.frames[0].text, "theirs\r");
    linkUp("GB7DXC");
    server.send(fromRemote);
    server.send(fromRemote); // a retransmission
    server.send(toRemote);
    server.send(frame('D', "GB7DXC", "N0CALL", "spot\r"));
    server.send(other);
    ASSERT_TRUE(received(4));
    EXPECT_EQ(kinds(listener.frames), "IcDI");
    EXPECT_EQ(listener.frames[2].text, "spot\r");

    server.send(frame('d', "GB7DXC", "N0CALL", notice("*** DISCONNECTED From Station GB7DXC")));
    server.send(fromRemote); // no longer an own link
    ASSERT_TRUE(received(6));
    EXPECT_EQ(kinds(listener.frames), "IcDIdI");
}

TEST_F(AgwEngineTest, HidesMonitoredCopiesOfAnIncomingLink) {
    server.send(frame('C', "K1ABC", "N0CALL", notice("*** CONNECTED To Station K1ABC")));
    server.send(frame('I', "K1ABC", "N0CALL", monitoredI("K1ABC", "N0CALL", "hello\r")));
    server.send(frame('I', "N0CALL", "K1ABC", monitoredI("N0CALL", "K1ABC", "hi\r")));
    server.send(frame('D', "K1ABC", "N0CALL", "hello\r"));
    server.send(frame('y', "", "", std::string(4, '\0'))); // a marker: the copies would have come before
    ASSERT_TRUE(received(3));
    EXPECT_EQ(kinds(listener.frames), "cD?");
}

// ---- Losing the engine --------------------------------------------------------------------------------

TEST_F(AgwEngineTest, ReportsHeldLinksDownAndReconnectsWhenTheEngineGoes) {
    linkUp("GB7DXC", 1);
    ASSERT_EQ(engine->connect("K1ABC", {}, 2), ""); // still pending
    requests(1);
    StderrNotes notes;
    server.dropClient();
    ASSERT_TRUE(received(3));
    std::vector<EngineFrame> down(listener.frames.begin() + 1, listener.frames.end());
    std::sort(down.begin(), down.end(), [](auto &a, auto &b) { return a.from < b.from; });
    EXPECT_EQ(down[0].kind, FrameKind::LinkDown);
    EXPECT_EQ(down[0].from, "GB7DXC");
    EXPECT_EQ(down[0].radioPort, 1);
    EXPECT_EQ(down[0].text, notice("*** DISCONNECTED From Station GB7DXC"));
    EXPECT_EQ(down[1].kind, FrameKind::LinkDown);
    EXPECT_EQ(down[1].from, "K1ABC");
    EXPECT_EQ(down[1].radioPort, 2);
    EXPECT_EQ(down[1].text, notice("*** DISCONNECTED From Station K1ABC"));
    EXPECT_NE(engine->connect("GB7DXC", {}, 0), ""); // not while the engine is away
    engine->sendData("GB7DXC", "lost\r", 0);

    ASSERT_TRUE(waitUntil([&] { return server.connections() == 2 && engine->isUp(); }));
    ASSERT_TRUE(waitUntil([&] { return kinds(server.frames()).size() >= 5; }));
    EXPECT_EQ(kinds(server.frames()), "XmCXm");
    settle(50ms);
    const std::string said = notes.take();
    EXPECT_NE(said.find("lost"), std::string::npos) << said;
    EXPECT_NE(said.find("back"), std::string::npos) << said;

    // The links are gone with the old connection: their monitored frames are others' again.
    server.send(frame('I', "GB7DXC", "N0CALL", monitoredI("GB7DXC", "N0CALL", "x\r")));
    ASSERT_TRUE(received(4));
    EXPECT_EQ(listener.frames.back().kind, FrameKind::HeardInformation);
    EXPECT_EQ(engine->connect("GB7DXC", {}, 0), "");
    EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
}

TEST_F(AgwEngineTest, HandsOverAllTheEngineSentBeforeItClosed) {
    linkUp("GB7DXC");
    // More than one read takes, so that some of it still waits when the close is seen.
    std::string lastWords;
    const int heard = 400;
    for (int i = 0; i < heard; ++i)
        lastWords +=
            agw::encode(frame('U', "K1ABC", "BEACON", monitoredI("K1ABC", "BEACON", numberedLines(300))));
    const std::string retryOut = notice("*** DISCONNECTED RETRYOUT With GB7DXC");
    lastWords += agw::encode(frame('d', "GB7DXC", "N0CALL", retryOut));
    const StderrNotes quiet;
    server.send(lastWords);
    server.dropClient();
    ASSERT_TRUE(waitUntil([&] { return server.connections() == 2 && engine->isUp(); }));
    EXPECT_EQ(listener.count(FrameKind::HeardUnnumbered, "K1ABC"), static_cast<std::size_t>(heard));
    // The engine's own notice, and no made-up one on top.
    EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
    EXPECT_EQ(listener.frames.back().text, retryOut);
}

TEST_F(AgwEngineTest, ReportsAHeldLinkDownOnceWhenReRegistrationFails) {
    for (Registration restarted : {Registration::Refuse, Registration::Ignore}) {
        SCOPED_TRACE(restarted == Registration::Refuse ? "refused" : "not answered");
        linkUp("GB7DXC");
        const int connections = server.connections();
        server.setRegistration(restarted);
        const StderrNotes quiet;
        server.dropClient();
        // Two failed attempts at least, each of which could repeat the notice.
        ASSERT_TRUE(waitUntil([&] { return server.connections() >= connections + 2; }));
        EXPECT_FALSE(engine->isUp());
        server.setRegistration(Registration::Accept);
        ASSERT_TRUE(waitUntil([&] { return engine->isUp(); }));
        settle(50ms);
        EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
        listener.frames.clear();
    }
}

TEST_F(AgwEngineTest, CloseEndsHeldLinksThenUnregistersAndIsSafeTwice) {
    linkUp("GB7DXC");
    ASSERT_TRUE(closeAndWait(*engine, listener));
    EXPECT_FALSE(engine->isUp());
    EXPECT_TRUE(waitUntil([&] { return server.waitForClientGone(0ms); }));
    const std::vector<agw::Frame> sent = requests(2);
    EXPECT_EQ(kinds(sent), "dx");
    EXPECT_EQ(sent.at(0).callTo, "GB7DXC");
    EXPECT_TRUE(closeAndWait(*engine, listener));
    EXPECT_EQ(listener.closes, 2);
    EXPECT_NE(engine->connect("GB7DXC", {}, 0), "");
    engine->sendData("GB7DXC", "x", 0);
    server.send(frame('D', "GB7DXC", "N0CALL", "after close\r"));
    settle(3 * fastTiming().retryInterval);
    EXPECT_EQ(server.connections(), 1); // no reconnecting after close
    EXPECT_EQ(kinds(server.frames()), "Xmdx");
    EXPECT_EQ(kinds(listener.frames), "c");
}

// The engine can go while the user's connect is still pending, and the program can close just then,
// before or after the loss was noticed.
TEST_F(AgwEngineTest, CloseRightAfterTheEngineDroppedIsSafe) {
    for (bool noticed : {false, true}) {
        SCOPED_TRACE(noticed ? "loss noticed" : "loss not yet noticed");
        ASSERT_TRUE(waitUntil([&] { return engine->isUp(); }));
        ASSERT_EQ(engine->connect("GB7DXC", {}, 0), "");
        engine->sendData("GB7DXC", numberedLines(4 * 1024), 0);
        const int connections = server.connections();
        const StderrNotes quiet;
        server.dropClient();
        if (noticed) {
            ASSERT_TRUE(waitUntil([&] { return !engine->isUp(); }));
        }
        ASSERT_TRUE(closeAndWait(*engine, listener));
        settle(3 * fastTiming().retryInterval);
        EXPECT_EQ(server.connections(), connections); // closed stays closed
        EXPECT_TRUE(engine->canTakeData());
        ASSERT_TRUE(registerAndWait(*engine, "N0CALL", &listener)); // the same engine object again
    }
}

// ---- Pacing data to the radio -------------------------------------------------------------------------

class AgwEnginePacingTest : public AgwEngineTest {
  protected:
    AgwTiming timing() const override {
        AgwTiming t = fastTiming();
        t.pacePollInterval = 1ms;
        return t;
    }
};

TEST_F(AgwEnginePacingTest, KeepsAtMostAWindowOutstandingWhenTheEngineCounts) {
    server.answerOutstanding();
    linkUp("GB7DXC");
    const std::string text = numberedLines(1 << 20);
    const std::size_t piece = 1000;
    const auto radioSends = [&] { server.releaseFrames(); };

    const std::size_t givenWhenFull = feed(text, piece, radioSends);
    ASSERT_TRUE(waitUntil(
        [&] {
            radioSends();
            return server.dataBytesReceived() >= text.size();
        },
        60s));

    EXPECT_GE(givenWhenFull, limits().queuedDataBytes); // no room only once the bound is reached
    EXPECT_LT(givenWhenFull, limits().queuedDataBytes + limits().framesInFlight * kDataPerFrame + piece);
    EXPECT_GE(listener.readyCalls, 1);
    EXPECT_TRUE(listener.roomWhenReady);
    EXPECT_LE(server.maxOutstanding(), limits().framesInFlight);
    EXPECT_GE(server.maxOutstanding(), 1u);
    const std::string arrived = dataTo("GB7DXC");
    EXPECT_EQ(arrived.size(), text.size());
    EXPECT_TRUE(arrived == text) << "data lost, doubled or out of order";
}

// Some engines never answer 'Y'. The engine hands the pacer its wait for an answer and ticks it, so the
// data still leaves, unpaced, once the wait is over.
TEST_F(AgwEnginePacingTest, SendsUnpacedWhenTheEngineDoesNotCount) {
    linkUp("GB7DXC");
    const std::string text = numberedLines(1 << 20);
    const std::size_t givenWhenFull = feed(text, 1000, [] {});
    ASSERT_TRUE(waitUntil([&] { return server.dataBytesReceived() >= text.size(); }, 60s));

    EXPECT_GE(givenWhenFull, limits().queuedDataBytes);
    EXPECT_TRUE(listener.roomWhenReady);
    const std::string arrived = dataTo("GB7DXC");
    EXPECT_EQ(arrived.size(), text.size());
    EXPECT_TRUE(arrived == text) << "data lost, doubled or out of order";
}

// The window closes right after the logger sent "bye": the bridge asks for the 'd', then closes the engine.
// What is still queued or unsent in the engine leaves before the 'd', which an engine would otherwise obey
// by dropping it.
TEST_F(AgwEnginePacingTest, CloseLetsTheLastLinesLeaveBeforeTheDisconnect) {
    server.answerOutstanding();
    linkUp("GB7DXC");
    const std::string text = numberedLines(20 * kDataPerFrame);
    engine->sendData("GB7DXC", text, 0);
    engine->disconnect("GB7DXC", 0);
    server.releaseFramesWhenAsked(); // the radio sends them while the program closes
    engine->close();
    ASSERT_TRUE(waitUntil([&] { return server.waitForClientGone(0ms); }));
    const std::string sent = kinds(server.frames());
    EXPECT_LT(sent.find_last_of('D'), sent.find('d')) << sent;
    EXPECT_EQ(sent.back(), 'x') << sent;
    EXPECT_EQ(dataTo("GB7DXC"), text);
    EXPECT_EQ(server.framesDroppedByDisconnect(), 0u);
}

// Frames of a link that another callsign of the same engine holds to the same station are not this
// program's: its own link to that station stays known, so its monitored copies stay hidden.
TEST_F(AgwEngineTest, AnotherCallsignsLinkToTheSameStationIsNotOurs) {
    linkUp("GB7DXC");
    const std::string down = notice("*** DISCONNECTED From Station GB7DXC");
    server.send(frame('C', "GB7DXC", "N0CALL-2", notice("*** CONNECTED With Station GB7DXC")));
    server.send(frame('d', "GB7DXC", "N0CALL-2", down));
    ASSERT_TRUE(received(3));
    EXPECT_EQ(listener.frames[1].to, "N0CALL-2");
    EXPECT_EQ(listener.frames[2].to, "N0CALL-2");
    EXPECT_EQ(listener.frames[2].from, "GB7DXC");
    server.send(frame('I', "GB7DXC", "N0CALL", monitoredI("GB7DXC", "N0CALL", "spot\r")));
    server.send(frame('D', "GB7DXC", "N0CALL", "spot\r"));
    ASSERT_TRUE(received(4));
    EXPECT_EQ(kinds(listener.frames), "ccdD"); // the monitored copy of our own link stays hidden
}

// ---- Packing lines into frames ------------------------------------------------------------------------

// No pacing timer fires here: whatever leaves, leaves without waiting for one.
class AgwEnginePackingTest : public AgwEngineTest {
  protected:
    AgwTiming timing() const override {
        AgwTiming t = fastTiming();
        t.pacePollInterval = 1h;
        t.paceAnswerWait = 1h;
        return t;
    }
    // The data of every 'D' frame to `remote`, one entry per frame.
    std::vector<std::string> framesTo(const std::string &remote) {
        std::vector<std::string> data;
        for (const agw::Frame &f : server.frames())
            if (f.kind == 'D' && f.callTo == remote)
                data.push_back(f.data);
        return data;
    }
};

// A line of `bytes` bytes, CR included, made of one letter so that a misplaced piece shows.
std::string lineOf(std::size_t bytes, std::size_t index) {
    return std::string(bytes - 1, static_cast<char>('a' + index % 26)) + "\r";
}

// The engine pumps the pacer once at the end of a turn of the event loop, so the lines handed over in one
// turn (the lines of one read from a client) are one burst; how a burst is packed is the pacer's.
TEST_F(AgwEnginePackingTest, LinesOfOneTurnLeaveAsOneBurst) {
    linkUp("GB7DXC");
    std::string lines;
    for (std::size_t i = 0; i < 10; ++i) {
        const std::string line = lineOf(12, i);
        engine->sendData("GB7DXC", line, 0);
        lines += line;
    }
    ASSERT_TRUE(waitUntil([&] { return !framesTo("GB7DXC").empty(); }));
    EXPECT_EQ(framesTo("GB7DXC"), std::vector<std::string>{lines});
}

// Packing never waits for more text: a line on its own leaves in the turn it was handed over.
TEST_F(AgwEnginePackingTest, ALoneLineGoesAtOnce) {
    linkUp("GB7DXC");
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string line = "sh/dx " + std::to_string(i) + "\r";
        engine->sendData("GB7DXC", line, 0);
        ASSERT_TRUE(waitUntil([&] { return framesTo("GB7DXC").size() == i + 1; }));
        EXPECT_EQ(framesTo("GB7DXC").back(), line);
    }
}

// ---- An engine that hangs -----------------------------------------------------------------------------

class AgwEngineProbeTest : public AgwEngineTest {
  protected:
    AgwTiming timing() const override {
        AgwTiming t = fastTiming();
        t.quietBeforeProbe = 100ms;
        t.probeAnswerWait = 100ms;
        return t;
    }
    std::size_t probes() {
        const std::vector<agw::Frame> all = server.frames();
        return static_cast<std::size_t>(
            std::count_if(all.begin(), all.end(), [](const agw::Frame &f) { return f.kind == 'R'; }));
    }
};

TEST_F(AgwEngineProbeTest, KeepsAQuietEngineThatAnswersTheProbe) {
    linkUp("GB7DXC");
    ASSERT_TRUE(waitUntil([&] { return probes() >= 3; }));
    EXPECT_TRUE(engine->isUp());
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(kinds(listener.frames), "c");
}

TEST_F(AgwEngineProbeTest, NoticesAnEngineThatStoppedAnsweringAndReconnects) {
    linkUp("GB7DXC", 1);
    const StderrNotes quiet;
    server.stallClient(); // the connection stays open; nothing comes back
    ASSERT_TRUE(waitUntil([&] { return listener.count(FrameKind::LinkDown, "GB7DXC") == 1; }));
    EXPECT_EQ(listener.frames.back().radioPort, 1);
    ASSERT_TRUE(waitUntil([&] { return server.connections() == 2 && engine->isUp(); }));
    ASSERT_TRUE(waitUntil([&] { return kinds(server.frames()).size() >= 4; }));
    EXPECT_EQ(kinds(server.frames()), "XmXm");
    EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
}

// ---- An engine that stops reading ---------------------------------------------------------------------

class AgwEngineStallTest : public AgwEngineTest {
  protected:
    AgwTiming timing() const override {
        AgwTiming t = fastTiming();
        t.paceAnswerWait = 20ms; // the stalled engine answers no 'Y' either
        t.pacePollInterval = 1ms;
        t.quietBeforeProbe = 300ms;
        t.probeAnswerWait = 300ms;
        return t;
    }
    AgwLimits limits() const override {
        AgwLimits l;
        l.unsentToEngineBytes = 256 * 1024;
        return l;
    }
};

// An engine that takes no data holds the client back (canTakeData stays false) instead of filling this
// program's memory; the silence is then noticed by the sign-of-life probe.
TEST_F(AgwEngineStallTest, AnEngineThatTakesNoDataHoldsTheClientBackAndIsNoticed) {
    linkUp("GB7DXC", 1);
    server.stallClient();
    StderrNotes notes;
    const std::string piece = numberedLines(4096);
    std::size_t given = 0;
    for (int turn = 0; turn < 4000 && (engine->canTakeData() || turn % 100 != 0); ++turn) {
        if (engine->canTakeData()) {
            engine->sendData("GB7DXC", piece, 0);
            given += piece.size();
        }
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(engine->canTakeData());
    // What is held here stays near the queue's bound; the rest is still with the client.
    EXPECT_LT(given, limits().unsentToEngineBytes);
    ASSERT_TRUE(waitUntil([&] { return listener.count(FrameKind::LinkDown, "GB7DXC") == 1; }, 10s));
    EXPECT_EQ(listener.frames.back().radioPort, 1);
    const std::string said = notes.take();
    EXPECT_NE(said.find("version request"), std::string::npos) << said;
    ASSERT_TRUE(waitUntil([&] { return server.connections() == 2 && engine->isUp(); }));
    EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
}

TEST_F(AgwEngineStallTest, CloseWithMoreQueuedThanAStalledEngineTakesIsSafe) {
    linkUp("GB7DXC");
    server.stallClient();
    engine->sendData("GB7DXC", numberedLines(4 * limits().unsentToEngineBytes), 0);
    const StderrNotes quiet;
    ASSERT_TRUE(closeAndWait(*engine, listener));
    EXPECT_FALSE(engine->isUp());
    settle(3 * fastTiming().retryInterval);
    EXPECT_EQ(server.connections(), 1);
}

// The frame log a user sends when asking for help: one line per frame each way, control bytes escaped.
TEST(AgwEngineFrameLog, OneLinePerFrameSentAndReceived) {
    FakeAgwServer server;
    AgwEngine engine(engineAt(server.port()), fastTiming());
    std::vector<std::string> lines;
    engine.setLog({}, [&](const std::string &line) { lines.push_back(line); });
    ASSERT_TRUE(registerAndWait(engine, "N0CALL"));
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    server.send(agw::Frame{0, 'D', 0xF0, "GB7DXC", "N0CALL", std::string("hi\r\0\xff", 5)});
    ASSERT_TRUE(waitUntil([&] { return lines.size() >= 6; }));
    const std::vector<std::string> expected = {
        R"(AGW> X port 0 N0CALL> 0 bytes "")",       R"(AGW< X port 0 N0CALL> 1 bytes "\x01")",
        R"(AGW> m port 0 N0CALL> 0 bytes "")",       R"(AGW> G port 0 N0CALL> 0 bytes "")",
        R"(AGW> C port 0 N0CALL>GB7DXC 0 bytes "")", R"(AGW< D port 0 GB7DXC>N0CALL 5 bytes "hi\r\x00\xFF")",
    };
    EXPECT_EQ(lines, expected);
}

// ---- The engine's radio ports ---------------------------------------------------------------------------

// Dire Wolf takes a connect on a radio port it does not have to another channel, where the link comes up
// and every data frame is then dropped: the engine's port list, asked right after registering, decides.
TEST(AgwEngineRadioPorts, ConnectsOnlyOnTheRadioChannelsTheEngineLists) {
    using namespace std::string_literals;
    struct Case {
        const char *name;
        std::optional<std::string> list; // nothing: the engine does not answer 'G'
        std::optional<std::vector<int>> known;
        std::vector<std::pair<int, std::string>> connects; // radio port, the problem connect() returns
    };
    const std::string stereo =
        "2;Port1 first soundcard left;Port2 first soundcard right;Port3 INVALID CHANNEL;"
        "Port4 INVALID CHANNEL;Port5 INVALID CHANNEL;Port6 INVALID CHANNEL;\0"s;
    const std::string gateway = "3;Port1 first soundcard mono;Port2 Internet Gateway;Port3 Network TNC;\0"s;
    const Case cases[] = {
        {"Dire Wolf in stereo",
         stereo,
         std::vector<int>{0, 1},
         {{0, ""}, {1, ""}, {2, "radio port 2 is not one of the packet engine's radio ports (0, 1)"}}},
        {"an internet gateway and a network TNC carry no links",
         gateway,
         std::vector<int>{0},
         {{1, "radio port 1 is not one of the packet engine's radio ports (0)"},
          {2, "radio port 2 is not one of the packet engine's radio ports (0)"}}},
        {"an engine that does not answer", std::nullopt, std::nullopt, {{5, ""}}},
        {"an answer that is no port list", "\x07\0\0\0"s, std::nullopt, {{5, ""}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeAgwServer server;
        if (c.list)
            server.answerPortList(*c.list);
        AgwEngine engine(engineAt(server.port()), fastTiming());
        RecordingListener listener;
        engine.setListener(&listener);
        ASSERT_TRUE(registerAndWait(engine, "N0CALL", &listener));
        ASSERT_TRUE(waitUntil([&] { return server.frameCount() >= 3; }));
        const std::vector<agw::Frame> sent = server.frames();
        EXPECT_EQ(sent[2].kind, 'G'); // right after the registration and monitoring
        if (c.known) {
            ASSERT_TRUE(waitUntil([&] { return !listener.portLists.empty(); }));
            EXPECT_EQ(listener.portLists, std::vector<std::vector<int>>{*c.known});
        } else {
            settle(100ms); // the answer, if any, has long arrived
            EXPECT_TRUE(listener.portLists.empty());
        }
        for (const auto &[port, problem] : c.connects) {
            SCOPED_TRACE(port);
            EXPECT_EQ(engine.connect("GB7DXC", {}, port), problem);
        }
        const std::size_t asked = std::count_if(c.connects.begin(), c.connects.end(),
                                                [](const auto &connect) { return connect.second.empty(); });
        settle(50ms);
        const std::vector<agw::Frame> all = server.frames();
        EXPECT_EQ(static_cast<std::size_t>(std::count_if(all.begin(), all.end(),
                                                         [](const agw::Frame &f) { return f.kind == 'C'; })),
                  asked); // a refused connect never reaches the engine
    }
}

// A restarted engine may have other channels: the list is asked again on each new connection.
TEST(AgwEngineRadioPorts, AsksAgainAfterTheEngineCameBack) {
    using namespace std::string_literals;
    FakeAgwServer server;
    server.answerPortList("1;Port1 first soundcard mono;\0"s);
    AgwEngine engine(engineAt(server.port()), fastTiming());
    RecordingListener listener;
    engine.setListener(&listener);
    ASSERT_TRUE(registerAndWait(engine, "N0CALL", &listener));
    ASSERT_TRUE(waitUntil([&] { return listener.portLists.size() == 1; }));
    EXPECT_NE(engine.connect("GB7DXC", {}, 1), "");

    server.answerPortList("2;Port1 first soundcard left;Port2 first soundcard right;\0"s);
    const StderrNotes quiet;
    server.dropClient();
    ASSERT_TRUE(waitUntil([&] { return listener.portLists.size() == 2; }));
    EXPECT_EQ(listener.portLists.back(), (std::vector<int>{0, 1}));
    EXPECT_EQ(engine.connect("GB7DXC", {}, 1), "");
}

} // namespace
} // namespace corvantle

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the engine's sockets and timers need an event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
