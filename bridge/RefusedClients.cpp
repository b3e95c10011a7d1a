#include "RefusedClients.h"

#include "Ticks.h"

namespace corvantle {
namespace {

const std::string kOtherAddresses = "other addresses";

std::string refusedLine(const std::string &address) {
    return "Telnet client from " + address + " refused: not in AllowedClients";
}

} // namespace

void RefusedClients::refused(const std::string &address) {
    if (const auto counted = counts_.find(address); counted != counts_.end()) {
        ++counted->second.more;
        return;
    }
    if (counts_.size() >= kMaxRefusedAddressesCounted) {
        if (others_.ticksLeft == 0)
            others_.ticksLeft = kTicksPerMinute;
        ++others_.more;
        return;
    }
    log_.warn(refusedLine(address));
    counts_[address] = {kTicksPerMinute, 0};
}

void RefusedClients::tick() {
    for (auto entry = counts_.begin(); entry != counts_.end();) {
        Count &count = entry->second;
        if (--count.ticksLeft > 0) {
            ++entry;
            continue;
        }
        if (count.more == 0) {
            entry = counts_.erase(entry); // quiet for a minute: its next refusal is told at once
            continue;
        }
        tellMore(entry->first, count.more);
        count = {kTicksPerMinute, 0};
        ++entry;
    }
    if (others_.ticksLeft > 0 && --others_.ticksLeft == 0) {
        tellMore(kOtherAddresses, others_.more);
        others_ = {};
    }
}

void RefusedClients::tellMore(const std::string &address, int more) {
    log_.warn("Telnet clients from " + address + " refused " + std::to_string(more) +
              (more == 1 ? " more time" : " more times") + " in the last minute: not in AllowedClients");
}

} // namespace corvantle
