// The KissEngine against a real peer: the program's own AX.25 link on Dire Wolf engine A's KISS TCP port,
// the project's cluster station GB7DXC on engine B (Dire Wolf's own AX.25 is the far end of the link), the
// two engines joined by a simulated radio channel. Run by tools/run-with-engines.sh --kiss-a.
#include "AgwEngine.h"
#include "ClusterStationProcess.h"
#include "KissEngine.h"
#include "TcpKissTransport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace corvantle;
using namespace corvantle::test::over_the_air;
using namespace std::chrono_literals;

namespace {

class Recorder final : public EngineListener {
  public:
    void frameArrived(const EngineFrame &frame) override {
        frames.push_back(frame);
        if (frame.kind == FrameKind::LinkData)
            data += frame.text;
    }
    void readyForData() override {}
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override { ++closes; }
    // Registers and waits for the answer, as the bridge does.
    bool registered(PacketEngine &engine, const std::string &call, const std::string &program) {
        const std::size_t before = answers.size();
        engine.registerCallsign(call, program);
        return QTest::qWaitFor([&] { return answers.size() > before; }, 10000) && answers.back();
    }
    std::vector<EngineFrame> of(FrameKind kind) const {
        std::vector<EngineFrame> found;
        std::copy_if(frames.begin(), frames.end(), std::back_inserter(found),
                     [kind](const EngineFrame &frame) { return frame.kind == kind; });
        return found;
    }

    std::vector<EngineFrame> frames;
    std::string data;
    std::vector<bool> answers;
    int closes = 0;
};

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\r'); end != std::string::npos; end = text.find('\r', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string numbered(int i, const char *format) {
    char line[40];
    std::snprintf(line, sizeof line, format, i);
    return line;
}

// Another station with its own AGW client, recording the frames it is handed.
class AgwStation {
  public:
    explicit AgwStation(const char *portVariable)
        : engine(settings::EngineAddress{"127.0.0.1",
                                         static_cast<std::uint16_t>(environment(portVariable).toUInt())}) {
        engine.setListener(&recorder);
    }
    ~AgwStation() {
        engine.close();
        (void)QTest::qWaitFor([this] { return recorder.closes > 0; }, 10000);
    }

    Recorder recorder;
    AgwEngine engine;
};

class KissEngineDirewolfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (environment("CORVANTLE_ENGINE_A_KISS_PORT").isEmpty() ||
            environment("CORVANTLE_ENGINE_B_PORT").isEmpty())
            GTEST_SKIP()
                << "needs engine A's KISS port and engine B: run through tools/run-with-engines.sh --kiss-a";
        // A connect that reaches engine B before the station registered there is never answered.
        ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 10000));
        engine.setListener(&recorder);
    }

    ClusterStation cluster{"3600"};
    kiss::KissEngine engine{std::make_unique<kiss::TcpKissTransport>(
        "127.0.0.1", static_cast<std::uint16_t>(environment("CORVANTLE_ENGINE_A_KISS_PORT").toUInt()))};
    Recorder recorder;
};

// Link up, 200 numbered lines from the cluster and 200 to it, each once and in order, then our disconnect.
TEST_F(KissEngineDirewolfTest, ASessionWithTheClusterOverTheProgramsOwnLink) {
    ASSERT_TRUE(recorder.registered(engine, "N0CALL", "corvantle test"));
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.of(FrameKind::LinkUp).empty(); }, 60000));
    const EngineFrame up = recorder.of(FrameKind::LinkUp).front();
    EXPECT_EQ(up.text, "*** CONNECTED With Station GB7DXC\r");
    EXPECT_EQ(up.from, "GB7DXC");
    EXPECT_EQ(up.to, "N0CALL");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return recorder.data.find("N0CALL de GB7DXC >") != std::string::npos; }, 60000))
        << recorder.data;

    engine.sendData("GB7DXC", "count 200\r", 0);
    const std::string last = "LINE 0200 of 0200\r";
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.data.find(last) != std::string::npos; }, 240000))
        << recorder.data.size() << " bytes arrived";
    std::vector<std::string> counted;
    for (const std::string &line : linesOf(recorder.data))
        if (line.starts_with("LINE "))
            counted.push_back(line);
    std::vector<std::string> expectedFromCluster;
    for (int i = 1; i <= 200; ++i)
        expectedFromCluster.push_back(numbered(i, "LINE %04d of 0200"));
    EXPECT_EQ(counted, expectedFromCluster);

    std::vector<std::string> expectedAtCluster{"count 200\r"};
    for (int i = 1; i <= 200; ++i) {
        const std::string line = numbered(i, "%03d\r");
        ASSERT_TRUE(engine.canTakeData());
        engine.sendData("GB7DXC", line, 0);
        expectedAtCluster.push_back(line);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "200\r")"); }, 300000))
        << cluster.texts("RX N0CALL ").size() << " lines arrived";
    EXPECT_EQ(cluster.texts("RX N0CALL "), expectedAtCluster);

    engine.disconnect("GB7DXC", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.of(FrameKind::LinkDown).empty(); }, 60000));
    EXPECT_EQ(recorder.of(FrameKind::LinkDown).front().text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 10000));
    EXPECT_EQ(recorder.of(FrameKind::LinkUp).size(), 1u);
    EXPECT_EQ(recorder.of(FrameKind::LinkDown).size(), 1u);
}

// Monitoring: a third station on engine A works the cluster, and the frames the cluster sends it are heard
// with their text. A stranger on engine B who asks for a link to the user's callsign is refused (DM).
TEST_F(KissEngineDirewolfTest, OthersTrafficIsHeardAndAStrangerGetsNoLink) {
    ASSERT_TRUE(recorder.registered(engine, "N0CALL", "corvantle test"));
    AgwStation third("CORVANTLE_ENGINE_A_PORT");
    ASSERT_TRUE(third.recorder.registered(third.engine, "G4XYZ", "third station"));
    ASSERT_EQ(third.engine.connect("GB7DXC", {}, 0), "");
    const auto heardGreeting = [&] {
        for (const EngineFrame &frame : recorder.of(FrameKind::HeardInformation))
            if (frame.from == "GB7DXC" && frame.to == "G4XYZ" && frame.text.starts_with("Hello G4XYZ"))
                return true;
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor(heardGreeting, 60000));
    third.engine.disconnect("GB7DXC", 0);

    AgwStation stranger("CORVANTLE_ENGINE_B_PORT");
    ASSERT_TRUE(stranger.recorder.registered(stranger.engine, "G4ABC", "stranger"));
    ASSERT_EQ(stranger.engine.connect("N0CALL", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !stranger.recorder.of(FrameKind::LinkDown).empty(); }, 60000))
        << "the stranger's connect was not refused";
    EXPECT_TRUE(stranger.recorder.of(FrameKind::LinkUp).empty());
    EXPECT_TRUE(recorder.of(FrameKind::LinkUp).empty());
    EXPECT_TRUE(recorder.of(FrameKind::LinkData).empty());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the engine's sockets and timers need an event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
