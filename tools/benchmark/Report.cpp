// Report: rows with targets and verdicts, notes for missing or qualified figures, and the machine line.
#include "Report.h"

#include "Format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace corvantle::bench {
namespace {

using namespace workload;

constexpr double kMinFramesPerSecond = 10'000;
constexpr double kMinRatioToDirect = 0.5;
constexpr double kMaxFastP99Ms = 5;
constexpr double kMaxIdleCpuPercent = 0.5;
constexpr double kMaxPeakMb = 60;

struct Row {
    std::string measure;
    std::string program;
    std::string direct = "—";
    std::string target = "—";
    std::string met = "—";
};

class Table final {
  public:
    void add(Row row) { rows_.push_back(std::move(row)); }
    // Notes the reason or caveat of `figure`, if it has one, under `name`; figures that share a reason
    // (a run of the program that failed) share one note.
    void note(const std::string &name, const Figure &figure);
    std::string markdown() const;

  private:
    struct Note {
        std::string names;
        std::string text;
    };

    std::vector<Row> rows_;
    std::vector<Note> notes_;
};

void Table::note(const std::string &name, const Figure &figure) {
    if (figure.note.empty())
        return;
    const auto same = std::find_if(notes_.begin(), notes_.end(),
                                   [&](const Note &note) { return note.text == figure.note; });
    if (same == notes_.end())
        notes_.push_back({name, figure.note});
    else
        same->names += "; " + name;
}

std::string Table::markdown() const {
    std::ostringstream out;
    out << "| measure | corvantle | direct reader | target | met |\n|---|---|---|---|---|\n";
    for (const Row &row : rows_)
        out << "| " << row.measure << " | " << row.program << " | " << row.direct << " | " << row.target
            << " | " << row.met << " |\n";
    if (!notes_.empty())
        out << "\nNotes:\n";
    for (const Note &note : notes_)
        out << "- " << note.names << ": " << note.text << "\n";
    return out.str();
}

std::string shown(const Figure &figure, int decimals, const std::string &unit) {
    return figure.value ? grouped(*figure.value, decimals) + unit : "n/a";
}

// "256 B every 0.26 s for 12 s: 46 frames"
std::string mixText(std::int64_t frameBytes, std::int64_t intervalUs) {
    return std::to_string(frameBytes) + " B every " + grouped(static_cast<double>(intervalUs) / 1e6, 2) +
           " s for " + std::to_string(kMixSeconds) + " s: " + std::to_string(mixFrames(intervalUs)) +
           " frames";
}

std::string verdict(bool known, bool met) {
    return !known ? "n/a" : met ? "yes" : "no";
}

std::optional<double> ratio(const Throughput &throughput) {
    if (!throughput.program.value || !throughput.direct.value || *throughput.direct.value <= 0)
        return std::nullopt;
    return *throughput.program.value / *throughput.direct.value;
}

// `name` heads the notes about the row's figures.
void addThroughput(Table &table, const std::string &measure, const std::string &name,
                   const Throughput &throughput, const std::string &unit, double minimum) {
    const auto share = ratio(throughput);
    Row row{measure, shown(throughput.program, 0, unit), shown(throughput.direct, 0, unit)};
    if (share)
        row.program += " (" + grouped(*share, 2) + " × direct)";
    const std::string ratioTarget = "≥ " + grouped(kMinRatioToDirect, 1) + " × direct";
    row.target = minimum > 0 ? "≥ " + grouped(minimum) + unit + " and " + ratioTarget : ratioTarget;
    // A rate over part of the frames does not meet a target for all of them.
    row.met =
        verdict(share.has_value(), share && !throughput.program.partial &&
                                       *throughput.program.value >= minimum && *share >= kMinRatioToDirect);
    table.add(row);
    table.note(name + ", corvantle", throughput.program);
    table.note(name + ", direct reader", throughput.direct);
}

void addLatency(Table &table, const std::string &measure, const std::string &name, const Latency &latency,
                std::optional<double> p99Limit) {
    Row row{measure, shown(latency.p50Ms, 2, " ms") + " / " + shown(latency.p99Ms, 2, " ms")};
    if (p99Limit) {
        const auto p99 = latency.p99Ms.value;
        row.target = "p99 < " + grouped(*p99Limit) + " ms";
        // Frames that never came are worse than any limit.
        row.met = verdict(p99 || latency.undelivered > 0, p99 && *p99 < *p99Limit);
    }
    table.add(row);
    table.note(name + ", p50", latency.p50Ms);
    table.note(name + ", p99", latency.p99Ms);
}

void addBelow(Table &table, const std::string &measure, const std::string &name, const Figure &figure,
              int decimals, const std::string &unit, double limit) {
    Row row{measure, shown(figure, decimals, unit)};
    char limitText[32];
    std::snprintf(limitText, sizeof limitText, "%g", limit);
    row.target = std::string("< ") + limitText + unit;
    row.met = verdict(figure.value.has_value(), figure.value && *figure.value < limit);
    table.add(row);
    table.note(name, figure);
}

void addListenDelay(Table &table, std::vector<double> delaysMs) {
    const std::string measure = "start to local port listening";
    if (delaysMs.empty()) {
        table.add({measure, "n/a"});
        return;
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    table.add(
        {measure + " (median of " + std::to_string(delaysMs.size()) + " runs; slowest)",
         grouped(delaysMs[(delaysMs.size() - 1) / 2], 0) + " ms; " + grouped(delaysMs.back(), 0) + " ms"});
}

std::string cpuModel() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos)
            return line.substr(line.find(':') + 2);
    }
    return "unknown CPU";
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm fields{};
    gmtime_r(&now, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &fields);
    return text;
}

} // namespace

Machine thisMachine(const std::string &program) {
    return {std::to_string(sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + cpuModel(), utcNow(), program};
}

std::string markdownReport(const Results &results, const Machine &machine) {
    const std::string bulk = std::to_string(kBulkFrameBytes) + " B";
    Table table;
    addThroughput(table,
                  "radio → client, " + grouped(kSteadyFramesPerSecond) + " frames/s of " + bulk +
                      " offered for " + std::to_string(kSteadySeconds) + " s",
                  "steady radio → client", results.steady, " frames/s", kMinFramesPerSecond);
    addThroughput(table, "radio → client, unpaced burst of " + grouped(kBurstFrames) + " frames of " + bulk,
                  "burst radio → client", results.burst, " frames/s", kMinFramesPerSecond);
    addLatency(table,
               "added latency at 1200 baud (" + mixText(kSlowFrameBytes, kSlowIntervalUs) + "), p50 / p99",
               "1200 baud latency", results.slowLink, std::nullopt);
    addLatency(table,
               "added latency at 9600 baud (" + mixText(kFastFrameBytes, kFastIntervalUs) + "), p50 / p99",
               "9600 baud latency", results.fastLink, kMaxFastP99Ms);
    addThroughput(table,
                  "client → radio, " + grouped(kUplinkLines) + " lines of " +
                      std::to_string(kUplinkLineBytes) + " B",
                  "client → radio", results.uplink, " lines/s", 0);
    addBelow(table, "idle CPU, session up, over " + std::to_string(kIdleSeconds) + " s", "idle CPU",
             results.idleCpuPercent, 2, " %", kMaxIdleCpuPercent);
    addBelow(table,
             "peak memory (VmHWM) after " + std::to_string(kSteadySeconds) + " s at " +
                 grouped(kSteadyFramesPerSecond) + " frames/s",
             "memory after steady", results.peakAfterSteadyMb, 1, " MB", kMaxPeakMb);
    addBelow(table, "peak memory (VmHWM) after the " + grouped(kBurstFrames) + "-frame burst",
             "memory after burst", results.peakAfterBurstMb, 1, " MB", kMaxPeakMb);
    addListenDelay(table, results.listenDelaysMs);

    std::ostringstream out;
    out << "Machine: " << machine.description << "; " << machine.date << "; program: " << machine.program
        << "\n\n"
        << table.markdown();
    return out.str();
}

} // namespace corvantle::bench
