// ChildProcess: one program the benchmark starts (the fake engine, each run of the program under test),
// with its standard streams on descriptors the caller chose, and a bounded way to end it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace corvantle::bench {

// Descriptors the child gets as its standard streams; -1 means /dev/null.
struct ChildStreams {
    int input = -1;
    int output = -1;
    int errors = -1;
};

class ChildProcess final {
  public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts `command` with this process's environment plus `environment` ("NAME=value", replacing any
    // variable of that name).
    bool start(const std::vector<std::string> &command, const std::vector<std::string> &environment,
               ChildStreams streams, std::string &error);
    pid_t pid() const { return pid_; }
    // False once it has ended (it is then reaped).
    bool running();
    // How it ended, for a report: "exited with status 1", "killed by signal 11".
    std::string howItEnded() const;
    // Asks it to end, then kills it if it is still there after `grace`.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

  private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

} // namespace corvantle::bench
