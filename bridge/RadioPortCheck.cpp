#include "RadioPortCheck.h"

#include "RadioPorts.h"

#include <algorithm>
#include <utility>

namespace corvantle {

RadioPortCheck::Verdict RadioPortCheck::heard(const std::vector<int> &ports, int radioPortInUse) {
    Verdict verdict;
    const bool first = !std::exchange(heardBefore_, true);
    if (std::find(ports.begin(), ports.end(), radioPortInUse) == ports.end())
        verdict.problem =
            "Radio port " + std::to_string(radioPortInUse) +
            " is not one of the packet engine's radio ports (" + portNumbersText(ports) +
            "): connects are refused until RadioPort in Options > Preferences names one of them";
    const std::string said = std::exchange(problemSaid_, verdict.problem);
    verdict.tell = !verdict.problem.empty() && verdict.problem != said;
    verdict.showBox = verdict.tell && first;
    return verdict;
}

} // namespace corvantle
