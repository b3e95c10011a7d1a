// Benchmark: the measurements, run one after another against the real program, each side by side with the
// direct reader that reads the same engine without the program in between:
//   radio->client frames/s at a steady offered rate and in an unpaced burst, with peak memory after each;
//   added latency at 1200-baud and 9600-baud traffic (monitored copies and acknowledgements included);
//   client->radio lines/s; idle CPU with a session up; time from start to the local port listening.
// Every wait is bounded: a program that falls behind or dies gives a figure with a note, or none and why.
#pragma once

#include "Arrivals.h"
#include "DirectClient.h"
#include "EngineProcess.h"
#include "Results.h"
#include "Session.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace corvantle::bench {

class Benchmark final {
  public:
    Benchmark(std::string programBinary, std::string engineBinary);
    ~Benchmark();
    Benchmark(const Benchmark &) = delete;
    Benchmark &operator=(const Benchmark &) = delete;

    // Starts the fake engine and the direct reader in a fresh working directory.
    bool prepare(std::string &error);
    Results run();

  private:
    // A fresh run of the program with its session up, or none (the reason in `why` and in `results`).
    std::unique_ptr<Session> openSession(Results &results, std::string &why);
    Throughput measureRadioToClient(Results &results, const std::string &verb,
                                    const std::vector<std::int64_t> &arguments, std::int64_t frames,
                                    std::int64_t limitNs, Figure &peakMemory);
    Latency measureLatency(Results &results, std::int64_t intervalUs, std::int64_t frameBytes);
    Throughput measureClientToRadio(Results &results);
    Figure measureIdleCpu(Results &results);

    bool startTraffic(int phase, std::int64_t frames, const std::string &command, std::string &error);
    void awaitDelivery(Session *session, std::int64_t frames, std::int64_t deadlineNs);
    Figure awaitUplink(Session *session, const std::string &who, std::int64_t startNs);
    Figure uplinkFromDirect(int phase);
    int nextPhase() { return ++phase_; }

    std::string programBinary_;
    std::string engineBinary_;
    std::filesystem::path workDir_;
    EngineProcess engine_;
    Arrivals telnetArrivals_;
    Arrivals directArrivals_;
    std::unique_ptr<DirectClient> direct_;
    int phase_ = 0;
    int sessions_ = 0;
};

} // namespace corvantle::bench
