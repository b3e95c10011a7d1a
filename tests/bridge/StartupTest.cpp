#include "BridgeFixture.h"
#include "IniSettingsStore.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

using namespace corvantle;
using namespace corvantle::test;

namespace {

class StartupTest : public BridgeFixture {};

// A real engine answers the registration later, from the event loop: until then the bridge neither listens
// nor acts on frames or ticks, and a shutdown meanwhile leaves the late answer unheard.
TEST_F(StartupTest, TheStartGoesOnOnlyWithTheEnginesAnswer) {
    struct Row {
        const char *what;
        bool shutDownFirst;
    };
    for (const Row &row : {Row{"answered", false}, Row{"shut down before the answer", true}}) {
        SCOPED_TRACE(row.what);
        BridgeRig rig;
        rig.store_setting(settings::kMyCallsign, "N0CALL");
        rig.store_setting(settings::kCluster, "GB7DXC");
        rig.engine.answerLater = true;
        std::vector<bool> done;
        rig.bridge.start([&](bool running) { done.push_back(running); });
        EXPECT_TRUE(done.empty());
        EXPECT_FALSE(rig.socket.listening);
        rig.journal.clear();

        rig.frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7XYZ\r",
                  "GB7XYZ"); // a stranger, not yet taken down
        rig.bridge.onTick();
        EXPECT_TRUE(rig.journal.empty());
        if (row.shutDownFirst)
            rig.bridge.shutDown();
        rig.engine.answerRegistration();

        EXPECT_EQ(rig.socket.listening, !row.shutDownFirst);
        EXPECT_EQ(rig.bridge.isRunning(), !row.shutDownFirst);
        EXPECT_EQ(done, row.shutDownFirst ? std::vector<bool>{} : std::vector<bool>{true});
    }
}

TEST_F(StartupTest, EmptyStoreStartsWithDefaultsAndReminds) {
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());

    EXPECT_EQ(state.programName, "ZR8QOD Logger/AGWPE Corvantle ");
    EXPECT_EQ(state.myCallsign, "MYCALL");
    EXPECT_EQ(state.cluster, "CLUSTER");
    EXPECT_EQ(state.radioPort, 0);
    EXPECT_EQ(socket.port, 4444);
    EXPECT_EQ(state.autoMinimize, 0);
    EXPECT_EQ(state.autoMinimizeDelayMs, 10000);
    EXPECT_FALSE(state.monitorMode);
    EXPECT_FALSE(state.compatibilityMode);
    EXPECT_FALSE(state.connectViaDigipeaters);
    EXPECT_EQ(state.digipeaters, "");
    EXPECT_FALSE(bridge.linkUp());
    EXPECT_EQ(bridge.transferredBytes(), 0);

    EXPECT_EQ(window.intervalMs[TimerId::AutoMinimize], 10000);
    EXPECT_FALSE(window.enabled[TimerId::AutoMinimize]);
    EXPECT_TRUE(window.enabled[TimerId::Tick]);
    EXPECT_EQ(engine.registeredCall, "MYCALL");
    EXPECT_EQ(engine.registeredName, "ZR8QOD Logger/AGWPE Corvantle ");
    EXPECT_TRUE(socket.listening);
    const Journal expected = {
        "AutoMinimize.interval 10000",
        "AutoMinimize.disable",
        "engine.register",
        "window.messageBox Please configure your Callsign and/or Cluster station in the Options Menu",
        "socket.listen 4444",
        "Tick.enable"};
    EXPECT_EQ(journal, expected);
}

TEST_F(StartupTest, StoredValuesReachTheStateTimerAndSocket) {
    store_setting(settings::kMyCallsign, "n0call");
    store_setting(settings::kCluster, "GB7DXC");
    store_setting(settings::kRadioPort, "2");
    store_setting(settings::kLocalPort, " 5000.0 ");
    store_setting(settings::kAutoMinimize, "1");
    store_setting(settings::kAutoMinimizeDelay, "70000");
    store_setting(settings::kMonitorMode, "True");
    store_setting(settings::kCompatibilityMode, "True");
    store_setting(settings::kConnectViaDigi, "True");
    store_setting(settings::kDigis, "relay1,RELAY2");
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());

    EXPECT_EQ(state.myCallsign, "n0call"); // as stored, no upper-casing
    EXPECT_EQ(state.radioPort, 2);
    EXPECT_EQ(socket.port, 5000);
    EXPECT_EQ(state.autoMinimize, 1);
    EXPECT_EQ(state.autoMinimizeDelayMs, 70000); // above what a 16-bit timer could hold
    EXPECT_TRUE(state.monitorMode);
    EXPECT_TRUE(state.compatibilityMode);
    EXPECT_TRUE(state.connectViaDigipeaters);
    EXPECT_EQ(state.digipeaters, "relay1,RELAY2");
    EXPECT_EQ(window.intervalMs[TimerId::AutoMinimize], 70000);
    EXPECT_TRUE(window.enabled[TimerId::AutoMinimize]);
    EXPECT_TRUE(window.messages.empty()); // "n0call" is not the default "MYCALL"
}

TEST_F(StartupTest, StoredLinkSettingsReachTheState) {
    store_setting(settings::kRelink, "True");
    store_setting(settings::kKeepLinkSeconds, "3600");
    store_setting(settings::kClients, "8");
    store_setting(settings::kQuietKeepalives, "True");
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());
    EXPECT_TRUE(state.relink);
    EXPECT_EQ(state.keepLinkSeconds, 3600);
    EXPECT_EQ(state.maxClients, 8);
    EXPECT_TRUE(state.quietKeepalives);
}

TEST_F(StartupTest, UnusableLinkSettingsFallBackToTheirDefaultsWithOneLineEach) {
    struct Row {
        const settings::Key &key;
        std::string stored;
    };
    const Row rows[] = {
        {settings::kRelink, "yes"},         {settings::kKeepLinkSeconds, "3601"},
        {settings::kKeepLinkSeconds, "-1"}, {settings::kClients, "0"},
        {settings::kClients, "9"},          {settings::kClients, "two"},
        {settings::kQuietKeepalives, "1"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.key.name) + "=" + row.stored);
        BridgeRig rig;
        rig.store_setting(row.key, row.stored);
        ::testing::internal::CaptureStderr();
        rig.bridge.start();
        ASSERT_TRUE(rig.bridge.isRunning());
        const std::string warnings = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(warnings.find(std::string("\"") + row.key.name + "\" holds \"" + row.stored + "\""),
                  std::string::npos)
            << warnings;
        EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), 1) << warnings;
        EXPECT_FALSE(rig.state.relink);
        EXPECT_EQ(rig.state.keepLinkSeconds, 0);
        EXPECT_EQ(rig.state.maxClients, 1);
        EXPECT_FALSE(rig.state.quietKeepalives);
    }
}

// Texts the dialog never writes fall back to the key's default and are named on standard error.
TEST_F(StartupTest, UnusableStoredTextsFallBackToDefaults) {
    struct Row {
        const settings::Key &key;
        std::string stored;
    };
    const Row rows[] = {
        {settings::kRadioPort, "abc"},
        {settings::kRadioPort, "256"},
        {settings::kRadioPort, "-1"},
        {settings::kLocalPort, "0"},
        {settings::kLocalPort, "70000"},
        {settings::kLocalPort, ""},
        {settings::kAutoMinimize, "2"},
        {settings::kAutoMinimizeDelay, "-5"},
        {settings::kAutoMinimizeDelay, "99999999999"},
        {settings::kMonitorMode, "true"},
        {settings::kConnectViaDigi, "-1"},
    };
    for (const Row &row : rows) {
        BridgeRig rig;
        rig.store_setting(row.key, row.stored);
        ::testing::internal::CaptureStderr();
        rig.bridge.start();
        ASSERT_TRUE(rig.bridge.isRunning());
        const std::string warnings = ::testing::internal::GetCapturedStderr();

        SCOPED_TRACE(std::string(row.key.name) + "=" + row.stored);
        EXPECT_NE(warnings.find(std::string("\"") + row.key.name + "\" holds \"" + row.stored + "\""),
                  std::string::npos)
            << warnings;
        EXPECT_EQ(rig.state.radioPort, 0);
        EXPECT_EQ(rig.socket.port, 4444);
        EXPECT_EQ(rig.state.autoMinimize, 0);
        EXPECT_EQ(rig.state.autoMinimizeDelayMs, 10000);
        EXPECT_FALSE(rig.state.monitorMode);
        EXPECT_FALSE(rig.state.connectViaDigipeaters);
    }
}

// A user who starts the program from the desktop menu never sees standard error: the values that could not
// be used are named in the session log and, all of them, in one box before the registration.
TEST_F(StartupTest, UnusableStoredValuesAreNamedInTheLogAndInOneBox) {
    RecordingLog log;
    bridge.setLog(log);
    store_setting(settings::kMyCallsign, "N0CALL");
    store_setting(settings::kCluster, "GB7DXC");
    store_setting(settings::kRadioPort, "abc");
    store_setting(settings::kClients, "9");
    store_setting(settings::kEnginePort, "80x");
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());

    const std::string radioPort =
        R"(setting "RadioPort" holds "abc", which is not a number; using the default "0")";
    const std::string clients =
        R"(setting "Clients" holds "9", which is outside 1 to 8; using the default "1")";
    const std::string enginePort =
        R"(setting "Engine\Port" holds "80x", which is not a number; using the default "8000")";
    std::vector<std::string> warnings;
    for (const std::string &line : log.lines)
        if (line.rfind("warning: ", 0) == 0)
            warnings.push_back(line);
    EXPECT_EQ(warnings, (std::vector<std::string>{"warning: " + radioPort, "warning: " + clients,
                                                  "warning: " + enginePort}));
    ASSERT_EQ(window.messages.size(), 1u);
    const std::string &box = window.messages[0];
    for (const std::string &named : {radioPort, clients, enginePort, std::string("/fake/settings.ini")})
        EXPECT_NE(box.find(named), std::string::npos) << named << "\n" << box;
    const auto at = [&](const std::string &entry) {
        return std::find(journal.begin(), journal.end(), entry);
    };
    EXPECT_LT(at("window.messageBox " + box), at("engine.register"));
}

// Whatever its key, a value a settings file holds that cannot be used is named once in the session log and
// once in the one box before the registration: the bridge's keys, the listener's and the engine's alike.
TEST(StartupFromAFile, EveryUnusableValueIsNamedOnceInTheLogAndOnceInTheBox) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/settings.ini";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[ZR8QOD%20Logger%252FAGWPE%20Corvantle%20]\n"
               "Config\\MyCallsign=N0CALL\nConfig\\Cluster=GB7DXC\nConfig\\RadioPort=abc\n"
               "Config\\ListenAddress=lan\nConfig\\AllowedClients=192.168.1.0/40\n"
               "Engine\\Port=80x\nEngine\\Kind=TNC\nEngine\\Kiss=nowhere\nEngine\\MaxFrame=9\n");
    file.close();
    const IniSettingsStore store(path.toStdString());
    const StartupSettings startup = startupFrom(readProgramSettings(store));

    Journal journal;
    FakeWindow window{journal};
    FakeSocket socket{journal};
    FakeEngine engine{journal};
    Bridge bridge(window, socket, engine, startup);
    RecordingLog log;
    bridge.setLog(log);
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());

    ASSERT_EQ(window.messages.size(), 1u);
    const std::string &box = window.messages[0];
    EXPECT_NE(box.find(path.toStdString()), std::string::npos) << box;
    std::string logged;
    for (const std::string &line : log.lines)
        logged += line + "\n";
    const auto count = [](const std::string &text, const std::string &part) {
        std::size_t found = 0;
        for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++found;
        return found;
    };
    for (const char *named : {R"("RadioPort" holds "abc")", R"("ListenAddress" holds "lan")",
                              R"("AllowedClients" holds "192.168.1.0/40")", R"("Engine\Port" holds "80x")",
                              R"("Engine\Kind" holds "TNC")", R"("Engine\Kiss" holds "nowhere")",
                              R"("Engine\MaxFrame" holds "9")"}) {
        SCOPED_TRACE(named);
        EXPECT_EQ(count(logged, std::string("warning: setting ") + named), 1u) << logged;
        EXPECT_EQ(count(box, named), 1u) << box;
    }
    EXPECT_EQ(count(logged, "holds"), 7u) << logged;
    EXPECT_EQ(count(box, "holds"), 7u) << box;
}

// Standard error keeps its one line per value, word for word, whoever else hears of it.
TEST_F(StartupTest, UnusableStoredValuesAreOneLineEachOnStandardError) {
    store_setting(settings::kRadioPort, "256");
    store_setting(settings::kMonitorMode, "yes");
    ::testing::internal::CaptureStderr();
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());
    EXPECT_EQ(
        ::testing::internal::GetCapturedStderr(),
        "corvantle: setting \"RadioPort\" holds \"256\", which is outside 0 to 255; using the default \"0\"\n"
        "corvantle: setting \"MonitorMode\" holds \"yes\", which is neither \"True\" nor \"False\"; using "
        "the "
        "default \"False\"\n");
}

// A radio port the engine does not have would bring the link up on another channel, where no text gets
// through: the engine's list, when it arrives after the registration, is checked at once.
TEST_F(StartupTest, ARadioPortTheEngineDoesNotHaveIsNamedInTheLogAndOneBox) {
    struct Row {
        std::string radioPort;
        std::vector<int> enginePorts;
        std::string said; // empty: nothing
    };
    const Row rows[] = {
        {"1", {0, 1}, ""},
        {"2", {0, 1}, "Radio port 2 is not one of the packet engine's radio ports (0, 1)"},
        {"1", {0}, "Radio port 1 is not one of the packet engine's radio ports (0)"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.radioPort);
        BridgeRig rig;
        RecordingLog log;
        rig.bridge.setLog(log);
        rig.store_setting(settings::kRadioPort, row.radioPort);
        rig.startConfigured();
        log.lines.clear();
        EngineListener &fromEngine = rig.bridge;
        fromEngine.radioPortsKnown(row.enginePorts);
        fromEngine.radioPortsKnown(row.enginePorts); // again after the engine came back: said once
        std::vector<std::string> warnings;
        for (const std::string &line : log.lines)
            if (line.rfind("warning: ", 0) == 0)
                warnings.push_back(line);
        if (row.said.empty()) {
            EXPECT_TRUE(warnings.empty());
            EXPECT_TRUE(rig.window.messages.empty());
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_EQ(warnings[0].rfind("warning: " + row.said, 0), 0u) << warnings[0];
        ASSERT_EQ(rig.window.messages.size(), 1u);
        EXPECT_EQ(rig.window.messages[0].rfind(row.said, 0), 0u) << rig.window.messages[0];
        EXPECT_NE(rig.window.messages[0].find("Preferences"), std::string::npos) << rig.window.messages[0];
    }
}

TEST_F(StartupTest, RefusedRegistrationShowsTheMessageAndEndsBeforeListening) {
    engine.registrationResult = false;
    bridge.start();
    EXPECT_FALSE(bridge.isRunning());

    const Journal expected = {"AutoMinimize.interval 10000", "AutoMinimize.disable", "engine.register",
                              "window.messageBox Can't connect to AGW Packet Engine", "window.endProgram"};
    EXPECT_EQ(journal, expected);
    EXPECT_NE(window.exitCode, 0);
    EXPECT_FALSE(socket.listening);
    // Ticks and frames that still arrive do nothing.
    bridge.onTick();
    frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC\r");
    EXPECT_EQ(journal.size(), expected.size());
}

// The engine names what it could not reach: the bridge knows no engine's words.
TEST_F(StartupTest, RefusedRegistrationShowsTheEnginesOwnWords) {
    engine.registrationResult = false;
    engine.failureText = "Can't connect to the KISS TNC at 127.0.0.1:8001";
    bridge.start();
    EXPECT_FALSE(bridge.isRunning());
    EXPECT_EQ(window.messages, std::vector<std::string>{"Can't connect to the KISS TNC at 127.0.0.1:8001"});
}

TEST_F(StartupTest, PortThatCannotBeListenedOnIsNamedAndEndsTheProgram) {
    store_setting(settings::kMyCallsign, "N0CALL");
    store_setting(settings::kCluster, "GB7DXC");
    store_setting(settings::kLocalPort, "4445");
    socket.listenError = "The bound address is already in use";
    bridge.start();
    EXPECT_FALSE(bridge.isRunning());

    const Journal expected = {
        "AutoMinimize.interval 10000",
        "AutoMinimize.disable",
        "engine.register",
        "socket.listen 4445",
        "window.messageBox Can't listen on local TCP port 4445: The bound address is already in use",
        "engine.close",
        "window.endProgram"};
    EXPECT_EQ(journal, expected);
    EXPECT_NE(window.exitCode, 0);
}

// The reminder box runs the event loop: frames are then handled, but nothing listens yet.
TEST_F(StartupTest, FramesDuringTheReminderAreHandledButNothingListens) {
    store_setting(settings::kMyCallsign, "N0CALL"); // the cluster is still unconfigured
    socket.listenError = "not yet";
    window.onMessageBox = [this] {
        frame(FrameKind::LinkUp, "*** CONNECTED With Station GB7DXC\r");
        bridge.onTick();
        EXPECT_FALSE(socket.listening);
        socket.listenError.clear();
    };
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());
    // The link that came up with nobody to use it was taken down.
    ASSERT_EQ(engine.requests.size(), 1u);
    EXPECT_EQ(engine.requests[0], disconnectRequest("GB7DXC"));
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "socket.listen 4444"), 1);
}

TEST_F(StartupTest, AStoreThatCouldNotBeReadIsReportedBeforeRegistering) {
    store_setting(settings::kMyCallsign, "N0CALL");
    store_setting(settings::kCluster, "GB7DXC");
    store.problemMessage = "The settings file /fake/settings.ini could not be read in full.";
    storeChanged();
    ::testing::internal::CaptureStderr();
    bridge.start();
    ASSERT_TRUE(bridge.isRunning());
    const std::string warnings = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(warnings.find("could not be read in full"), std::string::npos);
    const Journal expected = {
        "AutoMinimize.interval 10000",
        "AutoMinimize.disable",
        "window.messageBox The settings file /fake/settings.ini could not be read in full.",
        "engine.register",
        "socket.listen 4444",
        "Tick.enable"};
    EXPECT_EQ(journal, expected);
}

TEST_F(StartupTest, ReminderAppearsWhileEitherCallsignHoldsItsDefault) {
    struct Row {
        std::string myCallsign, cluster;
        bool reminded;
    };
    for (const Row &row : {Row{"MYCALL", "GB7DXC", true}, Row{"N0CALL", "CLUSTER", true},
                           Row{"mycall", "cluster", false}, Row{"N0CALL", "GB7DXC", false}}) {
        BridgeRig rig;
        rig.store_setting(settings::kMyCallsign, row.myCallsign);
        rig.store_setting(settings::kCluster, row.cluster);
        rig.bridge.start();
        ASSERT_TRUE(rig.bridge.isRunning());
        EXPECT_EQ(rig.window.messages.size(), row.reminded ? 1u : 0u) << row.myCallsign << " " << row.cluster;
        EXPECT_TRUE(rig.socket.listening);
    }
}

} // namespace
