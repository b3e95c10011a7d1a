// Benchmark: the measurements in order, each on a fresh run of the program, and how their figures are
// worked out from the read times and the engine's counts.
#include "Benchmark.h"

#include "Format.h"
#include "MonotonicClock.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <thread>

#include <unistd.h>

namespace corvantle::bench {
namespace {

using namespace workload;

// After the engine has sent everything, a reader that got nothing new for this long is not catching up.
constexpr std::int64_t kStallNs = 3 * kNsPerSecond;
constexpr std::int64_t kSteadyLimitNs = (kSteadySeconds + 5) * kNsPerSecond;
constexpr std::int64_t kBurstLimitNs = 12 * kNsPerSecond;
constexpr std::int64_t kMixDrainNs = 3 * kNsPerSecond;
constexpr std::int64_t kUplinkLimitNs = 12 * kNsPerSecond;
constexpr auto kPollStep = std::chrono::milliseconds(20);
constexpr double kNotDelivered = std::numeric_limits<double>::infinity();

void progress(const std::string &text) {
    std::cerr << "corvantle-benchmark: " << text << std::endl;
}

std::string count(std::int64_t value) {
    return grouped(static_cast<double>(value));
}

// What stopped a wait short, for a note: the program's trouble if it had some, else the time limit.
std::string cause(const std::optional<std::string> &trouble) {
    return trouble ? ": " + *trouble : " within the time limit";
}

void addNote(Figure &figure, const std::string &text) {
    figure.note += (figure.note.empty() ? "" : "; ") + text;
}

Figure rateOf(const Arrivals::Summary &arrived, std::int64_t expected,
              const std::optional<std::string> &trouble) {
    Figure rate;
    if (arrived.received == 0) {
        rate.note = trouble.value_or("no frame arrived within the time limit");
        return rate;
    }
    const double seconds = static_cast<double>(arrived.lastReadNs - arrived.firstSentNs) / kNsPerSecond;
    if (seconds > 0)
        rate.value = static_cast<double>(arrived.received) / seconds;
    rate.partial = arrived.received < expected;
    if (rate.partial)
        rate.note = count(arrived.received) + " of " + count(expected) + " frames arrived" + cause(trouble);
    if (arrived.duplicates > 0)
        addNote(rate, count(arrived.duplicates) + " frames arrived more than once");
    return rate;
}

// Nearest-rank percentile of added latencies, sorted, with frames never delivered as infinity.
Figure percentile(const std::vector<double> &sorted, double fraction) {
    if (sorted.empty())
        return {std::nullopt, "no frame reached the direct reader"};
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
    const double value = sorted[std::max<std::size_t>(rank, 1) - 1];
    if (value == kNotDelivered)
        return {std::nullopt, "fewer than " + grouped(fraction * 100) + " % of the frames arrived"};
    return {value, ""};
}

Latency addedLatency(const std::vector<std::int64_t> &program, const std::vector<std::int64_t> &direct,
                     const std::optional<std::string> &trouble) {
    std::vector<double> addedMs;
    std::int64_t undelivered = 0;
    for (std::size_t seq = 0; seq < direct.size() && seq < program.size(); ++seq) {
        if (direct[seq] == 0)
            continue;
        undelivered += program[seq] == 0;
        addedMs.push_back(program[seq] == 0 ? kNotDelivered
                                            : static_cast<double>(program[seq] - direct[seq]) / kNsPerMs);
    }
    std::sort(addedMs.begin(), addedMs.end());
    Latency latency{percentile(addedMs, 0.50), percentile(addedMs, 0.99), undelivered};
    const auto frames = static_cast<std::int64_t>(addedMs.size());
    if (undelivered > 0)
        latency.p99Ms.note =
            count(frames - undelivered) + " of " + count(frames) + " frames arrived" + cause(trouble);
    return latency;
}

Latency latencyFrom(const Arrivals &program, const Arrivals &direct,
                    const std::optional<std::string> &trouble) {
    Latency latency = addedLatency(program.readTimes(), direct.readTimes(), trouble);
    // A monitored copy passed on as well as the data shows up as the same frame twice.
    if (const std::int64_t twice = program.summary().duplicates; twice > 0)
        addNote(latency.p50Ms, count(twice) + " frames arrived more than once");
    return latency;
}

// Lines of kUplinkLineBytes bytes with `ending` in place of the marked line's CR.
std::string uplinkLine(int phase, std::int64_t seq, const std::string &ending) {
    std::string line = markedLine({phase, seq, 0}, static_cast<std::size_t>(kUplinkLineBytes) - 1);
    line.pop_back();
    return line + ending;
}

Figure peakMemoryOf(Session *session, const std::string &why) {
    if (!session)
        return {std::nullopt, why};
    if (const auto trouble = session->trouble(); trouble && !session->program().running())
        return {std::nullopt, *trouble};
    const auto peak = session->program().peakResidentMb();
    return peak ? Figure{peak, ""} : Figure{std::nullopt, "VmHWM not readable"};
}

} // namespace

Benchmark::Benchmark(std::string programBinary, std::string engineBinary)
    : programBinary_(std::move(programBinary)), engineBinary_(std::move(engineBinary)) {}

Benchmark::~Benchmark() {
    direct_.reset();
    if (!workDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(workDir_, ignored);
    }
}

bool Benchmark::prepare(std::string &error) {
    char pattern[] = "/tmp/corvantle-benchmark-XXXXXX";
    if (!mkdtemp(pattern)) {
        error = "cannot make a working directory in /tmp";
        return false;
    }
    workDir_ = pattern;
    if (!engine_.start(engineBinary_, error))
        return false;
    direct_ = std::make_unique<DirectClient>(directArrivals_);
    return direct_->join(engine_.agwPort(), error);
}

Results Benchmark::run() {
    Results results;
    progress("radio -> client at " + count(kSteadyFramesPerSecond) + " frames/s for " +
             count(kSteadySeconds) + " s");
    results.steady = measureRadioToClient(
        results, "steady", {kSteadyFramesPerSecond, kBulkFrameBytes, kSteadySeconds},
        kSteadyFramesPerSecond * kSteadySeconds, kSteadyLimitNs, results.peakAfterSteadyMb);
    progress("radio -> client, a burst of " + count(kBurstFrames) + " frames");
    results.burst = measureRadioToClient(results, "burst", {kBurstFrames, kBulkFrameBytes}, kBurstFrames,
                                         kBurstLimitNs, results.peakAfterBurstMb);
    progress("added latency at 1200 baud for " + count(kMixSeconds) + " s");
    results.slowLink = measureLatency(results, kSlowIntervalUs, kSlowFrameBytes);
    progress("added latency at 9600 baud for " + count(kMixSeconds) + " s");
    results.fastLink = measureLatency(results, kFastIntervalUs, kFastFrameBytes);
    progress("client -> radio, " + count(kUplinkLines) + " lines");
    results.uplink = measureClientToRadio(results);
    progress("idle CPU over " + count(kIdleSeconds) + " s");
    results.idleCpuPercent = measureIdleCpu(results);
    return results;
}

std::unique_ptr<Session> Benchmark::openSession(Results &results, std::string &why) {
    auto session =
        std::make_unique<Session>(programBinary_, workDir_ / ("run-" + std::to_string(++sessions_)),
                                  engine_.agwPort(), telnetArrivals_);
    const bool opened = session->open(why);
    if (const auto delay = session->listenDelayMs())
        results.listenDelaysMs.push_back(*delay);
    if (opened)
        return session;
    why = "run " + std::to_string(sessions_) + " of corvantle failed: " + why;
    return nullptr;
}

Throughput Benchmark::measureRadioToClient(Results &results, const std::string &verb,
                                           const std::vector<std::int64_t> &arguments, std::int64_t frames,
                                           std::int64_t limitNs, Figure &peakMemory) {
    std::string why;
    auto session = openSession(results, why);
    const int phase = nextPhase();
    std::string command = verb + " " + std::to_string(phase);
    for (const std::int64_t argument : arguments)
        command += " " + std::to_string(argument);
    if (!startTraffic(phase, frames, command, why))
        return {{std::nullopt, why}, {std::nullopt, why}};
    awaitDelivery(session.get(), frames, monotonicNs() + limitNs);
    const std::optional<std::string> trouble = session ? session->trouble() : why;
    peakMemory = peakMemoryOf(session.get(), why);
    Throughput throughput{rateOf(telnetArrivals_.summary(), frames, trouble),
                          rateOf(directArrivals_.summary(), frames, {})};
    if (const auto status = engine_.status(); status && (*status)["dropped_program"] > 0)
        addNote(throughput.program, "the engine dropped " + count((*status)["dropped_program"]) +
                                        " frames it could not queue for corvantle");
    return throughput;
}

Latency Benchmark::measureLatency(Results &results, std::int64_t intervalUs, std::int64_t frameBytes) {
    std::string why;
    auto session = openSession(results, why);
    if (!session)
        return {{std::nullopt, why}, {std::nullopt, why}};
    const int phase = nextPhase();
    const std::int64_t frames = mixFrames(intervalUs);
    const std::string command = "mix " + std::to_string(phase) + " " + std::to_string(intervalUs) + " " +
                                std::to_string(frameBytes) + " " + std::to_string(kMixSeconds);
    if (!startTraffic(phase, frames, command, why))
        return {{std::nullopt, why}, {std::nullopt, why}};
    awaitDelivery(session.get(), frames, monotonicNs() + kMixSeconds * kNsPerSecond + kMixDrainNs);
    return latencyFrom(telnetArrivals_, directArrivals_, session->trouble());
}

Throughput Benchmark::measureClientToRadio(Results &results) {
    std::string why;
    auto session = openSession(results, why);
    const int phase = nextPhase();
    if (!engine_.order("uplink " + std::to_string(phase) + " " + std::to_string(kUplinkLines), why))
        return {{std::nullopt, why}, {std::nullopt, why}};
    Throughput throughput{{std::nullopt, why}, {}};
    if (session) {
        std::string lines;
        for (std::int64_t seq = 0; seq < kUplinkLines; ++seq)
            lines += uplinkLine(phase, seq, "\r\n");
        const std::int64_t startNs = monotonicNs();
        const bool written = session->telnet().write(lines, startNs + kUplinkLimitNs);
        throughput.program = awaitUplink(session.get(), "program", startNs);
        if (!written)
            addNote(throughput.program,
                    "the telnet client could not write all its lines within the time limit");
    }
    throughput.direct = uplinkFromDirect(phase);
    return throughput;
}

Figure Benchmark::uplinkFromDirect(int phase) {
    std::vector<std::string> lines;
    // The same lines as the program puts on the air: its radio line end is a blank and a CR.
    for (std::int64_t seq = 0; seq < kUplinkLines; ++seq)
        lines.push_back(uplinkLine(phase, seq, " \r"));
    const std::int64_t startNs = monotonicNs();
    if (!direct_->sendLines(lines, startNs + kUplinkLimitNs))
        return {std::nullopt, "the direct client could not write its lines within the time limit"};
    return awaitUplink(nullptr, "direct", startNs);
}

Figure Benchmark::measureIdleCpu(Results &results) {
    std::string why;
    auto session = openSession(results, why);
    if (!session)
        return {std::nullopt, why};
    std::this_thread::sleep_for(std::chrono::seconds(1)); // what start-up leaves to do is not idling
    const auto before = session->program().cpuSeconds();
    const std::int64_t startNs = monotonicNs();
    while (monotonicNs() - startNs < kIdleSeconds * kNsPerSecond && !session->trouble())
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (const auto trouble = session->trouble())
        return {std::nullopt, *trouble};
    const auto after = session->program().cpuSeconds();
    const double seconds = static_cast<double>(monotonicNs() - startNs) / kNsPerSecond;
    if (!before || !after)
        return {std::nullopt, "/proc/<pid>/stat not readable"};
    // /proc counts CPU time in clock ticks; the count shows how coarse the figure is.
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    return {(*after - *before) / seconds * 100.0,
            "utime+stime grew by " + grouped((*after - *before) * ticksPerSecond) + " ticks of 1/" +
                grouped(ticksPerSecond) + " s in " + grouped(seconds, 1) + " s"};
}

bool Benchmark::startTraffic(int phase, std::int64_t frames, const std::string &command, std::string &error) {
    telnetArrivals_.expect(phase, static_cast<std::size_t>(frames));
    directArrivals_.expect(phase, static_cast<std::size_t>(frames));
    return engine_.order(command, error);
}

// Until both readers have every frame, or the engine has sent all and nothing moved for a while, or the
// limit passes; a reader that is gone counts as finished.
void Benchmark::awaitDelivery(Session *session, std::int64_t frames, std::int64_t deadlineNs) {
    std::int64_t lastTotal = -1;
    std::int64_t changedNs = monotonicNs();
    for (;;) {
        const std::int64_t program = telnetArrivals_.summary().received;
        const std::int64_t direct = directArrivals_.summary().received;
        const bool programFinished = program >= frames || !session || session->trouble();
        if (programFinished && (direct >= frames || direct_->gone()))
            return;
        const std::int64_t now = monotonicNs();
        if (program + direct != lastTotal) {
            lastTotal = program + direct;
            changedNs = now;
        }
        const auto status = engine_.status();
        const bool engineDone = !status || (*status)["traffic_done"] != 0;
        if (now >= deadlineNs || (engineDone && now - changedNs > kStallNs))
            return;
        std::this_thread::sleep_for(kPollStep);
    }
}

// Until the engine has counted every line from `who` ("program" or "direct"), or they stop coming, or the
// limit passes. The rate runs from the first write to the last line's arrival at the engine.
Figure Benchmark::awaitUplink(Session *session, const std::string &who, std::int64_t startNs) {
    std::int64_t lines = 0;
    std::int64_t lastNs = 0;
    std::int64_t changedNs = monotonicNs();
    std::optional<std::string> trouble;
    for (;;) {
        const auto status = engine_.status();
        const std::int64_t now = monotonicNs();
        if (!status) {
            trouble = "the fake engine stopped answering";
            break;
        }
        if ((*status)["up_" + who] != lines)
            changedNs = now;
        lines = (*status)["up_" + who];
        lastNs = (*status)["up_" + who + "_last_ns"];
        if (lines >= kUplinkLines || (session && (trouble = session->trouble())))
            break;
        if (now - startNs >= kUplinkLimitNs || now - changedNs > kStallNs)
            break;
        std::this_thread::sleep_for(kPollStep);
    }
    Figure rate;
    if (lines == 0) {
        rate.note = trouble.value_or("no line reached the engine within the time limit");
        return rate;
    }
    rate.value = static_cast<double>(lines) / (static_cast<double>(lastNs - startNs) / kNsPerSecond);
    rate.partial = lines < kUplinkLines;
    if (rate.partial)
        rate.note =
            count(lines) + " of " + count(kUplinkLines) + " lines reached the engine" + cause(trouble);
    return rate;
}

} // namespace corvantle::bench
