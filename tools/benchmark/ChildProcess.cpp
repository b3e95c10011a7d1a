// ChildProcess: fork and exec with chosen standard streams, and an end that never waits without a limit.
#include "ChildProcess.h"

#include "MonotonicClock.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace corvantle::bench {
namespace {

std::string variableName(const std::string &entry) {
    return entry.substr(0, entry.find('='));
}

std::vector<std::string> mergedEnvironment(const std::vector<std::string> &overrides) {
    std::vector<std::string> merged;
    for (char **entry = environ; *entry; ++entry) {
        bool replaced = false;
        for (const auto &override : overrides)
            replaced = replaced || variableName(*entry) == variableName(override);
        if (!replaced)
            merged.emplace_back(*entry);
    }
    merged.insert(merged.end(), overrides.begin(), overrides.end());
    return merged;
}

std::vector<char *> pointersTo(std::vector<std::string> &texts) {
    std::vector<char *> pointers;
    for (auto &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void becomeChild(const ChildStreams &streams, char *const *argv, char *const *envp) {
    const int nothing = open("/dev/null", O_RDWR);
    dup2(streams.input >= 0 ? streams.input : nothing, STDIN_FILENO);
    dup2(streams.output >= 0 ? streams.output : nothing, STDOUT_FILENO);
    dup2(streams.errors >= 0 ? streams.errors : nothing, STDERR_FILENO);
    // The child must not hold the benchmark's sockets or its ends of other pipes open.
    for (int fd = 3; fd < 1024; ++fd)
        close(fd);
    // Ends with the benchmark even when the benchmark is killed outright.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

bool ChildProcess::start(const std::vector<std::string> &command, const std::vector<std::string> &environment,
                         ChildStreams streams, std::string &error) {
    if (access(command.at(0).c_str(), X_OK) != 0) {
        error = command[0] + ": " + std::strerror(errno);
        return false;
    }
    std::vector<std::string> arguments = command;
    std::vector<std::string> variables = mergedEnvironment(environment);
    const std::vector<char *> argv = pointersTo(arguments);
    const std::vector<char *> envp = pointersTo(variables);
    pid_ = fork();
    if (pid_ < 0) {
        error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid_ == 0)
        becomeChild(streams, argv.data(), envp.data());
    ended_ = false;
    return true;
}

bool ChildProcess::running() {
    if (pid_ <= 0 || ended_)
        return false;
    if (waitpid(pid_, &status_, WNOHANG) == pid_)
        ended_ = true;
    return !ended_;
}

std::string ChildProcess::howItEnded() const {
    if (!ended_)
        return "still running";
    if (WIFEXITED(status_))
        return "exited with status " + std::to_string(WEXITSTATUS(status_));
    if (WIFSIGNALED(status_))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status_)) + " (" +
               strsignal(WTERMSIG(status_)) + ")";
    return "ended";
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!running())
        return;
    kill(pid_, SIGTERM);
    const std::int64_t deadline = monotonicNs() + grace.count() * kNsPerMs;
    while (running() && monotonicNs() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (running()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
        ended_ = true;
    }
}

} // namespace corvantle::bench
