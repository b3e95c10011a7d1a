// Joining the text that arrives from the radio into whole lines for the telnet client.
#include "RadioLines.h"

#include <utility>

namespace corvantle {

std::vector<std::string> RadioLines::feed(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t i = 0;
    if (lfBelongsToLastCr_ && !text.empty()) {
        lfBelongsToLastCr_ = false;
        if (text.front() == '\n')
            i = 1;
    }
    for (; i < text.size(); ++i) {
        const char byte = text[i];
        held_ += byte;
        if (byte == '\r') {
            const bool last = i + 1 == text.size();
            // Within one text a CR LF stays together and the line ends at the LF.
            if (!last && text[i + 1] == '\n')
                continue;
            lines.push_back(std::exchange(held_, {}));
            lfBelongsToLastCr_ = last;
        } else if (byte == '\n') {
            lines.push_back(std::exchange(held_, {}));
        } else if (held_.size() > kHoldLimitBytes) {
            lines.push_back(held_.substr(0, kHoldLimitBytes));
            held_.erase(0, kHoldLimitBytes);
        }
    }
    return lines;
}

std::string RadioLines::takeHeld() {
    return std::exchange(held_, {});
}

void RadioLines::reset() {
    held_.clear();
    lfBelongsToLastCr_ = false;
}

} // namespace corvantle
