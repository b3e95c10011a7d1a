// The program's own AX.25 link recovering from frames lost on the air: the KissEngine on Dire Wolf engine A's
// KISS TCP port, the cluster station GB7DXC on engine B, and a channel between them that silences every Nth
// transmission in each direction. Run by tools/run-with-engines.sh --kiss-a --lossy-channel N RELAY.
#include "ClusterStationProcess.h"
#include "KissEngine.h"
#include "LinkRecorder.h"
#include "TcpKissTransport.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace corvantle;
using namespace corvantle::test::over_the_air;

namespace {

// Enough lines that both directions lose transmissions with I frames in them whatever way the frames fall
// into transmissions (each of ours goes with the cluster's answer to it), few enough for a run of about a
// minute.
constexpr int kLinesToCluster = 30;
constexpr int kLinesFromCluster = 60;

std::string numbered(int i, const char *format) {
    char line[64];
    std::snprintf(line, sizeof line, format, i);
    return line;
}

QString engineFile(const char *name) {
    QFile file(environment("CORVANTLE_ENGINE_DIR") + "/" + name);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

// The transmissions the relay of one direction dropped, from its log in the engines' directory; -1 without
// a log.
int droppedTransmissions(const char *logName) {
    if (!QFile::exists(environment("CORVANTLE_ENGINE_DIR") + "/" + logName))
        return -1;
    return static_cast<int>(engineFile(logName).count(" dropped "));
}

// The same I frame (sequence number and text; its N(R) and poll bit may differ) sent more than once, from the
// frames `sent` picks out of a log.
template <typename Sent> int resentInformationFrames(const QStringList &lines, Sent sent) {
    int resent = 0;
    std::map<QString, int> seen;
    for (const QString &line : lines)
        if (const std::optional<QString> key = sent(line); key && seen[*key]++ > 0)
            ++resent;
    return resent;
}

// Our I frames sent again, from the engine's frame log ("KISS> port 0 N0CALL>GB7DXC I C P s3 r1 ...").
int resentByUs(const std::vector<std::string> &frameLog) {
    static const QRegularExpression ours(R"(^KISS> port \d+ N0CALL>GB7DXC I C (?:P )?(s\d) r\d (.*)$)");
    QStringList lines;
    for (const std::string &line : frameLog)
        lines << QString::fromStdString(line);
    return resentInformationFrames(lines, [](const QString &line) -> std::optional<QString> {
        const QRegularExpressionMatch match = ours.match(line);
        return match.hasMatch() ? std::optional(match.captured(1) + match.captured(2)) : std::nullopt;
    });
}

// The cluster's I frames that engine B transmitted again, from its own output
// ("[0L] GB7DXC>N0CALL:(I cmd, n(s)=3, n(r)=0, p=0, pid=0xf0)text").
int resentByTheCluster() {
    static const QRegularExpression theirs(
        R"(^\[0L\] GB7DXC>N0CALL:\(I cmd, (n\(s\)=\d), n\(r\)=\d, p=\d, (.*)$)");
    return resentInformationFrames(
        engineFile("b.log").split('\n'), [](const QString &line) -> std::optional<QString> {
            const QRegularExpressionMatch match = theirs.match(line);
            return match.hasMatch() ? std::optional(match.captured(1) + match.captured(2)) : std::nullopt;
        });
}

// Registers and waits for the engine's answer.
bool registerOwnCallsign(kiss::KissEngine &engine, const test::LinkRecorder &recorder) {
    engine.registerCallsign("N0CALL", "corvantle test");
    return QTest::qWaitFor([&] { return !recorder.answers.empty(); }, 10000) && recorder.answers.back();
}

std::vector<std::string> linesStartingWith(const std::string &text, const std::string &prefix) {
    std::vector<std::string> found;
    std::size_t start = 0;
    for (std::size_t end = text.find('\r'); end != std::string::npos; end = text.find('\r', start)) {
        const std::string line = text.substr(start, end - start);
        if (line.starts_with(prefix))
            found.push_back(line);
        start = end + 1;
    }
    return found;
}

TEST(KissLossyChannel, NothingLostDoubledOrReorderedWhenTheChannelDropsFrames) {
    if (environment("CORVANTLE_ENGINE_A_KISS_PORT").isEmpty() ||
        environment("CORVANTLE_ENGINE_B_PORT").isEmpty() || environment("CORVANTLE_ENGINE_DIR").isEmpty())
        GTEST_SKIP() << "needs engine A's KISS port and engine B on a lossy channel: run through "
                        "tools/run-with-engines.sh --kiss-a --lossy-channel N RELAY";
    ASSERT_GE(droppedTransmissions("lossy-ab.log"), 0) << "the channel is not lossy: no relay log";
    ClusterStation cluster("3600");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 10000));

    // A short PACLEN spreads our lines over many I frames, so a lost transmission loses some of them.
    kiss::KissEngineOptions options;
    options.link.paclen = 32;
    // This channel passes the audio on at once: frames take no air time worth estimating.
    options.link.bitRate = 0;
    kiss::KissEngine engine(
        std::make_unique<kiss::TcpKissTransport>(
            "127.0.0.1", static_cast<std::uint16_t>(environment("CORVANTLE_ENGINE_A_KISS_PORT").toUInt())),
        options);
    test::LinkRecorder recorder;
    std::vector<std::string> frameLog;
    engine.setListener(&recorder);
    engine.setLog([](const std::string &line) { std::cerr << "engine: " << line << "\n"; },
                  [&](const std::string &line) { frameLog.push_back(line); });

    ASSERT_TRUE(registerOwnCallsign(engine, recorder));
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.ups > 0; }, 120000)) << "no link";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return recorder.data.find("N0CALL de GB7DXC >") != std::string::npos; }, 60000))
        << recorder.data;

    // Our lines to the cluster, all queued at once.
    std::vector<std::string> expectedAtCluster;
    for (int i = 1; i <= kLinesToCluster; ++i) {
        const std::string line = numbered(i, "line %03d to the cluster\r");
        ASSERT_TRUE(engine.canTakeData());
        ASSERT_TRUE(engine.sendData("GB7DXC", line, 0));
        expectedAtCluster.push_back(line);
    }
    const std::string lastToCluster = numbered(kLinesToCluster, R"(RX N0CALL "line %03d to the cluster\r")");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return cluster.logged(QString::fromStdString(lastToCluster)); }, 180000))
        << cluster.texts("RX N0CALL ").size() << " lines arrived";
    EXPECT_EQ(cluster.texts("RX N0CALL "), expectedAtCluster);

    // The cluster's numbered lines to us.
    ASSERT_TRUE(engine.sendData("GB7DXC", "count " + std::to_string(kLinesFromCluster) + "\r", 0));
    const std::string lastFromCluster =
        numbered(kLinesFromCluster, "LINE %04d of ") + numbered(kLinesFromCluster, "%04d\r");
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return recorder.data.find(lastFromCluster) != std::string::npos; }, 180000))
        << recorder.data.size() << " bytes arrived";
    std::vector<std::string> expectedFromCluster;
    for (int i = 1; i <= kLinesFromCluster; ++i)
        expectedFromCluster.push_back(numbered(i, "LINE %04d of ") + numbered(kLinesFromCluster, "%04d"));
    EXPECT_EQ(linesStartingWith(recorder.data, "LINE "), expectedFromCluster);

    engine.disconnect("GB7DXC", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.downs > 0; }, 120000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 30000));
    EXPECT_EQ(recorder.ups, 1);
    EXPECT_EQ(recorder.downs, 1);

    // The test means something only if the channel did lose transmissions both ways and I frames had to be
    // sent again both ways: ours by our link, the cluster's by engine B.
    std::ofstream(environment("CORVANTLE_ENGINE_DIR").toStdString() + "/kiss-frames.log") << [&] {
        std::string all;
        for (const std::string &line : frameLog)
            all += line + "\n";
        return all;
    }();
    const int droppedToB = droppedTransmissions("lossy-ab.log");
    const int droppedToA = droppedTransmissions("lossy-ba.log");
    const int resentByA = resentByUs(frameLog);
    const int resentByB = resentByTheCluster();
    std::cout << "transmissions dropped: " << droppedToB << " to the cluster's engine, " << droppedToA
              << " to ours; I frames sent again: " << resentByA << " by us, " << resentByB
              << " by the cluster\n";
    EXPECT_GT(droppedToB, 0);
    EXPECT_GT(droppedToA, 0);
    EXPECT_GT(resentByA, 0) << "none of our I frames was sent again";
    EXPECT_GT(resentByB, 0) << "none of the cluster's I frames was sent again";
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
