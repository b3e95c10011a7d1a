// The real program without a window, against a fake engine: what its start-up says on standard error in
// place of the message boxes, with which exit status, and that it runs headless by itself when there is no
// display to open.
#include "FakeAgwServer.h"
#include "ProgramUnderTest.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using corvantle::test::FakeAgwServer;
using corvantle::test::freePort;
using corvantle::test::listeningAddresses;
using corvantle::test::prepareProgram;
using corvantle::test::ProgramUnderTest;

namespace {

// What a test adds to the program's store and environment, and what starts it.
struct Extras {
    QString settings;           // lines appended to the store
    QStringList environment;    // NAME=value
    bool sigintIgnored = false; // started as a script starts a background job: SIGINT ignored
    quint16 localPort = 0;      // 0: a free one
};

// The program with a store naming `callsign`, `cluster` and `enginePort`, started with `arguments` and no
// display at all.
class Headless {
  public:
    Headless(const QString &callsign, const QString &cluster, const std::string &enginePort,
             const QStringList &arguments, const Extras &extras = {}) {
        if (extras.localPort != 0)
            localPort = extras.localPort;
        prepared = prepareProgram(process, config, callsign, localPort, enginePort);
        settings = config.path() + "/corvantle/settings.ini";
        QFile store(settings);
        if (prepared && store.open(QIODevice::ReadWrite)) {
            const QByteArray text = store.readAll().replace("Cluster=GB7DXC", "Cluster=" + cluster.toUtf8());
            store.resize(0);
            store.write(text + extras.settings.toUtf8());
        }
        process.withoutDisplay();
        QProcessEnvironment environment = process.processEnvironment();
        for (const QString &variable : extras.environment)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        process.setProcessEnvironment(environment);
        if (extras.sigintIgnored)
            started = process.launch("/bin/sh",
                                     QStringList{"-c", "trap '' INT; exec \"$0\" \"$@\"", CORVANTLE_PROGRAM} +
                                         arguments);
        else
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
    // Sends `signal` and waits for the end; true when it ended by itself with status 0 within `ms`.
    bool endsCleanlyOn(int signal, int ms) {
        ::kill(static_cast<pid_t>(process.processId()), signal);
        return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
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

// A KISS TNC that cannot be reached is named as the settings give it, not as an AGW engine.
TEST(HeadlessStart, AKissTncThatCannotBeReachedIsNamedAndEndsTheProgramWithStatusOne) {
    QTcpServer closed; // a port that nothing listens on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString tnc = "127.0.0.1:" + QString::number(closed.serverPort());
    closed.close();
    Headless program("N0CALL", "GB7DXC", "8000", {"--headless"},
                     {.settings = "Engine\\Kind=KISS\nEngine\\Kiss=" + tnc + "\n"});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.process.waitForFinished(15000));
    EXPECT_EQ(program.process.exitCode(), 1);
    const QByteArray said = program.said();
    EXPECT_EQ(said.count("corvantle: Can't connect to the KISS TNC at " + tnc.toUtf8() + "\n"), 1)
        << said.toStdString();
    EXPECT_FALSE(said.contains("AGW Packet Engine")) << said.toStdString();
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

// ---- a port that is not there yet ----

// At boot the instance being replaced may still hold the port: the program waits for it, says so once, and
// serves once it is free. Nothing is registered with the engine meanwhile.
TEST(HeadlessStart, APortInUseAtStartIsTriedAgainUntilItIsFree) {
    FakeAgwServer engine;
    QTcpServer squatter;
    ASSERT_TRUE(squatter.listen(QHostAddress::LocalHost, 0));
    Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"}, {.localPort = squatter.serverPort()});
    ASSERT_TRUE(program.prepared && program.started);
    const QByteArray waiting = "; trying again every 5 s\n";
    ASSERT_TRUE(program.saysWithin(waiting, 10000)) << program.said().toStdString();
    QTest::qWait(5500); // one more try
    EXPECT_TRUE(program.process.running()) << program.process.howItEnded().toStdString();
    EXPECT_EQ(program.said().count(waiting), 1) << program.said().toStdString();
    EXPECT_EQ(engine.frameCount(), 0u);

    squatter.close();
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client on 127.0.0.1 port", 10000))
        << program.said().toStdString();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, program.localPort);
    ASSERT_TRUE(client.waitForConnected(3000));
    QByteArray greeting;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return (greeting += client.readAll()).contains("Please Wait"); }, 5000));
}

// The Pi's LAN address before DHCP is done: waited for, as a port in use; a signal ends the wait cleanly.
TEST(HeadlessStart, AnAddressNotOnTheMachineYetIsWaitedFor) {
    FakeAgwServer engine;
    Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"},
                     {.settings = "Config\\ListenAddress=192.0.2.1\nConfig\\AllowedClients=192.0.2.0/24\n"});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("on 192.0.2.1 yet: ", 10000)) << program.said().toStdString();
    EXPECT_TRUE(program.said().contains("; trying again every 5 s\n")) << program.said().toStdString();
    EXPECT_TRUE(program.process.running()) << program.process.howItEnded().toStdString();
    EXPECT_TRUE(program.endsCleanlyOn(SIGTERM, 5000)) << program.process.howItEnded().toStdString();
}

// ---- signals at any moment ----

// Before the engine has answered the registration: the same shutdown as later, and status 0.
TEST(HeadlessStart, ASignalBeforeTheRegistrationAnswerEndsTheProgramCleanly) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        FakeAgwServer engine(corvantle::test::Registration::Ignore);
        Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"});
        ASSERT_TRUE(program.prepared && program.started);
        ASSERT_FALSE(engine.frames(1, std::chrono::milliseconds(10000)).empty())
            << program.said().toStdString();
        EXPECT_TRUE(program.endsCleanlyOn(signal, 5000)) << program.process.howItEnded().toStdString();
    }
}

// A script that starts the program in the background starts it with SIGINT ignored; `kill -INT` must still
// end it, with the link up, as any other signal does.
TEST(HeadlessStart, SigintEndsAProgramStartedInTheBackgroundWithTheLinkUp) {
    FakeAgwServer engine;
    Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"}, {.sigintIgnored = true});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client", 10000)) << program.said().toStdString();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, program.localPort);
    ASSERT_TRUE(client.waitForConnected(3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.frames().back().kind == 'C'; }, 5000));
    engine.send({0, 'C', 0, "GB7DXC", "N0CALL", std::string("*** CONNECTED With Station GB7DXC\r\0", 35)});
    QByteArray received;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (received += client.readAll()).contains("CONNECTED"); }, 5000));

    // Within the shutdown's bound: 5 s for the last lines to leave, 1 s for the link to go down.
    EXPECT_TRUE(program.endsCleanlyOn(SIGINT, 7000)) << program.process.howItEnded().toStdString();
    std::string kinds;
    for (const corvantle::agw::Frame &frame : engine.frames())
        kinds += frame.kind;
    EXPECT_NE(kinds.find("dx"), std::string::npos) << kinds; // the link's 'd', then unregistered
}

// ---- words for a service ----

// Under systemd: warnings and the error the program ends on carry the journal's priorities, each problem is
// said once, and nothing speaks of Preferences.
TEST(HeadlessStart, TheJournalGetsEachProblemOnceWithItsPriority) {
    QTcpServer closed; // a port that nothing listens on
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const std::string port = std::to_string(closed.serverPort());
    closed.close();
    Headless program(
        "N0CALL", "GB7DXC", port, {"--headless"},
        {.settings = "Config\\RadioPort=abc\nConfig\\Clients=9\n", .environment = {"JOURNAL_STREAM=8:4242"}});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.process.waitForFinished(15000));
    EXPECT_EQ(program.process.exitCode(), 1);
    const QByteArray said = program.said();
    EXPECT_EQ(said.count("RadioPort\" holds \"abc\""), 1) << said.toStdString();
    EXPECT_EQ(said.count("Clients\" holds \"9\""), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("<4>corvantle: setting \"RadioPort\" holds \"abc\"")) << said.toStdString();
    EXPECT_TRUE(
        said.contains("<4>corvantle: Some stored settings could not be used; their defaults are in use "
                      "until you correct Config\\RadioPort, Config\\Clients in " +
                      program.settings.toUtf8() + " and restart corvantle\n"))
        << said.toStdString();
    EXPECT_EQ(said.count("<3>corvantle: Can't connect to AGW Packet Engine\n"), 1) << said.toStdString();
    EXPECT_FALSE(said.contains("Preferences")) << said.toStdString();
    EXPECT_TRUE(said.contains("\nRegistering N0CALL with the packet engine\n")) << said.toStdString();
}

// Whatever its key (the listener's and the engine's too), an unusable value is named once on standard error,
// and once more by its key in the line that stands for the start-up box.
TEST(HeadlessStart, EveryUnusableValueIsNamedOnceWhateverItsKey) {
    FakeAgwServer engine;
    Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"},
                     {.settings = "Config\\ListenAddress=lan\nEngine\\Kind=TNC\n"});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client on 127.0.0.1 port", 10000))
        << program.said().toStdString();
    EXPECT_TRUE(program.endsCleanlyOn(SIGTERM, 10000)) << program.process.howItEnded().toStdString();
    const QByteArray said = program.said();
    EXPECT_EQ(
        said.count("setting \"ListenAddress\" holds \"lan\", which is neither an IP address nor \"any\"; "
                   "using the default \"127.0.0.1\"\n"),
        1)
        << said.toStdString();
    EXPECT_EQ(
        said.count("setting \"Engine\\Kind\" holds \"TNC\", which is neither \"AGW\" nor \"KISS\"; using "
                   "the default \"AGW\"\n"),
        1)
        << said.toStdString();
    EXPECT_EQ(said.count("holds"), 2) << said.toStdString();
    EXPECT_EQ(said.count("corvantle: Some stored settings could not be used; their defaults are in use until "
                         "you correct Config\\ListenAddress, Engine\\Kind in " +
                         program.settings.toUtf8() + " and restart corvantle\n"),
              1)
        << said.toStdString();
}

// Messages made for a desktop spoke of saving, which never happens headless.
TEST(HeadlessStart, NothingPromisesASaveThatNeverComes) {
    FakeAgwServer engine;
    Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"},
                     {.settings = "a line without an equals sign\n"});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client", 10000)) << program.said().toStdString();
    EXPECT_TRUE(
        program.said().contains("The settings file " + program.settings.toUtf8() +
                                " could not be read in full (it has lines that are not in INI format), "
                                "so some or all settings are at their defaults. Correct it by hand, "
                                "then restart corvantle.\n"))
        << program.said().toStdString();
    EXPECT_EQ(program.said().count("could not be read in full"), 1) << program.said().toStdString();

    const QString missing = program.config.path() + "/not-yet.ini";
    Headless fresh("N0CALL", "GB7DXC", engine.port(), {"--headless", "--config", missing});
    ASSERT_TRUE(fresh.saysWithin("Registering MYCALL", 10000)) << fresh.said().toStdString();
    EXPECT_TRUE(fresh.said().startsWith("corvantle: the settings file " + missing.toUtf8() +
                                        " does not exist: every setting is at its default\n"))
        << fresh.said().toStdString();
    EXPECT_FALSE(fresh.said().contains("saved")) << fresh.said().toStdString();
}

// A DISPLAY left over from a desktop, with no X server behind it: Qt would abort; the program runs headless.
TEST(HeadlessStart, ADisplayWithoutAnXServerFallsBackToHeadless) {
    int display = 917;
    while (QFile::exists(QString("/tmp/.X11-unix/X%1").arg(display)))
        ++display;
    FakeAgwServer engine;
    const QByteArray value = ":" + QByteArray::number(display);
    Headless program("N0CALL", "GB7DXC", engine.port(), {}, {.environment = {"DISPLAY=" + value}});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client on 127.0.0.1 port", 10000))
        << program.said().toStdString() << program.process.howItEnded().toStdString();
    EXPECT_TRUE(program.said().startsWith("corvantle: no X server answers at DISPLAY=" + value +
                                          ": running headless, without a window\n"))
        << program.said().toStdString();
}

// ---- hand-edited files ----

// A user who writes [Config] by hand hears once which keys are not read, and where they belong.
TEST(HeadlessStart, KeysOutsideTheProgramsGroupAreNamedOnce) {
    FakeAgwServer engine;
    Headless program("N0CALL", "GB7DXC", engine.port(), {"--headless"},
                     {.settings = "[Config]\nMyCallsign=G4ABC\n"});
    ASSERT_TRUE(program.prepared && program.started);
    ASSERT_TRUE(program.saysWithin("Listening for a telnet client", 10000)) << program.said().toStdString();
    EXPECT_EQ(
        program.said().count("holds keys that corvantle does not read: [Config] MyCallsign. It reads only "
                             "the keys under [ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]"),
        1)
        << program.said().toStdString();
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
