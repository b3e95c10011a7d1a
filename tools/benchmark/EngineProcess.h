// EngineProcess: the driver's handle on corvantle-fake-engine: starts it, learns its AGW port, and asks it
// one-line commands (see FakeEngine.h), each answer awaited for a bounded time.
#pragma once

#include <QProcess>

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace corvantle::bench {

// The fields of a "status" answer, by name.
class EngineStatus final {
  public:
    explicit EngineStatus(const std::string &line);
    std::int64_t operator[](const std::string &name) const;

  private:
    std::map<std::string, std::int64_t> fields_;
};

class EngineProcess final {
  public:
    EngineProcess() = default;
    ~EngineProcess();
    EngineProcess(const EngineProcess &) = delete;
    EngineProcess &operator=(const EngineProcess &) = delete;

    bool start(const std::string &path, std::string &error);
    int agwPort() const { return port_; }
    // The engine's answer to `command`, or nothing when it did not answer within `limit`.
    std::optional<std::string> ask(const std::string &command,
                                   std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    // Asks a command whose answer is "ok"; false (with `error` set) otherwise.
    bool order(const std::string &command, std::string &error);
    std::optional<EngineStatus> status();

  private:
    std::optional<std::string> readLine(std::int64_t deadlineNs);
    void discardLateAnswers();
    std::string howItEnded() const;

    QProcess process_;
    int port_ = 0;
};

} // namespace corvantle::bench
