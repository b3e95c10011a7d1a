// The tray icon on the real bridge: it follows the link state the window shows, its tooltip names the
// session's figures, its menu gives the window's commands, and with AutoMinimize the window hides there.
// The offscreen platform has no tray to show the icon in; the window is made with one all the same.
#include "Bridge.h"
#include "LinkTray.h"
#include "MainForm.h"
#include "ProgramSettings.h"
#include "QtWindowOps.h"
#include "RecordingFakes.h"

#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using namespace corvantle;
using namespace corvantle::test;

namespace {

const std::string kConnected = "*** CONNECTED With Station GB7DXC\r" + std::string(1, '\0');
const std::string kDisconnected = "*** DISCONNECTED From Station GB7DXC\r" + std::string(1, '\0');

// The bridge over fakes, with the real window and its tray as main wires them.
struct Rig {
    explicit Rig(MainForm::Tray tray = MainForm::Tray::Always) : form(nullptr, tray) {
        store.values[{kProgramName, "Config", "MyCallsign"}] = "N0CALL";
        store.values[{kProgramName, "Config", "Cluster"}] = "GB7DXC";
        form.setTraySummary([this] { return traySummary(bridge); });
        startup = startupFrom(readProgramSettings(store));
        bridge.start();
    }
    template <typename Edit> void change(Edit edit) {
        BridgeState next = bridge.state();
        edit(next);
        bridge.applySettings(next);
    }
    void frame(FrameKind kind, const std::string &text) {
        bridge.frameArrived(EngineFrame{kind, 0, "GB7DXC", "N0CALL", text});
    }
    // The window's tick, as its timer gives it: the bridge's handler, then the tray's.
    void tick() {
        bridge.onTick();
        emit form.tickTimer().tick();
        QApplication::processEvents();
    }
    QAction *menuCommand(const QString &text) {
        for (QAction *action : form.tray()->menu().actions())
            if (action->text().remove('&') == text)
                return action;
        return nullptr;
    }

    Journal journal;
    MainForm form;
    QtWindowOps window{form};
    FakeSocket socket{journal};
    FakeEngine engine{journal};
    MemoryStore store{journal};
    StartupSettings startup;
    Bridge bridge{window, socket, engine, startup};
};

} // namespace

class TrayTest final : public QObject {
    Q_OBJECT
  private slots:
    void followsTheLinkStateTheWindowShows();
    void tooltipNamesTheClusterTheClientsAndTheBytesEachWay();
    void menuGivesTheWindowsCommands();
    void quitIsClosingTheWindowEvenFromTheTray();
    void autoMinimizeHidesToTheTrayAndTheTrayBringsItBack();
    void withoutATrayAutoMinimizeMinimizesAsBefore();
    void statusTextsAndPictures();
};

// Not connected, connected, reconnecting after a drop, monitoring: what the status line says, the tray shows.
void TrayTest::followsTheLinkStateTheWindowShows() {
    Rig rig;
    QVERIFY(rig.bridge.isRunning());
    LinkTray *tray = rig.form.tray();
    QVERIFY(tray);
    QCOMPARE(tray->state(), TrayLinkState::NotConnected);

    rig.bridge.onClientArrival(1);
    rig.frame(FrameKind::LinkUp, kConnected);
    QCOMPARE(tray->state(), TrayLinkState::Connected);

    rig.change([](BridgeState &s) { s.relink = true; });
    rig.frame(FrameKind::LinkDown, kDisconnected);
    QCOMPARE(tray->state(), TrayLinkState::Reconnecting);

    rig.bridge.onClientGone(1);
    QCOMPARE(tray->state(), TrayLinkState::NotConnected);
    rig.change([](BridgeState &s) { s.monitorMode = true; });
    rig.bridge.onClientArrival(2);
    QCOMPARE(tray->state(), TrayLinkState::Monitoring);
}

void TrayTest::tooltipNamesTheClusterTheClientsAndTheBytesEachWay() {
    Rig rig;
    rig.bridge.onClientArrival(1);
    rig.frame(FrameKind::LinkUp, kConnected);
    rig.frame(FrameKind::LinkData, "DX de K1ABC:     14025.0  JA1XYZ\r");
    rig.socket.client(1).incoming += "sh/dx\r\n";
    rig.bridge.onClientData(1);
    rig.tick();

    const int64_t fromRadio = rig.bridge.traffic().bytesFromRadio();
    const int64_t toRadio = rig.bridge.traffic().bytesToRadio();
    QVERIFY(fromRadio > 0 && toRadio > 0 && fromRadio != toRadio);
    QCOMPARE(rig.form.tray()->toolTip(), QString("AGW Packet Engine Telnet Corvantle\n"
                                                 "GB7DXC: connected\n"
                                                 "1 telnet client\n"
                                                 "From the radio: %1 bytes\n"
                                                 "To the radio: %2 bytes")
                                             .arg(fromRadio)
                                             .arg(toRadio));

    rig.change([](BridgeState &s) {
        s.maxClients = 2;
        s.cluster = "GB7ABC";
    });
    rig.bridge.onClientArrival(2);
    rig.tick();
    // The link keeps the station it was made with; the new cluster is named once it is down.
    QVERIFY(rig.form.tray()->toolTip().contains("\nGB7DXC: connected\n2 telnet clients\n"));
    rig.frame(FrameKind::LinkDown, kDisconnected);
    rig.tick();
    QVERIFY(rig.form.tray()->toolTip().contains("\nGB7ABC: not connected\n"));
}

void TrayTest::menuGivesTheWindowsCommands() {
    Rig rig;
    QSignalSpy preferences(&rig.form, &MainForm::preferencesRequested);
    QSignalSpy sessionLog(&rig.form, &MainForm::sessionLogRequested);
    QStringList commands;
    for (QAction *action : rig.form.tray()->menu().actions())
        if (!action->isSeparator())
            commands.append(action->text());
    QCOMPARE(commands, QStringList({"&Show window", "&Preferences", "Session &log...", "&Quit"}));

    rig.menuCommand("Preferences")->trigger();
    rig.menuCommand("Session log...")->trigger();
    QCOMPARE(preferences.count(), 1);
    QCOMPARE(sessionLog.count(), 1);
    rig.menuCommand("Show window")->trigger();
    QVERIFY(rig.form.isVisible());
}

// Quit is the window's close: the shutdown main runs on `closing`, once, whether the window is shown or not.
void TrayTest::quitIsClosingTheWindowEvenFromTheTray() {
    Rig rig;
    rig.form.show();
    rig.form.hideToTray();
    QSignalSpy closing(&rig.form, &MainForm::closing);
    rig.menuCommand("Quit")->trigger();
    QCOMPARE(closing.count(), 1);
    QVERIFY(!rig.form.isVisible());
    QVERIFY(!rig.form.tray()->icon().isVisible());
}

// The bridge's auto-minimize, through QtWindowOps: with a tray the window leaves the task bar, reads as
// minimized (so the timer is not armed again), and comes back from the tray as a normal window, after which
// the delay runs again.
void TrayTest::autoMinimizeHidesToTheTrayAndTheTrayBringsItBack() {
    Rig rig;
    rig.change([](BridgeState &s) { s.autoMinimize = 1; });
    rig.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.form));

    rig.bridge.onAutoMinimizeTimer();
    QVERIFY(!rig.form.isVisible());
    QVERIFY(rig.form.isHiddenInTray());
    QCOMPARE(rig.window.windowState(), kWindowMinimized);
    rig.tick();
    QVERIFY(!rig.form.autoMinimizeTimer().isEnabled());

    rig.menuCommand("Show window")->trigger();
    QVERIFY(rig.form.isVisible());
    QCOMPARE(rig.window.windowState(), kWindowNormal);
    rig.tick();
    QVERIFY(rig.form.autoMinimizeTimer().isEnabled());
}

void TrayTest::withoutATrayAutoMinimizeMinimizesAsBefore() {
    Rig rig(MainForm::Tray::Never);
    QVERIFY(rig.form.tray() == nullptr);
    rig.change([](BridgeState &s) { s.autoMinimize = 1; });
    rig.form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.form));
    rig.bridge.onAutoMinimizeTimer();
    QVERIFY(!rig.form.isHiddenInTray());
    QCOMPARE(rig.window.windowState(), kWindowMinimized);
}

// Each state has its own picture; an unknown status text reads as not connected.
void TrayTest::statusTextsAndPictures() {
    const std::pair<QString, TrayLinkState> texts[] = {
        {"Status: Connected", TrayLinkState::Connected},
        {"Status: Disconnected", TrayLinkState::NotConnected},
        {"Status: Monitoring", TrayLinkState::Monitoring},
        {"Status: Reconnecting", TrayLinkState::Reconnecting},
        {"", TrayLinkState::NotConnected},
    };
    for (const auto &[text, state] : texts)
        QCOMPARE(trayLinkState(text), state);
    QList<QImage> pictures;
    for (TrayLinkState state : {TrayLinkState::NotConnected, TrayLinkState::Connected,
                                TrayLinkState::Monitoring, TrayLinkState::Reconnecting}) {
        const QImage picture = trayIcon(state).pixmap(22, 22).toImage();
        QCOMPARE(picture.size(), QSize(22, 22));
        QVERIFY(!pictures.contains(picture));
        pictures.append(picture);
    }
}

QTEST_MAIN(TrayTest)
#include "TrayTest.moc"
