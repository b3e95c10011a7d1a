// EngineProcess: the fake engine as a child process, spoken to over its standard input and output.
#include "EngineProcess.h"

#include "Loopback.h"
#include "MonotonicClock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace corvantle::bench {

EngineStatus::EngineStatus(const std::string &line) {
    std::istringstream words(line);
    for (std::string word; words >> word;) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos)
            fields_[word.substr(0, equals)] = std::stoll(word.substr(equals + 1));
    }
}

std::int64_t EngineStatus::operator[](const std::string &name) const {
    const auto found = fields_.find(name);
    return found == fields_.end() ? 0 : found->second;
}

EngineProcess::~EngineProcess() {
    if (toEngine_ >= 0 && process_.running())
        ask("quit", std::chrono::milliseconds(500));
    process_.stop();
    if (toEngine_ >= 0)
        close(toEngine_);
    if (fromEngine_ >= 0)
        close(fromEngine_);
}

bool EngineProcess::start(const std::string &path, std::string &error) {
    int commands[2];
    int answers[2];
    if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(answers, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    const bool started = process_.start({path}, {}, {commands[0], answers[1], STDERR_FILENO}, error);
    close(commands[0]);
    close(answers[1]);
    toEngine_ = commands[1];
    fromEngine_ = answers[0];
    if (!started)
        return false;
    const auto first = readLine(monotonicNs() + 5 * kNsPerSecond);
    if (!first || std::sscanf(first->c_str(), "port %d", &port_) != 1) {
        error = path + " did not report its port (" + process_.howItEnded() + ")";
        return false;
    }
    return true;
}

std::optional<std::string> EngineProcess::ask(const std::string &command, std::chrono::milliseconds limit) {
    const std::int64_t deadline = monotonicNs() + limit.count() * kNsPerMs;
    const std::string line = command + "\n";
    discardLateAnswers();
    if (write(toEngine_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        return std::nullopt;
    return readLine(deadline);
}

bool EngineProcess::order(const std::string &command, std::string &error) {
    const auto reply = ask(command);
    if (reply && *reply == "ok")
        return true;
    error = "the fake engine did not take \"" + command + "\": " + (reply ? *reply : process_.howItEnded());
    return false;
}

std::optional<EngineStatus> EngineProcess::status() {
    const auto reply = ask("status");
    if (!reply || reply->rfind("status", 0) != 0)
        return std::nullopt;
    return EngineStatus(*reply);
}

// An answer that came after its wait ended must not be taken for the answer to the next command.
void EngineProcess::discardLateAnswers() {
    char chunk[4096];
    while (waitForFd(fromEngine_, POLLIN, monotonicNs() + 1) && read(fromEngine_, chunk, sizeof chunk) > 0) {
    }
    received_.clear();
}

std::optional<std::string> EngineProcess::readLine(std::int64_t deadlineNs) {
    for (;;) {
        const std::size_t end = received_.find('\n');
        if (end != std::string::npos) {
            std::string line = received_.substr(0, end);
            received_.erase(0, end + 1);
            return line;
        }
        if (!waitForFd(fromEngine_, POLLIN, deadlineNs))
            return std::nullopt;
        char chunk[4096];
        const ssize_t got = read(fromEngine_, chunk, sizeof chunk);
        if (got <= 0)
            return std::nullopt;
        received_.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace corvantle::bench
