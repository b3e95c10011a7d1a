#include "AgwCalls.h"

#include "AgwFrame.h"

#include <algorithm>

namespace corvantle::agw {

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

} // namespace corvantle::agw
