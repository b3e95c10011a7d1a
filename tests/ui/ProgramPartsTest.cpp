// The program's parts as ProgramParts puts them together from a settings store: the engine the settings
// choose, the socket with their listen policy and local port, the bridge told what could not be used, and
// the window's timers driving the bridge.
#include "ProgramParts.h"
#include "AgwEngine.h"
#include "KissEngine.h"
#include "RecordingFakes.h"
#include "WindowTimer.h"

#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <map>
#include <string>
#include <utility>

using namespace corvantle;
using namespace corvantle::test;

namespace {

// A loopback port nothing listens on.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

struct Rig {
    explicit Rig(const std::map<std::pair<std::string, std::string>, std::string> &stored)
        : parts(storeWith(stored), {window, tick, autoMinimize, log}) {}

    MemoryStore &storeWith(const std::map<std::pair<std::string, std::string>, std::string> &stored) {
        for (const auto &[sectionAndKey, text] : stored)
            store.values[{kProgramName, sectionAndKey.first, sectionAndKey.second}] = text;
        return store;
    }

    Journal journal;
    FakeWindow window{journal};
    MemoryStore store{journal};
    WindowTimer tick{0, true};
    WindowTimer autoMinimize{0, true};
    RecordingLog log;
    ProgramParts parts;
};

} // namespace

class ProgramPartsTest final : public QObject {
    Q_OBJECT
  private slots:
    void theEngineIsTheOneTheSettingsChoose();
    void theSocketAndTheBridgeGetTheSettingsAndTheirProblems();
    void theWindowsTimersDriveTheBridge();
};

void ProgramPartsTest::theEngineIsTheOneTheSettingsChoose() {
    Rig agw({});
    QVERIFY(dynamic_cast<AgwEngine *>(&agw.parts.engine()) != nullptr);
    QVERIFY(!agw.parts.settings().settings.engine.kiss);
    Rig kiss({{{"Engine", "Kind"}, "kiss"}, {{"Engine", "Kiss"}, "127.0.0.1:8001"}});
    QVERIFY(dynamic_cast<kiss::KissEngine *>(&kiss.parts.engine()) != nullptr);
    QVERIFY(kiss.parts.settings().problems.empty());
}

void ProgramPartsTest::theSocketAndTheBridgeGetTheSettingsAndTheirProblems() {
    const quint16 localPort = closedPort();
    Rig rig({{{"Config", "MyCallsign"}, "N0CALL"},
             {{"Config", "Cluster"}, "GB7DXC"},
             {{"Config", "LocalPort"}, std::to_string(localPort)},
             {{"Config", "ListenAddress"}, "any"},
             {{"Config", "AllowedClients"}, "192.168.1.0/24"},
             {{"Config", "Clients"}, "9"},
             {{"Engine", "Port"}, std::to_string(closedPort())}});
    QCOMPARE(rig.parts.socket().listenAddress(), std::string("any"));
    QCOMPARE(rig.parts.settings().problems.size(), std::size_t(1));

    rig.parts.bridge().start(); // an engine that does not answer: the start ends later
    QCOMPARE(rig.parts.socket().localPort(), static_cast<int32_t>(localPort));
    QCOMPARE(rig.parts.bridge().state().maxClients, 1);
    const std::string problem = rig.parts.settings().problems[0];
    QCOMPARE(std::count(rig.log.lines.begin(), rig.log.lines.end(), "warning: " + problem), 1);
    QCOMPARE(rig.window.messages.size(), std::size_t(1));
    QVERIFY(rig.window.messages[0].find(problem) != std::string::npos);
}

void ProgramPartsTest::theWindowsTimersDriveTheBridge() {
    Rig rig({{{"Config", "MyCallsign"}, "N0CALL"}, {{"Config", "Cluster"}, "GB7DXC"}});
    emit rig.autoMinimize.tick(); // the bridge's handler switches the timer off
    QVERIFY(std::find(rig.journal.begin(), rig.journal.end(), "AutoMinimize.disable") != rig.journal.end());
}

QTEST_MAIN(ProgramPartsTest)
#include "ProgramPartsTest.moc"
