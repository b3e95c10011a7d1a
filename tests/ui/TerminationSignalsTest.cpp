// TerminationSignals: each caught signal becomes one call on the event loop, and the signals' earlier
// dispositions are respected and put back.
#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <signal.h>

using corvantle::TerminationSignals;

namespace {

volatile sig_atomic_t earlierHandlerCalls = 0;
void earlierHandler(int) {
    earlierHandlerCalls = earlierHandlerCalls + 1;
}

// Sets what `signalNumber` does for the length of a test, and puts back the default afterwards.
class Disposition final {
  public:
    Disposition(int signalNumber, void (*handler)(int)) : signalNumber_(signalNumber) {
        struct sigaction action = {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        sigaction(signalNumber_, &action, nullptr);
    }
    ~Disposition() { signal(signalNumber_, SIG_DFL); }
    Disposition(const Disposition &) = delete;
    Disposition &operator=(const Disposition &) = delete;

  private:
    int signalNumber_;
};

} // namespace

class TerminationSignalsTest final : public QObject {
    Q_OBJECT
  private slots:
    void eachSignalIsOneCallOnTheEventLoop_data();
    void eachSignalIsOneCallOnTheEventLoop();
    void signalIgnoredAtStartStaysIgnored();
    void interruptIgnoredAtStartIsCaughtAllTheSame_data();
    void interruptIgnoredAtStartIsCaughtAllTheSame();
    void earlierHandlerComesBack();
    void secondObjectIsRefused();
};

void TerminationSignalsTest::eachSignalIsOneCallOnTheEventLoop_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TerminationSignalsTest::eachSignalIsOneCallOnTheEventLoop() {
    QFETCH(int, signalNumber);
    const Disposition byDefault(signalNumber, SIG_DFL); // would end this test program if not caught
    int calls = 0;
    bool onEventLoopThread = false;
    TerminationSignals caught([&] {
        ++calls;
        onEventLoopThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    });
    QCOMPARE(caught.error(), std::string());

    raise(signalNumber);
    raise(signalNumber);
    // raise() runs the handler before it returns; the calls wait for the event loop.
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 2);
    QVERIFY(onEventLoopThread);
    QCoreApplication::processEvents();
    QCOMPARE(calls, 2);
}

void TerminationSignalsTest::signalIgnoredAtStartStaysIgnored() {
    const Disposition ignored(SIGHUP, SIG_IGN);
    const Disposition byDefault(SIGTERM, SIG_DFL);
    int calls = 0;
    TerminationSignals caught([&] { ++calls; });

    raise(SIGHUP);
    raise(SIGTERM);
    // Both would be read together, so a caught SIGHUP would show as a second call.
    QTRY_VERIFY(calls > 0);
    QCOMPARE(calls, 1);
}

void TerminationSignalsTest::interruptIgnoredAtStartIsCaughtAllTheSame_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGINT") << SIGINT; // a script's background job starts with SIGINT ignored
    QTest::newRow("SIGTERM") << SIGTERM;
}

// `kill -INT` must end a program that a script started in the background, and once the object is gone the
// signal is ignored again, as it was.
void TerminationSignalsTest::interruptIgnoredAtStartIsCaughtAllTheSame() {
    QFETCH(int, signalNumber);
    const Disposition ignored(signalNumber, SIG_IGN);
    int calls = 0;
    {
        TerminationSignals caught([&] { ++calls; });
        raise(signalNumber);
        QTRY_COMPARE(calls, 1);
    }
    raise(signalNumber); // ignored again: this test program goes on
    QCoreApplication::processEvents();
    QCOMPARE(calls, 1);
}

void TerminationSignalsTest::earlierHandlerComesBack() {
    const Disposition earlier(SIGTERM, earlierHandler);
    earlierHandlerCalls = 0;
    int calls = 0;
    {
        TerminationSignals caught([&] { ++calls; });
        raise(SIGTERM);
        QTRY_COMPARE(calls, 1);
        QCOMPARE(int(earlierHandlerCalls), 0);
    }
    raise(SIGTERM);
    QCOMPARE(int(earlierHandlerCalls), 1);
    QCoreApplication::processEvents();
    QCOMPARE(calls, 1);
}

void TerminationSignalsTest::secondObjectIsRefused() {
    const Disposition byDefault(SIGINT, SIG_DFL);
    int firstCalls = 0;
    int secondCalls = 0;
    TerminationSignals first([&] { ++firstCalls; });
    {
        TerminationSignals second([&] { ++secondCalls; });
        QCOMPARE(second.error(), std::string("termination signals are already caught"));
    }
    raise(SIGINT);
    QTRY_COMPARE(firstCalls, 1);
    QCOMPARE(secondCalls, 0);
}

QTEST_GUILESS_MAIN(TerminationSignalsTest)
#include "TerminationSignalsTest.moc"
