// The real program without a window, against a fake engine: what its start-up says on standard error in
// place of the message boxes, with which exit status, and that it runs headless by itself when there is no
// display to open.
#include "FakeAgwServer.h"
#include "ProgramUnderTest.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using corvantle::test::FakeAgwServer;
using corvantle::test::freePort;
using corvantle::test::listeningAddresses;
using corvantle::test::prepareProgram;
using corvantle::test::ProgramUnderTest;

namespace {

// The program with a store naming `callsign`, `cluster` and `enginePort`, started with `arguments` and no
// display at all.
class Headless {
  public:
    Headless(const QString &callsign, const QString &cluster, const std::string &enginePort,
             const QStringList &arguments) {
        prepared = prepareProgram(process, config, callsign, localPort, enginePort);
        settings = config.path() + "/corvantle/settings.ini";
        QFile store(settings);
        if (prepared && store.open(QIODevice::ReadWrite)) {
            const QByteArray text = store.readAll().replace("Cluster=GB7DXC", "Cluster=" + cluster.toUtf8());
            store.resize(0);
            store.write(text);
        }
        process.withoutDisplay();
        started = process.launch(CORVANTLE_PROGRAM, arguments);
    }
    ~Headless() {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill();
    }
    QByteArray said() { return said_ += process.readAllStandardError(); }
    bool saysWithin(const QByteArray &text, int ms) {
        return QTest::qWaitFor([&] { return said().contains(text); }, ms);
    }

    QTemporaryDir config;
    quint16 localPort = freePort();
    ProgramUnderTest process;
    QString settings;
    bool prepared = false;
    bool started = false;

  private:
    QByteArray said_;
};

TEST(HeadlessStart, TheConfigurationReminderNamesTheFileAndTheKeysAndTheProgramGoesOn) {
    FakeAgwServer engine;
    Headless program("MYCALL", "CLUSTER", engine.port(), {"--headless"});
    ASSERT_TRUE(program.prepared && program.started);
    const QByteArray reminder = "corvantle: not configured: set Config\\MyCallsign (your callsign) and "
                                "Config\\Cluster (the DX cluster station) in " +
                                program.settings.toUtf8() + ", then restart corvantle\n";
    ASSERT_TRUE(program.saysWithin(reminder, 10000)) << program.said().toStdString();
    EXPECT_FALSE(program.said().contains("Options Menu"));
    // As with the window, the program goes on: it listens once the reminder is out.
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client on 127.0.0.1 port", 5000))
        << program.said().toStdString();

    // But nothing goes on the air under the placeholders: a client hears what to set, and however long it
    // stays and whatever it types, the engine is asked for no link and no data.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, program.localPort);
    ASSERT_TRUE(client.waitForConnected(5000));
    QByteArray heard;
    const auto hears = [&](const QByteArray &text) {
        return QTest::qWaitFor(
            [&] {
                heard += client.readAll();
                return heard.contains(text);
            },
            10000);
    };
    const QByteArray told = "*** Not connecting: your callsign and the DX cluster station are not set; set "
                            "Config\\MyCallsign and Config\\Cluster in " +
                            program.settings.toUtf8() + ", then restart corvantle\r\n";
    ASSERT_TRUE(hears(told)) << heard.toStdString();
    client.write("sh/dx\r\n");
    ASSERT_TRUE(hears("*** Not sent, no link to CLUSTER\r\n")) << heard.toStdString();
    EXPECT_TRUE(program.saysWithin("no connect request for the telnet client: your callsign and the DX "
                                   "cluster station are not set",
                                   5000))
        << program.said().toStdString();
    for (const corvantle::agw::Frame &frame : engine.frames())
        EXPECT_TRUE(frame.kind != 'C' && frame.kind != 'v' && frame.kind != 'D')
            << "sent '" << frame.kind << "'";
}

// The same words as the window's boxes, once each, and the same exit status.
TEST(HeadlessStart, AnEngineThatDoesNotAnswerEndsTheProgramWithStatusOne) {
    QTcpServer closed; // a port that nothing listens on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(closed.serverPort());
    closed.close();
    Headless program("N0CALL", "GB7DXC", port, {"--headless"});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.process.waitForFinished(15000));
    EXPECT_EQ(program.process.exitCode(), 1);
    EXPECT_EQ(program.said().count("corvantle: Can't connect to AGW Packet Engine\n"), 1)
        << program.said().toStdString();
}

TEST(HeadlessStart, WithoutADisplayTheProgramSaysSoAndRunsHeadless) {
    FakeAgwServer engine;
    Headless program("N0CALL", "GB7DXC", engine.port(), {});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client on 127.0.0.1 port", 10000))
        << program.said().toStdString();
    EXPECT_TRUE(
        program.said().startsWith("corvantle: no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM "
                                  "are not set): running headless, without a window\n"))
        << program.said().toStdString();
    EXPECT_EQ(listeningAddresses(program.localPort), QStringList{"0100007F"});
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
