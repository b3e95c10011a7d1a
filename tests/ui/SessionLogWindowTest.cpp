// The session log window: newest last, each line with the time to the second, only the newest lines kept.
#include "SessionLogWindow.h"

#include <QRegularExpression>
#include <QtTest>

using namespace corvantle;

class SessionLogWindowTest : public QObject {
    Q_OBJECT
  private slots:
    void keepsTheNewestLinesWithTheirTime() {
        SessionLogWindow log(false, 5);
        for (int i = 1; i <= 8; ++i)
            log.note("line " + std::to_string(i));
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 5);
        const QRegularExpression stamped(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d line (\\d)$"));
        for (int i = 0; i < 5; ++i) {
            const QRegularExpressionMatch match = stamped.match(lines[i]);
            QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
            QCOMPARE(match.captured(1).toInt(), i + 4);
        }
    }

    void warningsAreKeptToo() {
        SessionLogWindow log(false);
        log.warn("cannot listen on local TCP port 4444: in use");
        QVERIFY(log.lines().constLast().endsWith(
            QStringLiteral(" cannot listen on local TCP port 4444: in use")));
    }
};

QTEST_MAIN(SessionLogWindowTest)
#include "SessionLogWindowTest.moc"
