// What the data link tells its user: the link came up or went down (and why), or text arrived.
#pragma once

#include <string>

namespace corvantle::ax25 {

enum class DownReason {
    Refused,          // the station answered the connect request with DM
    RetriesExhausted, // N2 polls or connect requests went unanswered
    ByPeer,           // the station disconnected (DISC or DM)
    ByUs,             // our disconnect request was answered or ran out of retries
};

struct LinkEvent {
    enum class Kind { Up, Down, Data };
    Kind kind = Kind::Up;
    DownReason reason = DownReason::ByUs; // for Down
    std::string data;                     // for Data: one I frame's text, in order, each once
    bool operator==(const LinkEvent &) const = default;
};

} // namespace corvantle::ax25
