// AgwEngine against a fake engine on loopback: registration, the requests it writes, the frames it hands
// out, monitored copies of own links, framing, and the loss of the engine connection.
#include "AgwEngine.h"
#include "FakeAgwServer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace corvantle {
namespace {

using namespace std::chrono_literals;
using test::FakeAgwServer;
using test::Registration;

constexpr const char *kProgram = "Corvantle Test";

AgwTiming fastTiming() {
    AgwTiming timing;
    timing.answerWait = 300ms;
    timing.retryInterval = 300ms;
    timing.retryConnectWait = 100ms;
    timing.closeGrace = 300ms;
    return timing;
}

SettingLookup engineAt(const std::string &port, const std::string &host = "127.0.0.1") {
    return
        [=](const std::string &, const std::string &section, const std::string &key, const std::string &def) {
            if (section == "Engine" && key == "Port")
                return port;
            if (section == "Engine" && key == "Host")
                return host;
            return def;
        };
}

// A loopback port nobody listens on.
std::string closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return std::to_string(ntohs(address.sin_port));
}

struct Received {
    int16_t result = 0;
    std::string header;
    std::string buffer;
    int32_t kind = 0;
    int32_t length = 0;
    int32_t port = 0;

    std::string text() const { return buffer.substr(0, static_cast<std::size_t>(length)); }
    // What the bridge forwards from a "D" or "I" frame: from two past the first "]" to one before the end.
    std::string forwarded() const {
        const std::size_t close = buffer.find(']');
        return buffer.substr(close + 2, static_cast<std::size_t>(length) - close - 3);
    }
};

Received getOnce(AgwEngine &engine) {
    Received r;
    r.header.assign(kHeaderFieldChars, '\0');
    r.buffer.assign(kReceiveBufferChars, '\0');
    r.result = engine.AGWGetData(r.header, r.buffer, r.kind, r.length, r.port);
    return r;
}

// Polls as the bridge's timer does, only faster, until a frame comes or `wait` passes.
Received getWithin(AgwEngine &engine, std::chrono::milliseconds wait = 2s) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        Received r = getOnce(engine);
        if (r.result != 0 || std::chrono::steady_clock::now() >= deadline)
            return r;
        std::this_thread::sleep_for(5ms);
    }
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

std::string kinds(const std::vector<agw::Frame> &frames) {
    std::string letters;
    for (const agw::Frame &f : frames)
        letters += f.kind;
    return letters;
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
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(engine.AGWStartPoll(" n0call-0", kProgram) != 0, c.registered);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
        const std::vector<agw::Frame> sent = server.frames(c.registered ? 2 : 1);
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent[0].kind, 'X');
        EXPECT_EQ(sent[0].callFrom, "N0CALL");
        EXPECT_EQ(kinds(sent), c.registered ? "Xm" : "X");
    }
}

TEST(AgwEngineRegistration, SendsMonitoringOnOncePerConnection) {
    FakeAgwServer server;
    AgwEngine engine(engineAt(server.port()), fastTiming());
    ASSERT_NE(engine.AGWStartPoll("N0CALL", kProgram), 0);
    for (int i = 0; i < 5; ++i)
        getOnce(engine);
    engine.AGWPutData("GB7DXC", "", 'c', 0, 0);
    engine.AGWClose();
    EXPECT_EQ(kinds(server.frames(5)), "XmCdx"); // the pending link is ended before unregistering
}

TEST(AgwEngineRegistration, FailsFastWhenNoEngineListens) {
    AgwEngine engine(engineAt(closedPort()));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.AGWStartPoll("N0CALL", kProgram), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(AgwEngineRegistration, ReadsHostAndPortUnderTheProgramName) {
    FakeAgwServer server;
    std::vector<std::string> asked;
    AgwEngine engine(
        [&](const std::string &app, const std::string &section, const std::string &key,
            const std::string &def) {
            asked.push_back(app + "|" + section + "|" + key + "|" + def);
            return key == "Port" ? server.port() : def;
        },
        fastTiming());
    ASSERT_NE(engine.AGWStartPoll("N0CALL", kProgram), 0);
    EXPECT_EQ(asked, (std::vector<std::string>{"Corvantle Test|Engine|Host|127.0.0.1",
                                               "Corvantle Test|Engine|Port|8000"}));
}

TEST(AgwEngineRegistration, ReportsAPortSettingThatIsNoPort) {
    for (const char *bad : {"0", "65536", "80x", "", "-5", "1e3"}) {
        SCOPED_TRACE(bad);
        AgwEngine engine(engineAt(bad), fastTiming());
        testing::internal::CaptureStderr();
        engine.AGWStartPoll("N0CALL", kProgram);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("Port=\"" + std::string(bad) + "\""), std::string::npos) << said;
        EXPECT_NE(said.find("8000"), std::string::npos) << said;
    }
}

// ---- A registered engine ------------------------------------------------------------------------------

class AgwEngineTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(engine.AGWStartPoll("n0call-0", kProgram), 0);
        server.frames(2);
    }

    // The frames the engine sent after its registration.
    std::vector<agw::Frame> requests(std::size_t count) {
        std::vector<agw::Frame> all = server.frames(count + 2);
        return {all.begin() + 2, all.end()};
    }

    void linkUp(const std::string &remote) {
        server.send(frame('C', remote, "N0CALL", notice("*** CONNECTED With Station " + remote)));
        ASSERT_EQ(getWithin(engine).kind, 'c');
    }

    FakeAgwServer server;
    AgwEngine engine{engineAt(server.port()), fastTiming()};
};

// ---- Requests -----------------------------------------------------------------------------------------

TEST_F(AgwEngineTest, ConnectRequestsNameOwnCallAndRoute) {
    struct Case {
        int16_t kind;
        const char *field;
        char sentKind;
        const char *remote;
        std::string data;
    };
    const Case cases[] = {
        {'c', "gb7dxc-0", 'C', "GB7DXC", ""},
        {'v', "GB7DXC", 'C', "GB7DXC", ""},
        {'v', " GB7DXC , ,", 'C', "GB7DXC", ""},
        {'v', "gb7dxc, relay1 ,,Relay2-0", 'v', "GB7DXC", std::string("\2RELAY1\0\0\0\0RELAY2\0\0\0\0", 21)},
        {'v', "GB7DXC,A1,A2,A3,A4,A5,A6,A7", 'v', "GB7DXC",
         std::string("\7A1\0\0\0\0\0\0\0\0A2\0\0\0\0\0\0\0\0A3\0\0\0\0\0\0\0\0A4\0\0\0\0\0\0\0\0"
                     "A5\0\0\0\0\0\0\0\0A6\0\0\0\0\0\0\0\0A7\0\0\0\0\0\0\0\0",
                     71)},
    };
    std::size_t count = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        EXPECT_NE(engine.AGWPutData(c.field, "", c.kind, 0, 3), 0);
        const agw::Frame sent = requests(++count).back();
        EXPECT_EQ(sent.kind, c.sentKind);
        EXPECT_EQ(sent.port, 3);
        EXPECT_EQ(sent.callFrom, "N0CALL");
        EXPECT_EQ(sent.callTo, c.remote);
        EXPECT_EQ(sent.data, c.data);
    }
}

TEST_F(AgwEngineTest, RefusesMoreThanSevenDigipeaters) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(engine.AGWPutData("GB7DXC,A1,A2,A3,A4,A5,A6,A7,A8", "", 'v', 0, 0), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr(), "");
    engine.AGWPutData("GB7DXC", "x", 'D', 1, 0); // a marker: nothing may come before it
    EXPECT_EQ(kinds(requests(1)), "D");
    // The telnet user hears that the connect went nowhere.
    const Received down = getWithin(engine);
    EXPECT_EQ(down.kind, 'd');
    EXPECT_EQ(down.text(), notice("*** DISCONNECTED From Station GB7DXC"));
}

TEST_F(AgwEngineTest, SplitsDataIntoFramesOf256InOrder) {
    std::string text;
    for (int i = 0; i < 600; ++i)
        text += static_cast<char>('0' + i % 75);
    EXPECT_NE(engine.AGWPutData("gb7dxc", text + "not counted", 'D', 600, 1), 0);
    const std::vector<agw::Frame> sent = requests(3);
    ASSERT_EQ(sent.size(), 3u);
    std::string joined;
    for (const agw::Frame &f : sent) {
        EXPECT_EQ(f.kind, 'D');
        EXPECT_EQ(f.pid, 0xF0);
        EXPECT_EQ(f.port, 1);
        EXPECT_EQ(f.callFrom, "N0CALL");
        EXPECT_EQ(f.callTo, "GB7DXC");
        EXPECT_LE(f.data.size(), 256u);
        joined += f.data;
    }
    EXPECT_EQ(joined, text);
}

TEST_F(AgwEngineTest, SendsDisconnect) {
    EXPECT_NE(engine.AGWPutData("GB7DXC-0", "", 'd', 0, 0), 0);
    const agw::Frame sent = requests(1).at(0);
    EXPECT_EQ(sent.kind, 'd');
    EXPECT_EQ(sent.callFrom, "N0CALL");
    EXPECT_EQ(sent.callTo, "GB7DXC");
}

// ---- Received frames ----------------------------------------------------------------------------------

TEST_F(AgwEngineTest, MapsNoticesAndPassesOtherKindsUnchanged) {
    struct Case {
        agw::Frame sent;
        char kind;
    };
    const Case cases[] = {
        {frame('C', "GB7DXC", "N0CALL", notice("*** CONNECTED With Station GB7DXC"), 1), 'c'},
        {frame('d', "GB7DXC", "N0CALL", notice("*** DISCONNECTED From Station GB7DXC"), 1), 'd'},
        {frame('T', "N0CALL", "GB7DXC", notice(" 1:Fm N0CALL To GB7DXC <SABM P=1 >[03:09:00]")), 'T'},
        {frame('S', "GB7DXC", "N0CALL", notice(" 1:Fm GB7DXC To N0CALL <UA F=1 >[03:09:00]")), 'S'},
        {frame('y', "", "", std::string("\3\0\0\0", 4), 2), 'y'},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.kind);
        server.send(c.sent);
        const Received r = getWithin(engine);
        ASSERT_NE(r.result, 0);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.text(), c.sent.data);
        EXPECT_EQ(r.port, c.sent.port);
        EXPECT_EQ(r.header, c.sent.callFrom + std::string(25 - c.sent.callFrom.size(), '\0'));
        EXPECT_EQ(r.buffer.size(), 4000u);
        EXPECT_EQ(r.buffer.find_first_not_of('\0', r.text().size()), std::string::npos);
    }
}

TEST_F(AgwEngineTest, LaysOutReceivedTextSoThePayloadIsForwardedExactly) {
    const std::string payloads[] = {
        "DX de K1ABC:     14025.0  JA1XYZ       CW                             1234Z\r",
        "a line cut in the mid", // cluster lines can span frames: no line end may be added
        "brackets ] [x] inside\r",
        std::string("binary\0bytes\xFF", 13),
        "",
    };
    for (const std::string &payload : payloads) {
        SCOPED_TRACE(payload);
        server.send(frame('D', "GB7DXC", "N0CALL", payload));
        const Received d = getWithin(engine);
        EXPECT_EQ(d.kind, 'D');
        EXPECT_NE(d.text().find("Fm GB7DXC"), std::string::npos);
        // The callsign exactly as registered (the fixture registers "n0call-0"): the bridge looks for
        // "To " followed by its own setting, which may be stored in lower case.
        EXPECT_NE(d.text().find("To n0call-0 "), std::string::npos);
        EXPECT_EQ(d.buffer[d.buffer.find(']') + 1], '\r');
        EXPECT_EQ(d.forwarded(), payload);
        EXPECT_EQ(d.header.substr(0, 7), std::string("GB7DXC\0", 7));

        server.send(frame('I', "K1ABC", "W1AW", monitoredI("K1ABC", "W1AW", payload)));
        const Received i = getWithin(engine);
        EXPECT_EQ(i.kind, 'I');
        EXPECT_NE(i.text().find("Fm K1ABC To W1AW"), std::string::npos);
        EXPECT_EQ(i.forwarded(), payload);
        EXPECT_EQ(i.header.substr(0, 6), std::string("K1ABC\0", 6));
    }
}

TEST_F(AgwEngineTest, DropsOnlyTheEnginesOwnLineEndFromMonitorTexts) {
    struct Case {
        std::string text;
        std::string forwarded;
    };
    const Case cases[] = {
        // Dire Wolf 1.6 copies the information only up to its first NUL.
        {notice(" 1:Fm K1ABC To W1AW <I S0 R0 pid=0xF0 Len=13 P=0 >[03:09:00]\rbinary"), "binary"},
        {notice(" 1:Fm K1ABC To W1AW <I S0 R0 >[03:09:00]\rno length"), "no length"},
    };
    for (const Case &c : cases) {
        server.send(frame('I', "K1ABC", "W1AW", c.text));
        EXPECT_EQ(getWithin(engine).forwarded(), c.forwarded);
    }
}

TEST_F(AgwEngineTest, CutsAFrameLongerThanTheBufferTo4000) {
    std::string big(5000, 'u');
    big[3999] = 'L';
    server.send(frame('U', "K1ABC", "W1AW", big));
    const Received r = getWithin(engine);
    EXPECT_EQ(r.length, 4000);
    EXPECT_EQ(r.buffer, big.substr(0, 4000));
}

// ---- Framing ------------------------------------------------------------------------------------------

TEST_F(AgwEngineTest, ReassemblesAFrameSentByteByByte) {
    const std::string bytes = agw::encode(frame('D', "GB7DXC", "N0CALL", "hello\r"));
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
        server.send(bytes.substr(i, 1));
        if (i % 8 == 0)
            std::this_thread::sleep_for(1ms); // let some bytes arrive alone
        ASSERT_EQ(getOnce(engine).result, 0) << "after " << i + 1 << " bytes";
    }
    server.send(bytes.substr(bytes.size() - 1));
    EXPECT_EQ(getWithin(engine).forwarded(), "hello\r");
}

TEST_F(AgwEngineTest, HandsOutJoinedFramesOneAtATimeInOrder) {
    server.send(agw::encode(frame('C', "GB7DXC", "N0CALL", notice("*** CONNECTED With Station GB7DXC"))) +
                agw::encode(frame('D', "GB7DXC", "N0CALL", "one\r")) +
                agw::encode(frame('D', "GB7DXC", "N0CALL", "two\r")) +
                agw::encode(frame('d', "GB7DXC", "N0CALL", notice("*** DISCONNECTED From Station GB7DXC"))));
    EXPECT_EQ(getWithin(engine).kind, 'c');
    EXPECT_EQ(getOnce(engine).forwarded(), "one\r");
    EXPECT_EQ(getOnce(engine).forwarded(), "two\r");
    EXPECT_EQ(getOnce(engine).kind, 'd');
    EXPECT_EQ(getOnce(engine).result, 0);
}

TEST_F(AgwEngineTest, AnAbsurdLengthEndsTheConnection) {
    std::string header = agw::encode(frame('D', "GB7DXC", "N0CALL", ""));
    header.replace(28, 4, "\xFF\xFF\xFF\x7F");
    server.send(agw::encode(frame('U', "K1ABC", "W1AW", "before")) + header + std::string(64, 'g'));
    EXPECT_EQ(getWithin(engine).text(), "before");
    for (int i = 0; i < 100 && !server.waitForClientGone(10ms); ++i)
        getOnce(engine);
    EXPECT_TRUE(server.waitForClientGone(0ms));
}

// ---- Own links and their monitored copies -------------------------------------------------------------

TEST_F(AgwEngineTest, HidesMonitoredCopiesOfOwnLinksOnly) {
    const auto other = frame('I', "K1ABC", "W1AW", monitoredI("K1ABC", "W1AW", "theirs\r"));
    const auto fromRemote = frame('I', "GB7DXC", "N0CALL", monitoredI("GB7DXC", "N0CALL", "spot\r"));
    const auto toRemote = frame('I', "N0CALL", "GB7DXC", monitoredI("N0CALL", "GB7DXC", "sh/dx\r"));

    engine.AGWPutData("gb7dxc-0", "", 'c', 0, 0);
    server.send(fromRemote); // can come before the 'C' notice
    server.send(other);
    EXPECT_EQ(getWithin(engine).forwarded(), "theirs\r");
    linkUp("GB7DXC");
    server.send(fromRemote);
    server.send(fromRemote); // a retransmission
    server.send(toRemote);
    server.send(frame('D', "GB7DXC", "N0CALL", "spot\r"));
    const Received data = getWithin(engine);
    EXPECT_EQ(data.kind, 'D');
    EXPECT_EQ(data.forwarded(), "spot\r");
    server.send(other);
    EXPECT_EQ(getWithin(engine).kind, 'I');

    server.send(frame('d', "GB7DXC", "N0CALL", notice("*** DISCONNECTED From Station GB7DXC")));
    EXPECT_EQ(getWithin(engine).kind, 'd');
    server.send(fromRemote); // no longer an own link
    EXPECT_EQ(getWithin(engine).kind, 'I');
}

TEST_F(AgwEngineTest, HidesMonitoredCopiesOfAnIncomingLink) {
    server.send(frame('C', "K1ABC", "N0CALL", notice("*** CONNECTED To Station K1ABC")));
    server.send(frame('I', "K1ABC", "N0CALL", monitoredI("K1ABC", "N0CALL", "hello\r")));
    server.send(frame('D', "K1ABC", "N0CALL", "hello\r"));
    EXPECT_EQ(getWithin(engine).kind, 'c');
    EXPECT_EQ(getWithin(engine).kind, 'D');
    EXPECT_EQ(getWithin(engine, 100ms).result, 0);
}

// ---- Losing the engine --------------------------------------------------------------------------------

TEST_F(AgwEngineTest, ReportsHeldLinksDownAndReconnectsWhenTheEngineGoes) {
    linkUp("GB7DXC");
    engine.AGWPutData("K1ABC", "", 'c', 0, 0); // still pending
    server.frames(3);
    testing::internal::CaptureStderr();
    server.dropClient();
    std::vector<Received> down{getWithin(engine), getWithin(engine)};
    const auto lostAt = std::chrono::steady_clock::now();
    std::sort(down.begin(), down.end(), [](auto &a, auto &b) { return a.text() < b.text(); });
    EXPECT_EQ(down[0].kind, 'd');
    EXPECT_EQ(down[0].text(), notice("*** DISCONNECTED From Station GB7DXC"));
    EXPECT_EQ(down[0].header.substr(0, 7), std::string("GB7DXC\0", 7));
    EXPECT_EQ(down[1].kind, 'd');
    EXPECT_EQ(down[1].text(), notice("*** DISCONNECTED From Station K1ABC"));
    EXPECT_EQ(engine.AGWPutData("GB7DXC", "lost\r", 'D', 5, 0), 0);

    while (!server.waitForConnections(2, 5ms))
        ASSERT_EQ(getOnce(engine).result, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - lostAt, 250ms); // not before the retry interval
    EXPECT_EQ(kinds(server.frames(5)), "XmCXm");
    for (int i = 0; i < 5; ++i)
        getWithin(engine, 10ms);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("lost"), std::string::npos) << said;
    EXPECT_NE(said.find("back"), std::string::npos) << said;

    // The links are gone with the old connection: their monitored frames are others' again.
    server.send(frame('I', "GB7DXC", "N0CALL", monitoredI("GB7DXC", "N0CALL", "x\r")));
    EXPECT_EQ(getWithin(engine).kind, 'I');
    EXPECT_NE(engine.AGWPutData("GB7DXC", "", 'c', 0, 0), 0);
}

TEST_F(AgwEngineTest, CloseEndsHeldLinksThenUnregistersAndIsSafeTwice) {
    linkUp("GB7DXC");
    engine.AGWClose();
    EXPECT_TRUE(server.waitForClientGone(1s));
    const std::vector<agw::Frame> sent = requests(2);
    EXPECT_EQ(kinds(sent), "dx");
    EXPECT_EQ(sent.at(0).callTo, "GB7DXC");
    engine.AGWClose();
    EXPECT_EQ(getOnce(engine).result, 0);
    EXPECT_EQ(engine.AGWPutData("GB7DXC", "x", 'D', 1, 0), 0);
}

} // namespace
} // namespace corvantle
