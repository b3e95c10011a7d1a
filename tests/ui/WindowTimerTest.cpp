// WindowTimer: when it ticks and when a countdown starts over.
#include "WindowTimer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <limits>

using corvantle::WindowTimer;

class WindowTimerTest final : public QObject {
    Q_OBJECT
  private slots:
    void neverTicks_data();
    void neverTicks();
    void countdownAfterChange_data();
    void countdownAfterChange();
    void ticksRepeatedly();
    void doesNotReenterItsHandler();
};

enum class Step { None, IntervalZero, Disable };
enum class Change { EnableAgain, DisableEnable, SameInterval };
Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Change)

void WindowTimerTest::neverTicks_data() {
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<Step>("step");
    QTest::newRow("interval 0, enabled") << 0 << true << Step::None;
    QTest::newRow("negative interval") << -5 << true << Step::None;
    QTest::newRow("running, then interval 0") << 30 << true << Step::IntervalZero;
    QTest::newRow("disabled from the start") << 30 << false << Step::None;
    QTest::newRow("running, then disabled") << 30 << true << Step::Disable;
    QTest::newRow("longest interval") << std::numeric_limits<int32_t>::max() << true << Step::None;
}

void WindowTimerTest::neverTicks() {
    QFETCH(int, intervalMs);
    QFETCH(bool, enabled);
    QFETCH(Step, step);
    QTest::failOnWarning(QRegularExpression(".*"));

    WindowTimer timer(intervalMs, enabled);
    QSignalSpy ticks(&timer, &WindowTimer::tick);
    if (step == Step::IntervalZero)
        timer.setInterval(0);
    if (step == Step::Disable)
        timer.setEnabled(false);
    QTest::qWait(250);
    QCOMPARE(ticks.count(), 0);
}

// Each row changes a running 400 ms timer 250 ms into its countdown; the first tick shows whether the
// change started a new countdown.
void WindowTimerTest::countdownAfterChange_data() {
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("restarts");
    QTest::newRow("enabling an enabled timer") << Change::EnableAgain << false;
    QTest::newRow("disabling and enabling") << Change::DisableEnable << true;
    QTest::newRow("setting the same interval") << Change::SameInterval << true;
}

void WindowTimerTest::countdownAfterChange() {
    QFETCH(Change, change);
    QFETCH(bool, restarts);
    constexpr int kIntervalMs = 400;

    QElapsedTimer clock;
    WindowTimer timer(kIntervalMs, true);
    clock.start();
    QSignalSpy ticks(&timer, &WindowTimer::tick);
    qint64 tickAtMs = -1;
    connect(&timer, &WindowTimer::tick, this, [&] {
        if (tickAtMs < 0)
            tickAtMs = clock.elapsed();
    });

    QTest::qWait(250);
    QVERIFY2(ticks.isEmpty(), "the machine is too slow for this timing test");
    const qint64 changedAtMs = clock.elapsed();
    switch (change) {
    case Change::EnableAgain:
        timer.setEnabled(true);
        break;
    case Change::DisableEnable:
        timer.setEnabled(false);
        timer.setEnabled(true);
        break;
    case Change::SameInterval:
        timer.setInterval(kIntervalMs);
        break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(tickAtMs >= 0, 2000);
    // Coarse timers may fire up to 5 % early.
    const qint64 freshCountdownEndMs = changedAtMs + kIntervalMs * 9 / 10;
    if (restarts)
        QVERIFY2(tickAtMs >= freshCountdownEndMs, qPrintable(QString::number(tickAtMs)));
    else
        QVERIFY2(tickAtMs < freshCountdownEndMs, qPrintable(QString::number(tickAtMs)));
}

void WindowTimerTest::ticksRepeatedly() {
    WindowTimer timer(20, false);
    QSignalSpy ticks(&timer, &WindowTimer::tick);
    timer.setEnabled(true);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 2000);
}

// A handler that opens a modal box runs a nested event loop; the timer must not call it again meanwhile,
// even when the handler started a new countdown first, and must go on ticking once it returns.
void WindowTimerTest::doesNotReenterItsHandler() {
    WindowTimer timer(20, true);
    int entries = 0;
    int depth = 0;
    int deepest = 0;
    connect(&timer, &WindowTimer::tick, this, [&] {
        ++entries;
        deepest = std::max(deepest, ++depth);
        if (entries == 1) {
            timer.setInterval(20);
            QEventLoop nested;
            QTimer::singleShot(200, &nested, &QEventLoop::quit);
            nested.exec();
        }
        --depth;
    });
    QTRY_VERIFY_WITH_TIMEOUT(entries >= 3, 3000);
    QCOMPARE(deepest, 1);
}

QTEST_GUILESS_MAIN(WindowTimerTest)
#include "WindowTimerTest.moc"
