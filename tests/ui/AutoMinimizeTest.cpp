// AutoMinimizer: the window minimizes itself once the delay is over, is armed again when the user restores
// it, and is left alone when minimized by hand or with the setting off. The window's tick and the delay's
// end are given by hand; the timers' own timing is WindowTimerTest's.
#include "AutoMinimizer.h"

#include <QTest>

#include <string>
#include <vector>

using namespace corvantle;

namespace {

// A window that records being minimized, and the window's tick.
struct Rig {
    enum class Shown { Normal, Minimized, Maximized };
    Shown shown = Shown::Normal;
    std::vector<std::string> journal;
    WindowTimer windowTick{500, false};
    AutoMinimizer minimizer{windowTick,
                            {[this] { return shown == Shown::Normal; },
                             [this] {
                                 shown = Shown::Minimized;
                                 journal.push_back("window.minimize");
                             }}};
    WindowTimer &delay = minimizer.timer();

    void tick() { emit windowTick.tick(); }
    void delayOver() { emit delay.tick(); }
};

} // namespace

class AutoMinimizeTest final : public QObject {
    Q_OBJECT
  private slots:
    void minimizesOnceThenAgainAfterTheUserRestores();
    void windowMinimizedByHandIsLeftAlone();
    void offNeverArmsOrMinimizes();
    void delayOfZeroGivesATimerThatNeverFires();
    void onlyANewDelayStartsANewCountdown();
};

void AutoMinimizeTest::minimizesOnceThenAgainAfterTheUserRestores() {
    Rig rig;
    rig.minimizer.set(true, 10000);
    QVERIFY(rig.delay.isEnabled());
    QCOMPARE(rig.delay.interval(), 10000);

    rig.delayOver();
    QVERIFY(rig.shown == Rig::Shown::Minimized);
    QVERIFY(!rig.delay.isEnabled());

    rig.tick(); // minimized: not re-armed
    QVERIFY(!rig.delay.isEnabled());

    rig.shown = Rig::Shown::Normal; // the user restores the window
    const int startsBefore = rig.delay.countdownsStarted();
    rig.tick();
    rig.tick(); // an enabled timer keeps its countdown
    QVERIFY(rig.delay.isEnabled());
    QCOMPARE(rig.delay.countdownsStarted(), startsBefore + 1);
}

void AutoMinimizeTest::windowMinimizedByHandIsLeftAlone() {
    Rig rig;
    rig.minimizer.set(true, 10000);
    rig.shown = Rig::Shown::Minimized;
    rig.delayOver();
    QVERIFY(rig.shown == Rig::Shown::Minimized);
    QVERIFY(!rig.delay.isEnabled());
    QVERIFY(rig.journal.empty()); // the window state was never set
}

void AutoMinimizeTest::offNeverArmsOrMinimizes() {
    Rig rig;
    rig.minimizer.set(false, 10000);
    QVERIFY(!rig.delay.isEnabled());
    rig.tick();
    QVERIFY(!rig.delay.isEnabled());
    rig.delayOver(); // even a stray tick minimizes nothing
    QVERIFY(rig.shown == Rig::Shown::Normal);
}

void AutoMinimizeTest::delayOfZeroGivesATimerThatNeverFires() {
    Rig rig;
    rig.minimizer.set(true, 0);
    QCOMPARE(rig.delay.interval(), 0);
}

// Preferences' OK hands the setting over again: the countdown under way goes on unless the delay changed,
// and switching it on starts one.
void AutoMinimizeTest::onlyANewDelayStartsANewCountdown() {
    struct Step {
        bool on;
        int delayMs;
        int newCountdowns;
    };
    const Step steps[] = {
        {true, 10000, 1}, // off to on, and a new delay
        {true, 10000, 0}, // the same again
        {true, 2500, 1},  // a new delay
        {false, 2500, 0}, // off
        {true, 2500, 1},  // on again
    };
    Rig rig;
    rig.minimizer.set(false, 10000);
    for (const Step &step : steps) {
        const int before = rig.delay.countdownsStarted();
        rig.minimizer.set(step.on, step.delayMs);
        QCOMPARE(rig.delay.countdownsStarted() - before, step.newCountdowns);
        QCOMPARE(rig.delay.isEnabled(), step.on);
        QCOMPARE(rig.delay.interval(), step.delayMs);
    }
}

QTEST_GUILESS_MAIN(AutoMinimizeTest)
#include "AutoMinimizeTest.moc"
