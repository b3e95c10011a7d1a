// The link's timing on a channel that behaves like a radio's: the audio plays out at real time and both
// engines wait for a clear channel (tools/run-with-engines.sh --kiss-a --paced-channel RELAY). There a window
// of four full I frames takes about four seconds of air, longer than FRACK, and the acknowledgement comes
// after that. A link whose timer runs while its own frames are still waiting for the air or still on it
// polls and sends the window again with nothing lost, and one that asks for the link twice is greeted
// twice. One connect, over either of the program's links, gets one SABM on the air and one greeting, and
// a window of text on a channel that loses nothing goes out once.
#include "LinkRun.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace corvantle;
using namespace corvantle::test::over_the_air;

namespace {

// Five lines of 100 bytes: four full I frames at PACLEN 128, one window at MAXFRAME 4.
constexpr int kLines = 5;

std::string line(int i) {
    std::string text = "line " + std::to_string(i) + " ";
    text.resize(99, 'x');
    return text + "\r";
}

class PacedChannelTest : public ::testing::TestWithParam<Link> {
  protected:
    void SetUp() override {
        if (environment("CORVANTLE_ENGINE_PACED").isEmpty() ||
            environment("CORVANTLE_ENGINE_A_KISS_PORT").isEmpty())
            GTEST_SKIP() << "needs the paced channel and engine A's KISS port: run through "
                            "tools/run-with-engines.sh --kiss-a --paced-channel RELAY";
        ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 15000));
    }

    ClusterStation cluster{"3600"};
};

TEST_P(PacedChannelTest, OneSabmOneGreetingAndAWindowSentOnce) {
    LinkRun run(GetParam(), LinkParameters{});
    const HeardFromUs before = heardFromUs();
    ASSERT_TRUE(run.connect(std::chrono::seconds(90))) << "no link";
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.count("N0CALL de GB7DXC >") > 0; }, 60000)) << run.data;
    for (int i = 1; i <= kLines; ++i)
        ASSERT_TRUE(run.send(line(i)));
    const QString last = QString::fromStdString("RX N0CALL \"" + line(kLines).substr(0, 99) + "\\r\"");
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(last); }, 120000)) << run.data;
    // The cluster's answers: by then a second SABM or a window sent again would have gone out.
    ASSERT_TRUE(QTest::qWaitFor([&] { return run.count("N0CALL de GB7DXC >") > kLines; }, 120000))
        << run.data;

    const HeardFromUs heard = heardFromUs();
    EXPECT_EQ(heard.connects - before.connects, 1);
    EXPECT_EQ(run.count("Hello N0CALL"), 1U) << run.data;
    EXPECT_EQ(cluster.log().count("UP N0CALL"), 1) << cluster.log().join('\n').toStdString();
    EXPECT_EQ(heard.resent - before.resent, 0) << "I frames sent again on a channel that lost nothing";
    EXPECT_EQ(run.ups, 1);

    run.engine().disconnect("GB7DXC", 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return run.downs > 0; }, 60000));
}

INSTANTIATE_TEST_SUITE_P(BothLinks, PacedChannelTest, ::testing::Values(Link::DireWolf, Link::Kiss),
                         [](const ::testing::TestParamInfo<Link> &info) {
                             return info.param == Link::Kiss ? "OwnKissLink" : "DireWolfsLink";
                         });

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
