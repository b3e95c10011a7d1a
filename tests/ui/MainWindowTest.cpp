// The main window and QtWindowOps on it: labels, window state, timers and closing.
#include "CaptionChecks.h"
#include "MainForm.h"
#include "QtWindowOps.h"

#include <QApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

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

void MainWindowTest::timersReachTheirControls() {
    MainForm form;
    QtWindowOps window(form);
    QCOMPARE(form.tickTimer().interval(), 500);
    QVERIFY(form.tickTimer().isEnabled());
    QCOMPARE(form.autoMinimizeTimer().interval(), 0);

    window.setTimerInterval(TimerId::AutoMinimize, 30);
    window.setTimerEnabled(TimerId::Tick, false);
    QCOMPARE(form.autoMinimizeTimer().interval(), 30);
    QVERIFY(!form.tickTimer().isEnabled());
    QSignalSpy ticks(&form.autoMinimizeTimer(), &WindowTimer::tick);
    QVERIFY(ticks.wait(2000));
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
