// kiss_link_bench: one row of the link benchmark (tools/link-bench.sh). Moves numbered lines to the cluster
// station GB7DXC and back over one of the program's links from engine A, Dire Wolf's own (AGW engine) or
// the program's own (KISS engine), and prints how long each direction took and what engine B heard from us.
// Run by tools/run-with-engines.sh --kiss-a --paced-channel RELAY, with engine A configured for the same
// link parameters (CORVANTLE_ENGINE_A_CONFIG).
//
// Usage: kiss_link_bench agw|kiss LINES PACLEN MAXFRAME FRACK RETRY [LABEL]
#include "LinkRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

using namespace corvantle;
using namespace corvantle::test::over_the_air;

namespace {

constexpr std::chrono::minutes kPhaseLimit{20};

std::string numbered(const char *format, int i, int of = 0) {
    char line[64];
    std::snprintf(line, sizeof line, format, i, of);
    return line;
}

int fail(const std::string &why) {
    std::fprintf(stderr, "kiss_link_bench: %s\n", why.c_str());
    return 1;
}

bool waitFor(const std::function<bool()> &condition) {
    return QTest::qWaitFor(condition, static_cast<int>(std::chrono::milliseconds(kPhaseLimit).count()));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    if (argc < 7 || (std::string(argv[1]) != "agw" && std::string(argv[1]) != "kiss")) {
        std::fprintf(stderr, "usage: %s agw|kiss LINES PACLEN MAXFRAME FRACK RETRY [LABEL]\n", argv[0]);
        return 2;
    }
    const Link link = std::string(argv[1]) == "kiss" ? Link::Kiss : Link::DireWolf;
    const int lines = std::atoi(argv[2]);
    const LinkParameters parameters{std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                                    std::atoi(argv[6])};
    const std::string label = argc > 7 ? argv[7] : argv[1];

    ClusterStation cluster("3600");
    if (!QTest::qWaitFor([&] { return cluster.logged("READY GB7DXC"); }, 15000))
        return fail("the cluster station did not register");
    LinkRun run(link, parameters);
    if (!run.connect(std::chrono::minutes(2)))
        return fail("no link to GB7DXC");
    if (!waitFor([&] { return run.count("N0CALL de GB7DXC >") > 0; }))
        return fail("no greeting");

    // Up: every line reaches the cluster, which answers each as the unknown command it is.
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= lines; ++i)
        if (!run.send(numbered("line %03d to the cluster\r", i)))
            return fail("the engine took no more text");
    const QString lastUp =
        QString::fromStdString(numbered(R"(RX N0CALL "line %03d to the cluster\r")", lines));
    if (!waitFor([&] { return cluster.logged(lastUp); }))
        return fail("not all lines reached the cluster");
    const double upSeconds = static_cast<double>(clock.elapsed()) / 1000;
    // The cluster's answers to them are over before the other direction starts.
    if (!waitFor([&] { return run.count("N0CALL de GB7DXC >") >= static_cast<std::size_t>(lines) + 1; }))
        return fail("not all answers arrived");

    // Down: the cluster's numbered lines.
    clock.restart();
    if (!run.send("count " + std::to_string(lines) + "\r"))
        return fail("the engine took no more text");
    const std::string lastDown = numbered("LINE %04d of %04d\r", lines, lines);
    if (!waitFor([&] { return run.data.find(lastDown) != std::string::npos; }))
        return fail("not all lines came from the cluster");
    const double downSeconds = static_cast<double>(clock.elapsed()) / 1000;

    run.engine().disconnect("GB7DXC", 0);
    (void)QTest::qWaitFor([&] { return run.downs > 0; }, 120000);
    (void)QTest::qWaitFor([&] { return cluster.logged("DOWN N0CALL"); }, 30000);

    const HeardFromUs heard = heardFromUs();
    const std::size_t greetings = run.count("Hello N0CALL");
    std::printf("| %s | %.1f s | %.1f s | %d | %d (%d) | %d | %zu |\n", label.c_str(), upSeconds, downSeconds,
                heard.frames, heard.informationFrames, heard.resent, heard.polls, greetings);
    return 0;
}
