// Connections the allow-list refused, as the session log tells of them: the first from an address at once,
// the rest from it counted and told once a minute. A scan or a misconfigured logger retrying in a loop
// would otherwise push everything else out of the log (and out of the journal's rate limit).
#pragma once

#include "SessionLog.h"

#include <cstddef>
#include <map>
#include <string>

namespace corvantle {

// Addresses counted one by one; beyond this many in a minute the rest share one count.
inline constexpr std::size_t kMaxRefusedAddressesCounted = 256;

class RefusedClients final {
  public:
    explicit RefusedClients(SessionLog &log) : log_(log) {}

    void refused(const std::string &address);
    // Every tick: the counts of a minute that has passed are told.
    void tick();

  private:
    struct Count {
        int ticksLeft = 0; // of the minute since the address was last told of
        int more = 0;      // refused since then
    };
    void tellMore(const std::string &address, int more);

    SessionLog &log_;
    std::map<std::string, Count> counts_;
    Count others_; // further addresses, while the map is full
};

} // namespace corvantle
