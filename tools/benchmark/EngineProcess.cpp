// EngineProcess: the fake engine as a child process, spoken to over its standard input and output.
#include "EngineProcess.h"

#include "MonotonicClock.h"

#include <cstdio>
#include <sstream>

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
    if (process_.state() == QProcess::Running) {
        ask("quit", std::chrono::milliseconds(500));
        process_.closeWriteChannel();
        if (!process_.waitForFinished(2000))
            process_.kill();
        process_.waitForFinished(2000);
    }
}

bool EngineProcess::start(const std::string &path, std::string &error) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QString::fromStdString(path), {});
    if (!process_.waitForStarted(5000)) {
        error = "cannot start " + path + ": " + process_.errorString().toStdString();
        return false;
    }
    const auto first = readLine(monotonicNs() + 5 * kNsPerSecond);
    if (!first || std::sscanf(first->c_str(), "port %d", &port_) != 1) {
        error = path + " did not report its port (" + howItEnded() + ")";
        return false;
    }
    return true;
}

std::optional<std::string> EngineProcess::ask(const std::string &command, std::chrono::milliseconds limit) {
    const std::int64_t deadline = monotonicNs() + limit.count() * kNsPerMs;
    discardLateAnswers();
    process_.write(QByteArray::fromStdString(command + "\n"));
    if (!process_.waitForBytesWritten(static_cast<int>(limit.count())) && process_.bytesToWrite() > 0)
        return std::nullopt;
    return readLine(deadline);
}

bool EngineProcess::order(const std::string &command, std::string &error) {
    const auto reply = ask(command);
    if (reply && *reply == "ok")
        return true;
    error = "the fake engine did not take \"" + command + "\": " + (reply ? *reply : howItEnded());
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
    process_.waitForReadyRead(0);
    process_.readAllStandardOutput();
}

std::optional<std::string> EngineProcess::readLine(std::int64_t deadlineNs) {
    while (!process_.canReadLine()) {
        const std::int64_t leftMs = (deadlineNs - monotonicNs()) / kNsPerMs;
        if (leftMs <= 0 || !process_.waitForReadyRead(static_cast<int>(leftMs)))
            return std::nullopt;
    }
    return process_.readLine().trimmed().toStdString();
}

std::string EngineProcess::howItEnded() const {
    if (process_.state() != QProcess::NotRunning)
        return "still running";
    return process_.exitStatus() == QProcess::CrashExit
               ? "crashed"
               : "exited with status " + std::to_string(process_.exitCode());
}

} // namespace corvantle::bench
