// The main window and QtWindowOps on it: labels, window state, timers, the reminder box and closing.
#include "CaptionChecks.h"
#include "MainForm.h"
#include "QtWindowOps.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace corvantle;
using namespace corvantle::test;

class MainWindowTest final : public QObject {
    Q_OBJECT
  private slots:
    void designSizeFitsTheFont_data();
    void designSizeFitsTheFont();
    void counterLabelGrowsToTheRight();
    void windowStateBeforeShowDoesNotShow_data();
    void windowStateBeforeShowDoesNotShow();
    void timersReachTheirControls();
    void reminderToConfigureIsABoxWithItsWords();
    void closingIsReportedOnce();
};

void MainWindowTest::designSizeFitsTheFont_data() {
    QTest::addColumn<int>("fontPixels");
    QTest::newRow("the system font") << 0;
    QTest::newRow("a font the design was drawn for") << 8;
    QTest::newRow("a large font") << 24;
}

// The client area is 386 x 68 where the captions fit at that size, and grows in proportion where they do not.
void MainWindowTest::designSizeFitsTheFont() {
    QFETCH(int, fontPixels);
    const FontOverride font(fontPixels);
    MainForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const QSize client = form.centralWidget()->size();
    if (fontPixels == 8)
        QCOMPARE(client, QSize(386, 68));
    QVERIFY2(grownInProportion(client, {386, 68}),
             qPrintable(QString("%1x%2").arg(client.width()).arg(client.height())));
    QCOMPARE(firstCutCaption(form), QString());
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowMinimizeButtonHint);
}

void MainWindowTest::counterLabelGrowsToTheRight() {
    MainForm form;
    QtWindowOps window(form);
    auto *label = form.findChild<QLabel *>("BytesTransfLabel");
    QVERIFY(label);
    const QRect before = label->geometry();

    window.setCounterText("Bytes Transferred: 123K");
    QCOMPARE(label->text(), QString("Bytes Transferred: 123K"));
    QCOMPARE(label->geometry().topLeft(), before.topLeft());
    QVERIFY(label->width() >= label->sizeHint().width());
}

void MainWindowTest::windowStateBeforeShowDoesNotShow_data() {
    QTest::addColumn<int>("state");
    QTest::newRow("normal") << kWindowNormal;
    QTest::newRow("minimized") << kWindowMinimized;
    QTest::newRow("maximized") << kWindowMaximized;
}

// Start-up may set the state before it decides whether the window is shown at all.
void MainWindowTest::windowStateBeforeShowDoesNotShow() {
    QFETCH(int, state);
    MainForm form;
    QtWindowOps window(form);
    window.setWindowState(state);
    QVERIFY(!form.isVisible());
    QCOMPARE(window.windowState(), state);
}

// The tick starts when the bridge says so; AutoMinimize's delay runs on a timer of the window's own, and the
// window minimizes itself when it is over (not shown yet, it takes the state on).
void MainWindowTest::timersReachTheirControls() {
    MainForm form;
    QtWindowOps window(form);
    QCOMPARE(form.tickTimer().interval(), 500);
    QVERIFY(form.tickTimer().isEnabled());
    QCOMPARE(window.autoMinimizer().timer().interval(), 0);

    form.tickTimer().setEnabled(false);
    window.startTicking();
    QVERIFY(form.tickTimer().isEnabled());
    window.setAutoMinimize(true, 30);
    QCOMPARE(window.autoMinimizer().timer().interval(), 30);
    QSignalSpy ticks(&window.autoMinimizer().timer(), &WindowTimer::tick);
    QVERIFY(ticks.wait(2000));
    QCOMPARE(window.windowState(), kWindowMinimized);
    QVERIFY(!form.isVisible());
}

void MainWindowTest::reminderToConfigureIsABoxWithItsWords() {
    MainForm form;
    QtWindowOps window(form);
    QString title;
    QString text;
    QTimer closer; // the box runs an event loop of its own: read and closed from there
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            title = box->windowTitle();
            text = box->text();
            box->accept();
        }
    });
    closer.start(10);
    window.remindToConfigure();
    QCOMPARE(title, QString("ZR8QOD Logger - AGWPE Telnet Corvantle"));
    QCOMPARE(text, QString("Please configure your Callsign and/or Cluster station in the Options Menu"));
}

void MainWindowTest::closingIsReportedOnce() {
    MainForm form;
    form.show();
    QSignalSpy closing(&form, &MainForm::closing);
    QVERIFY(form.close());
    form.show();
    form.close();
    QCOMPARE(closing.count(), 1);
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
