// The KissEngine on a serial line, as with a hardware TNC: Dire Wolf engine A's KISS pseudo-terminal, opened
// and set up by SerialKissTransport (termios, raw 8N1), with the cluster station GB7DXC on engine B. Run by
// tools/run-with-engines.sh --kiss-pty-a.
#include "ClusterStationProcess.h"
#include "KissEngine.h"
#include "SerialKissTransport.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

using namespace corvantle;
using namespace corvantle::test::over_the_air;

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
    void engineClosed() override {}

    std::vector<bool> answers;
    std::vector<EngineFrame> of(FrameKind kind) const {
        std::vector<EngineFrame> found;
        std::copy_if(frames.begin(), frames.end(), std::back_inserter(found),
                     [kind](const EngineFrame &frame) { return frame.kind == kind; });
        return found;
    }
    std::size_t count(const std::string &text) const {
        std::size_t found = 0;
        for (std::size_t at = data.find(text); at != std::string::npos; at = data.find(text, at + 1))
            ++found;
        return found;
    }

    std::vector<EngineFrame> frames;
    std::string data;
};

// Registers and waits for the engine's answer.
bool registerOwnCallsign(kiss::KissEngine &engine, const Recorder &recorder) {
    engine.registerCallsign("N0CALL", "corvantle test");
    return QTest::qWaitFor([&] { return !recorder.answers.empty(); }, 10000) && recorder.answers.back();
}

// Link up, the greeting, a spot, a command answered, our disconnect, link down: a session over the line.
TEST(KissSerialLine, ASessionWithTheClusterThroughATncOnASerialLine) {
    const QString line = environment("CORVANTLE_ENGINE_A_KISS_PTY");
    if (line.isEmpty() || environment("CORVANTLE_ENGINE_B_PORT").isEmpty())
        GTEST_SKIP() << "needs engine A's KISS pseudo-terminal and engine B: run through "
                        "tools/run-with-engines.sh --kiss-pty-a";
    ClusterStation cluster; // a spot every 2 s
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 10000));
    kiss::KissEngine engine(std::make_unique<kiss::SerialKissTransport>(line.toStdString(), 9600));
    Recorder recorder;
    engine.setListener(&recorder);
    engine.setLog([](const std::string &text) { std::cerr << "engine: " << text << "\n"; },
                  [](const std::string &text) { std::cerr << "frame: " << text << "\n"; });

    ASSERT_TRUE(registerOwnCallsign(engine, recorder));
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.of(FrameKind::LinkUp).empty(); }, 60000)) << "no link";
    EXPECT_EQ(recorder.of(FrameKind::LinkUp).front().text, "*** CONNECTED With Station GB7DXC\r");
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count("N0CALL de GB7DXC >\r") > 0; }, 30000))
        << recorder.data;
    EXPECT_TRUE(recorder.data.starts_with("Hello N0CALL, this is GB7DXC")) << recorder.data;
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.count("\rDX de ") > 0; }, 30000)) << recorder.data;

    const std::size_t promptsBefore = recorder.count("N0CALL de GB7DXC >\r");
    ASSERT_TRUE(engine.sendData("GB7DXC", "sh/dx\r", 0));
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx\r")"); }, 30000))
        << cluster.log().join('\n').toStdString();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return recorder.count("N0CALL de GB7DXC >\r") > promptsBefore; }, 30000))
        << "no answer to the command: " << recorder.data;

    engine.disconnect("GB7DXC", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.of(FrameKind::LinkDown).empty(); }, 60000));
    EXPECT_EQ(recorder.of(FrameKind::LinkDown).front().text, "*** DISCONNECTED From Station GB7DXC\r");
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 30000))
        << cluster.log().join('\n').toStdString();
    EXPECT_EQ(recorder.of(FrameKind::LinkUp).size(), 1u);
    EXPECT_EQ(recorder.of(FrameKind::LinkDown).size(), 1u);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the transport's notifiers and the link's timers need an event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
