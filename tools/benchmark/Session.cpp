// Session: bringing one run of the program to a connected telnet client and an up link, within limits.
#include "Session.h"

#include "MonotonicClock.h"

namespace corvantle::bench {
namespace {

constexpr std::int64_t kListenWaitNs = 10 * kNsPerSecond;
constexpr std::int64_t kLinkWaitNs = 10 * kNsPerSecond;

} // namespace

Session::Session(const std::string &binary, const std::filesystem::path &workDir, int enginePort,
                 Arrivals &telnetArrivals)
    : program_(binary, workDir, enginePort), telnet_(telnetArrivals) {}

bool Session::open(std::string &why) {
    if (!program_.start(why))
        return false;
    const auto alive = [this] { return program_.running(); };
    if (!telnet_.connectWhenListening(program_.localPort(), monotonicNs() + kListenWaitNs, alive)) {
        why = program_.running() ? "corvantle did not listen on its local port within 10 s"
                                 : program_.whyGone();
        return false;
    }
    if (!telnet_.waitForLink(monotonicNs() + kLinkWaitNs, alive)) {
        why = trouble().value_or("corvantle did not pass on the link notice within 10 s");
        return false;
    }
    return true;
}

std::optional<std::string> Session::trouble() {
    if (!program_.running())
        return program_.whyGone();
    if (telnet_.closedByProgram())
        return "corvantle closed the telnet session";
    return std::nullopt;
}

std::optional<double> Session::listenDelayMs() const {
    if (telnet_.connectedNs() == 0)
        return std::nullopt;
    return static_cast<double>(telnet_.connectedNs() - program_.startedNs()) / kNsPerMs;
}

} // namespace corvantle::bench
