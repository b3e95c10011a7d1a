// EnginePortQuery against the fake engine on loopback: the request it sends, the answers it reads, and the
// answers that never come.
#include "EnginePortQuery.h"
#include "FakeAgwServer.h"
#include "TimerMark.h"

#include <QTcpServer>
#include <QTest>

#include <string>
#include <vector>

using namespace corvantle;
using corvantle::RadioPortChoice;
using corvantle::test::FakeAgwServer;
using corvantle::test::TimerMark;
using namespace std::chrono_literals;
using namespace std::string_literals;

Q_DECLARE_METATYPE(std::string)

namespace {

const std::string kDireWolfStereo = "2;Port1 first soundcard left;Port2 first soundcard right;"
                                    "Port3 INVALID CHANNEL;Port4 INVALID CHANNEL;Port5 INVALID CHANNEL;"
                                    "Port6 INVALID CHANNEL;\0"s;

// Every answer the query gives, in order.
struct Answers {
    std::vector<EnginePortList> received;
    EnginePortQuery::Answer collector() {
        return [this](const EnginePortList &list) { received.push_back(list); };
    }
};

quint16 portNumber(const FakeAgwServer &engine) {
    return static_cast<quint16>(std::stoi(engine.port()));
}

// A loopback port on which nothing listens.
quint16 closedPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

std::string frameBytes(char kind, const std::string &data) {
    agw::Frame frame;
    frame.kind = kind;
    frame.data = data;
    return agw::encode(frame);
}

} // namespace

class EnginePortQueryTest final : public QObject {
    Q_OBJECT
  private slots:
    void asksOnceAndReadsTheList();
    void answerInPiecesAfterAnotherFrame();
    void noList_data();
    void noList();
    void aNewQuestionAbandonsTheOneBefore();
    void cancelledQuestionIsNeverAnswered();
};

void EnginePortQueryTest::asksOnceAndReadsTheList() {
    FakeAgwServer engine;
    engine.answerPortList(kDireWolfStereo);
    EnginePortQuery query;
    Answers answers;
    query.ask("127.0.0.1", portNumber(engine), 1, answers.collector());
    QVERIFY(answers.received.empty()); // the answer comes from the event loop, never from ask()
    QVERIFY(query.asking());

    QTRY_COMPARE(answers.received.size(), std::size_t(1));
    const std::vector<RadioPortChoice> expected = {{0, "first soundcard left"}, {1, "first soundcard right"}};
    QVERIFY(answers.received.front().choices == expected);
    QCOMPARE(answers.received.front().problem, std::string());
    QVERIFY(!query.asking());

    const std::vector<agw::Frame> frames = engine.frames(1);
    QCOMPARE(frames.size(), std::size_t(1));
    QCOMPARE(frames.front().kind, 'G');
    QCOMPARE(int(frames.front().port), 1);
    QCOMPARE(frames.front().callFrom, std::string());
    QCOMPARE(frames.front().callTo, std::string());
    QCOMPARE(frames.front().data, std::string());
    // The engine's client slot is free again at once.
    QVERIFY(engine.waitForClientGone(2000ms));
}

void EnginePortQueryTest::answerInPiecesAfterAnotherFrame() {
    FakeAgwServer engine;
    EnginePortQuery query;
    Answers answers;
    query.ask("127.0.0.1", portNumber(engine), 0, answers.collector());
    QTRY_COMPARE(engine.frameCount(), std::size_t(1));

    const std::string answer = frameBytes('G', "1;Port1 with VHF 1200;\0"s);
    engine.send(frameBytes('R', "\1\0\0\0\6\0\0\0"s) + answer.substr(0, 20));
    QVERIFY(TimerMark(50).wait()); // what has come is read by then: half an answer gives none
    QVERIFY(answers.received.empty());
    engine.send(answer.substr(20));

    QTRY_COMPARE(answers.received.size(), std::size_t(1));
    const std::vector<RadioPortChoice> expected = {{0, "VHF 1200"}};
    QVERIFY(answers.received.front().choices == expected);
}

void EnginePortQueryTest::noList_data() {
    QTest::addColumn<QString>("engineDoes");
    QTest::addColumn<std::string>("problem");
    QTest::newRow("never answers, as a busy Dire Wolf") << "nothing"
                                                        << "no answer within 0.3 s"s;
    QTest::newRow("answers with no port") << "lists no port"
                                          << "the engine's answer names no radio port"s;
    QTest::newRow("sends a broken stream") << "garbage"
                                           << "the answer is not in the AGW format"s;
    QTest::newRow("closes the connection") << "closes"
                                           << "The remote host closed the connection"s;
    QTest::newRow("is not running") << "not running"
                                    << "Connection refused"s;
}

void EnginePortQueryTest::noList() {
    QFETCH(QString, engineDoes);
    QFETCH(std::string, problem);
    FakeAgwServer engine;
    if (engineDoes == "lists no port")
        engine.answerPortList("0;\0"s);
    const quint16 port = engineDoes == "not running" ? closedPort() : portNumber(engine);
    EnginePortQuery query;
    Answers answers;
    query.ask("127.0.0.1", port, 0, answers.collector(), 300ms);
    QVERIFY(answers.received.empty());

    if (engineDoes == "garbage" || engineDoes == "closes") {
        QTRY_COMPARE(engine.frameCount(), std::size_t(1));
        if (engineDoes == "garbage")
            engine.send(std::string(28, '\0') + "\xFF\xFF\xFF\xFF" + std::string(4, '\0'));
        else
            engine.dropClient();
    }
    QTRY_COMPARE(answers.received.size(), std::size_t(1));
    QVERIFY(answers.received.front().choices.empty());
    QCOMPARE(answers.received.front().problem, problem);
    QVERIFY(!query.asking());
    QVERIFY(TimerMark(400).wait()); // past the time limit, whose timer fires first: still one answer
    QCOMPARE(answers.received.size(), std::size_t(1));
}

void EnginePortQueryTest::aNewQuestionAbandonsTheOneBefore() {
    FakeAgwServer silent;
    FakeAgwServer answering;
    answering.answerPortList(kDireWolfStereo);
    EnginePortQuery query;
    Answers first;
    Answers second;
    query.ask("127.0.0.1", portNumber(silent), 0, first.collector(), 300ms);
    QTRY_COMPARE(silent.frameCount(), std::size_t(1));
    query.ask("127.0.0.1", portNumber(answering), 0, second.collector(), 300ms);

    QTRY_COMPARE(second.received.size(), std::size_t(1));
    QCOMPARE(second.received.front().choices.size(), std::size_t(2));
    QVERIFY(silent.waitForClientGone(2000ms));
    QVERIFY(TimerMark(400).wait()); // past the first question's time limit
    QVERIFY(first.received.empty());
}

void EnginePortQueryTest::cancelledQuestionIsNeverAnswered() {
    FakeAgwServer engine;
    EnginePortQuery query;
    Answers answers;
    query.ask("127.0.0.1", portNumber(engine), 0, answers.collector(), 300ms);
    QTRY_COMPARE(engine.frameCount(), std::size_t(1));
    query.cancel();
    QVERIFY(!query.asking());
    QVERIFY(engine.waitForClientGone(2000ms));
    QVERIFY(TimerMark(400).wait()); // past the question's time limit
    QVERIFY(answers.received.empty());
}

QTEST_GUILESS_MAIN(EnginePortQueryTest)
#include "EnginePortQueryTest.moc"
