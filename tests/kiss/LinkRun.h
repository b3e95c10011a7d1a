// A session with the cluster station GB7DXC on engine B over either of the program's links from engine A:
// Dire Wolf's own AX.25 link through the AGW engine, or the program's own link through the KISS engine on
// engine A's KISS port; and what engine B heard of it on the air. Shared by the paced-channel test and the
// link benchmark, which run it through tools/run-with-engines.sh --kiss-a --paced-channel RELAY.
#pragma once

#include "AgwEngine.h"
#include "ClusterStationProcess.h"
#include "KissEngine.h"
#include "LinkRecorder.h"
#include "TcpKissTransport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace corvantle::test::over_the_air {

// The link's parameters, the same for both links: Dire Wolf takes them from engine A's configuration (see
// configLines), the KISS engine from its options.
struct LinkParameters {
    int paclen = 128;
    int maxFrame = 4;
    int frackSeconds = 3;
    int retries = 10;
};

inline ax25::LinkSettings linkSettingsOf(const LinkParameters &parameters) {
    ax25::LinkSettings settings;
    settings.paclen = static_cast<std::size_t>(parameters.paclen);
    settings.maxFrame = static_cast<std::size_t>(parameters.maxFrame);
    settings.frack = std::chrono::seconds(parameters.frackSeconds);
    settings.retries = parameters.retries;
    return settings;
}

// Dire Wolf's configuration lines for the same parameters (CORVANTLE_ENGINE_A_CONFIG of run-with-engines.sh).
inline std::string configLines(const LinkParameters &parameters) {
    // V20: Dire Wolf would otherwise try AX.25 2.2 with its own kind, which the KISS engine does not speak.
    return "V20 GB7DXC\nPACLEN " + std::to_string(parameters.paclen) + "\nMAXFRAME " +
           std::to_string(parameters.maxFrame) + "\nFRACK " + std::to_string(parameters.frackSeconds) +
           "\nRETRY " + std::to_string(parameters.retries);
}

enum class Link { DireWolf, Kiss };

// The user's end: one engine of either kind, and everything it hands over.
class LinkRun final : public LinkRecorder {
  public:
    LinkRun(Link link, const LinkParameters &parameters) {
        if (link == Link::Kiss) {
            kiss::KissEngineOptions options;
            options.link = linkSettingsOf(parameters);
            auto engine = std::make_unique<kiss::KissEngine>(
                std::make_unique<kiss::TcpKissTransport>(
                    "127.0.0.1",
                    static_cast<std::uint16_t>(environment("CORVANTLE_ENGINE_A_KISS_PORT").toUInt())),
                options);
            engine->setLog([](const std::string &line) { std::fprintf(stderr, "kiss: %s\n", line.c_str()); });
            engine_ = std::move(engine);
        } else {
            engine_ = std::make_unique<AgwEngine>(settings::EngineAddress{
                "127.0.0.1", static_cast<std::uint16_t>(environment("CORVANTLE_ENGINE_A_PORT").toUInt())});
        }
        engine_->setListener(this);
    }
    ~LinkRun() override {
        engine_->close();
        (void)QTest::qWaitFor([this] { return closed; }, 15000);
        engine_->setListener(nullptr);
    }

    PacketEngine &engine() { return *engine_; }

    // Registers N0CALL and waits for the answer.
    bool registerOwnCallsign() {
        engine_->registerCallsign("N0CALL", "corvantle test");
        return QTest::qWaitFor([&] { return !answers.empty(); }, 15000) && answers.back();
    }

    // Registers N0CALL unless done already and asks for the link to GB7DXC; true once the link is up.
    bool connect(std::chrono::milliseconds wait) {
        if ((answers.empty() || !answers.back()) && !registerOwnCallsign())
            return false;
        if (!engine_->connect("GB7DXC", {}, 0).empty())
            return false;
        return QTest::qWaitFor([&] { return ups > 0; }, static_cast<int>(wait.count()));
    }

    // Queues text as the link takes it, waiting while the engine's queue is full.
    bool send(const std::string &text) {
        if (!QTest::qWaitFor([&] { return engine_->canTakeData(); }, 600000))
            return false;
        return engine_->sendData("GB7DXC", text, 0);
    }

    // How often `text` arrived from the station.
    std::size_t count(const std::string &text) const {
        std::size_t found = 0;
        for (std::size_t at = data.find(text); at != std::string::npos; at = data.find(text, at + 1))
            ++found;
        return found;
    }

  private:
    std::unique_ptr<PacketEngine> engine_;
};

// What engine B received from N0CALL on the air, from its output ("[0.4] N0CALL>GB7DXC:(I cmd, n(s)=3,
// n(r)=0, p=1, pid=0xf0)text"): one line per frame it decoded.
struct HeardFromUs {
    int frames = 0;
    int informationFrames = 0;
    int resent = 0; // I frames with the same N(S) and text as one heard before
    int polls = 0;  // I and supervisory commands with the poll bit set
    int connects = 0;
};

inline HeardFromUs heardFromUs() {
    QFile file(environment("CORVANTLE_ENGINE_DIR") + "/b.log");
    HeardFromUs heard;
    if (!file.open(QIODevice::ReadOnly))
        return heard;
    static const QRegularExpression frame(R"(^\[0[.\d]*\] N0CALL>GB7DXC:\((\S+) (cmd|res)(.*)$)");
    static const QRegularExpression sequence(R"(n\(s\)=(\d))");
    std::map<QString, int> seen;
    for (const QString &line : QString::fromLatin1(file.readAll()).split('\n')) {
        const QRegularExpressionMatch match = frame.match(line);
        if (!match.hasMatch())
            continue;
        ++heard.frames;
        const QString type = match.captured(1);
        const QString rest = match.captured(3);
        const bool command = match.captured(2) == "cmd";
        if (type == "SABM" || type == "SABME")
            ++heard.connects;
        if (type == "I") {
            ++heard.informationFrames;
            // The same frame again: the same sequence number and text, whatever its N(R) and poll bit.
            const QString key = sequence.match(rest).captured(1) + rest.mid(rest.indexOf("pid="));
            if (seen[key]++ > 0)
                ++heard.resent;
        }
        if (command && (type == "I" || type == "RR" || type == "RNR" || type == "REJ" || type == "SREJ") &&
            rest.contains("p=1"))
            ++heard.polls;
    }
    return heard;
}

} // namespace corvantle::test::over_the_air
