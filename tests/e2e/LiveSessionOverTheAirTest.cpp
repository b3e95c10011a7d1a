// A live session over the air keeps its truth: Preferences changed under a link, a logging program that
// reconnects while the last link is still closing, and the last line typed just before the program closes.
// The bridge and the real Preferences dialog on Dire Wolf engine A, the cluster station GB7DXC on engine B.
#include "DialogLauncher.h"
#include "MainForm.h"
#include "OptionsDialog.h"
#include "OptionsLogic.h"
#include "OverTheAir.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvantle;
using namespace corvantle::test;
using namespace corvantle::test::over_the_air;

namespace {

const QByteArray kConnected = "*** CONNECTED With Station GB7DXC\r\n";
const QByteArray kDisconnected = "*** DISCONNECTED From Station GB7DXC\r\n";

class LiveSessionOverTheAirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (environment("CORVANTLE_ENGINE_B_PORT").isEmpty())
            GTEST_SKIP() << "needs two engines: run through tools/run-with-engines.sh";
        // A connect that reaches engine B before the station registered there is never answered.
        ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 10000));
    }

    // The spots the cluster sent on the link that is up now, as the client receives them.
    std::vector<QByteArray> spotsOfTheLastLink() {
        std::vector<QByteArray> spots;
        const QStringList log = cluster.log();
        const auto up =
            std::find_if(log.rbegin(), log.rend(), [](const QString &l) { return l.startsWith("UP "); });
        for (auto line = up.base(); line != log.end(); ++line)
            if (line->startsWith(R"(TX N0CALL "DX de )"))
                spots.push_back(QByteArray::fromStdString(unescape(line->mid(10))).replace("\r", "\r\n"));
        return spots;
    }

    ClusterStation cluster;
};

// The user changes the cluster in Preferences, as a person would, while linked to GB7DXC: the session goes
// on with GB7DXC (spots, the user's bye, the link's end), and the next link is asked of the new station.
TEST_F(LiveSessionOverTheAirTest, PreferencesChangedDuringASessionApplyFromTheNextLink) {
    RecordingLog log; // outlives the bridge, which still writes to it as it shuts down
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    bridge.bridge.setLog(log);
    OptionsLogic options(bridge.bridge, bridge.window, bridge.parts.settings().settings, bridge.writer);
    MainForm form;
    DialogLauncher dialogs(form, options);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor(kConnected, kLinkUpWait)) << client.received().data();

    form.findChild<QAction *>("preferences")->trigger();
    auto *dialog = qobject_cast<OptionsDialog *>(QApplication::activeModalWidget());
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *found = qobject_cast<OptionsDialog *>(widget))
            dialog = found;
    ASSERT_NE(dialog, nullptr);
    auto *cluster = dialog->findChild<QLineEdit *>("ClusterText");
    ASSERT_TRUE(cluster->isVisible()); // on the Station page, in front when the dialog opens
    cluster->selectAll();
    QTest::keyClicks(cluster, "GB7XYZ");
    QTest::mouseClick(dialog->findChild<QPushButton *>("cmdOK"), Qt::LeftButton);
    ASSERT_FALSE(dialog->isVisible());
    ASSERT_EQ(bridge.bridge.state().cluster, "GB7XYZ");

    // Spots go on reaching the client from the link that is up.
    const std::size_t spotsBefore = spotsOfTheLastLink().size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return spotsOfTheLastLink().size() >= spotsBefore + 2; }, 20000));
    const QByteArray laterSpot = spotsOfTheLastLink().back();
    EXPECT_TRUE(client.waitFor(laterSpot, 30s)) << client.received().data();

    client.type("bye\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return this->cluster.logged(R"(RX N0CALL "bye \r")"); }, 20000))
        << this->cluster.log().join('\n').toStdString();
    EXPECT_TRUE(client.waitFor(kDisconnected, 30s)) << client.received().data();
    EXPECT_TRUE(QTest::qWaitFor([&] { return bridge.window.statusText == "Status: Disconnected"; }, 5000));

    client.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.bridge.clientCount() == 0; }, 5000));
    Client next(bridge.localPort);
    const auto askedTheNewStation = [&] {
        return std::count(log.lines.begin(), log.lines.end(), "Connect request to GB7XYZ on radio port 0") ==
               1;
    };
    EXPECT_TRUE(QTest::qWaitFor(askedTheNewStation, 5000));
}

// A logging program that reconnects at once, while the link of its last session is still being taken down
// over the air: the new session gets its own link, its typed line reaches the cluster, and it never hears
// the old link's end.
TEST_F(LiveSessionOverTheAirTest, AClientThatReconnectsAtOnceGetsALinkOfItsOwn) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    {
        Client first(bridge.localPort);
        ASSERT_TRUE(first.waitFor(kConnected, kLinkUpWait)) << first.received().data();
        first.close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.bridge.clientCount() == 0; }, 5000));
    }
    Client next(bridge.localPort);
    ASSERT_TRUE(next.connected);
    next.type("sh/dx\r\n");
    ASSERT_TRUE(next.waitFor(kConnected, kLinkUpWait)) << next.received().data();
    ASSERT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx \r")"); }, 30000))
        << cluster.log().join('\n').toStdString();
    const QStringList log = cluster.log();
    EXPECT_EQ(log.filter(QRegularExpression("^DOWN N0CALL")).size(), 1);
    EXPECT_EQ(log.filter(QRegularExpression("^UP N0CALL")).size(), 2);
    EXPECT_TRUE(next.received().startsWith(kGreeting)) << next.received().data();
    EXPECT_EQ(next.received().count(kConnected), 1);
    EXPECT_FALSE(next.received().contains("DISCONNECTED")) << next.received().data();
}

// The window closes right after the user typed a line: it still reaches the cluster before the link ends.
TEST_F(LiveSessionOverTheAirTest, TheLastLineBeforeTheProgramClosesReachesTheCluster) {
    BridgeOnEngineA bridge(Config{});
    ASSERT_TRUE(bridge.loaded);
    Client client(bridge.localPort);
    ASSERT_TRUE(client.waitFor(kConnected, kLinkUpWait)) << client.received().data();
    const int64_t before = bridge.bridge.transferredBytes();
    client.type("sh/dx\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return bridge.bridge.transferredBytes() > before + 5; }, 5000));
    bridge.bridge.shutDown();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged(R"(RX N0CALL "sh/dx \r")"); }, 20000))
        << cluster.log().join('\n').toStdString();
    EXPECT_TRUE(QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 20000));
}

} // namespace

int main(int argc, char **argv) {
    // The Preferences dialog is a real one, on the offscreen platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
