// Session: one run of the program under test with a telnet client connected and the link to the cluster
// up, the state every measurement starts from. Each measurement gets a fresh run, so one that left the
// program behind (frames still queued inside it) cannot spoil the next.
#pragma once

#include "ProgramUnderTest.h"
#include "TelnetClient.h"

#include <filesystem>
#include <optional>
#include <string>

namespace corvantle::bench {

class Session final {
  public:
    Session(const std::string &binary, const std::filesystem::path &workDir, int enginePort,
            Arrivals &telnetArrivals);

    // Starts the program, connects as soon as it listens and waits for the link; false with `why` set.
    bool open(std::string &why);
    // What went wrong since, if anything: the program ended, or it closed the telnet session.
    std::optional<std::string> trouble();
    // From process start to the first successful connection to its local port.
    std::optional<double> listenDelayMs() const;

    ProgramUnderTest &program() { return program_; }
    TelnetClient &telnet() { return telnet_; }

  private:
    ProgramUnderTest program_; // declared first so that it outlives the telnet client's reader
    TelnetClient telnet_;
};

} // namespace corvantle::bench
