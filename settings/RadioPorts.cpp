#include "RadioPorts.h"

namespace corvantle {

std::string portNumbersText(const std::vector<int> &ports) {
    std::string text;
    for (const int port : ports)
        text += (text.empty() ? "" : ", ") + std::to_string(port);
    return text;
}

} // namespace corvantle
