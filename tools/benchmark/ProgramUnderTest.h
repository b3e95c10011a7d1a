// ProgramUnderTest: one run of corvantle, treated as a black box, started by the tests' launcher: its own
// settings file (an INI under a private XDG_CONFIG_HOME) pointing at the fake engine and a free local port,
// the offscreen platform, its error output kept in a log, and its CPU time and peak memory read from /proc.
#pragma once

#include "../../tests/support/ProgramUnderTest.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvantle::bench {

class ProgramUnderTest final {
  public:
    // `workDir` is this run's own directory.
    ProgramUnderTest(std::string binary, std::filesystem::path workDir, int enginePort);

    // The environment every run starts from: the benchmark's own as it was given, before the benchmark
    // changed its own for itself. Called once, first thing.
    static void keepGivenEnvironment();

    bool start(std::string &error);
    std::int64_t startedNs() const { return startedNs_; }
    int localPort() const { return localPort_; }
    bool running() { return process_.running(); }
    // Why it is no longer running: how it ended and the last line of its error output.
    std::string whyGone();
    std::optional<double> cpuSeconds() const { return process_.cpuSeconds(); }
    std::optional<double> peakResidentMb() const { return process_.peakResidentMb(); }
    void stop() { process_.stop(2000); }

  private:
    std::string lastLogLine() const;

    std::string binary_;
    std::filesystem::path workDir_;
    int enginePort_;
    int localPort_ = 0;
    std::int64_t startedNs_ = 0;
    test::ProgramUnderTest process_;
};

} // namespace corvantle::bench
