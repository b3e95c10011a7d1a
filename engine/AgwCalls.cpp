#include "AgwCalls.h"

#include "AgwFrame.h"

#include <algorithm>
#include <cctype>

namespace corvantle::agw {

std::string trimmed(const std::string &text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string upper(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string normalCall(const std::string &call) {
    std::string text = upper(trimmed(call));
    if (text.size() > 2 && text.ends_with("-0"))
        text.resize(text.size() - 2);
    return text;
}

std::vector<std::string> routeCalls(const std::string &field) {
    std::vector<std::string> calls;
    std::size_t start = 0;
    while (start <= field.size()) {
        const std::size_t comma = std::min(field.find(',', start), field.size());
        if (std::string call = normalCall(field.substr(start, comma - start)); !call.empty())
            calls.push_back(call);
        start = comma + 1;
    }
    return calls;
}

std::string firstCall(const std::string &field) {
    const std::vector<std::string> calls = routeCalls(field);
    return calls.empty() ? std::string() : calls.front();
}

std::string callProblem(const std::string &call) {
    if (call.empty())
        return "is empty";
    if (call.size() > kMaxCallChars)
        return "is longer than " + std::to_string(kMaxCallChars) + " characters";
    return {};
}

std::string routeProblem(const std::string &station, const std::vector<std::string> &digis) {
    if (const std::string problem = callProblem(station); !problem.empty())
        return "the station \"" + station + "\" " + problem;
    if (digis.size() > kMaxDigipeaters)
        return std::to_string(digis.size()) + " digipeaters are named, at most " +
               std::to_string(kMaxDigipeaters) + " fit";
    for (const std::string &digi : digis)
        if (const std::string problem = callProblem(digi); !problem.empty())
            return "the digipeater \"" + digi + "\" " + problem;
    return {};
}

std::string digipeaterField(const std::vector<std::string> &digis) {
    std::string out(1, static_cast<char>(digis.size()));
    for (const std::string &digi : digis) {
        std::string field(agw::kCallFieldBytes, '\0');
        field.replace(0, std::min(digi.size(), kMaxCallChars), digi);
        out += field;
    }
    return out;
}

std::string airCallProblem(const std::string &call) {
    constexpr std::size_t kMostCallChars = 6;
    const std::string text = upper(trimmed(call));
    const std::size_t dash = text.find('-');
    const std::string base = text.substr(0, dash);
    const auto letterOrDigit = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
    bool fits = !base.empty() && base.size() <= kMostCallChars &&
                std::all_of(base.begin(), base.end(), letterOrDigit);
    if (fits && dash != std::string::npos) {
        // "-0" to "-15" exactly: engines report "-05" as "-5", and links are matched by their text.
        const std::string ssid = text.substr(dash + 1);
        fits = (ssid.size() == 1 && ssid[0] >= '0' && ssid[0] <= '9') ||
               (ssid.size() == 2 && ssid[0] == '1' && ssid[1] >= '0' && ssid[1] <= '5');
    }
    if (fits)
        return {};
    return "is not an AX.25 callsign: 1 to " + std::to_string(kMostCallChars) +
           " letters or digits, then an optional SSID -0 to -15";
}

std::string airRouteProblem(const std::string &ownCall, const std::string &station,
                            const std::vector<std::string> &digis) {
    if (const std::string problem = airCallProblem(ownCall); !problem.empty())
        return "your callsign \"" + ownCall + "\" " + problem;
    if (const std::string problem = airCallProblem(station); !problem.empty())
        return "the cluster \"" + station + "\" " + problem;
    for (const std::string &digi : digis)
        if (const std::string problem = airCallProblem(digi); !problem.empty())
            return "the digipeater \"" + digi + "\" " + problem;
    return {};
}

} // namespace corvantle::agw
