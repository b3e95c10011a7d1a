#include "Callsign.h"

#include "PlainText.h"

#include <algorithm>

namespace corvantle::callsign {
namespace {

bool isLetterOrDigit(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// One or two digits, 0 to 15.
std::optional<std::uint8_t> parseSsid(std::string_view digits) {
    if (digits.empty() || digits.size() > 2 || !std::all_of(digits.begin(), digits.end(), isDigit))
        return std::nullopt;
    int value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    if (value > kMaxSsid)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

} // namespace

std::optional<Parts> parse(std::string_view text) {
    const std::string call = plain::upper(plain::trimmed(std::string(text)));
    const std::size_t dash = call.find('-');
    Parts parts{call.substr(0, dash), 0};
    if (parts.base.empty() || parts.base.size() > kMaxBaseChars ||
        !std::all_of(parts.base.begin(), parts.base.end(), isLetterOrDigit))
        return std::nullopt;
    if (dash != std::string::npos) {
        const std::optional<std::uint8_t> ssid = parseSsid(std::string_view(call).substr(dash + 1));
        if (!ssid)
            return std::nullopt;
        parts.ssid = *ssid;
    }
    return parts;
}

std::string text(const Parts &parts) {
    return parts.ssid == 0 ? parts.base : parts.base + "-" + std::to_string(parts.ssid);
}

std::string normal(const std::string &call) {
    if (const std::optional<Parts> parts = parse(call))
        return text(*parts);
    std::string written = plain::upper(plain::trimmed(call));
    if (written.size() > 2 && written.ends_with("-0"))
        written.resize(written.size() - 2);
    return written;
}

// Engines hand over calls written already, so the texts are mostly equal as they come.
bool same(const std::string &a, const std::string &b) {
    return a == b || normal(a) == normal(b);
}

std::string airProblem(const std::string &call) {
    if (parse(call))
        return {};
    return "is not an AX.25 callsign: 1 to " + std::to_string(kMaxBaseChars) +
           " letters or digits, then an optional SSID -0 to -" + std::to_string(kMaxSsid);
}

std::string routeAirProblem(const std::string &ownCall, const std::string &station,
                            const std::vector<std::string> &digis) {
    if (const std::string problem = airProblem(ownCall); !problem.empty())
        return "your callsign \"" + ownCall + "\" " + problem;
    if (const std::string problem = airProblem(station); !problem.empty())
        return "the cluster \"" + station + "\" " + problem;
    for (const std::string &digi : digis)
        if (const std::string problem = airProblem(digi); !problem.empty())
            return "the digipeater \"" + digi + "\" " + problem;
    return {};
}

std::vector<std::string> routeCalls(const std::string &field) {
    std::vector<std::string> calls;
    std::size_t start = 0;
    while (start <= field.size()) {
        const std::size_t comma = std::min(field.find(',', start), field.size());
        if (std::string call = normal(field.substr(start, comma - start)); !call.empty())
            calls.push_back(call);
        start = comma + 1;
    }
    return calls;
}

} // namespace corvantle::callsign
