// The parameters of one AX.25 connected-mode link, under the names TNCs give them.
#pragma once

#include <chrono>
#include <cstddef>

namespace corvantle::ax25 {

struct LinkSettings {
    std::size_t maxFrame = 4; // MAXFRAME: I frames sent and not yet acknowledged, 1 to 7
    std::size_t paclen = 128; // PACLEN: the most text one I frame carries
    // FRACK: how long to wait for an answer before asking again (T1) until round trips have been measured,
    // multiplied by 2m + 1 for a path through m digipeaters. Like all of T1, it counts only time in which the
    // channel is not busy, from when our frames can have left, plus the air time of a PACLEN frame: an answer
    // is heard only once it has ended.
    std::chrono::milliseconds frack{3000};
    // Once round trips have been measured, T1 is twice their smoothed time, within these bounds (the lower
    // one, too, times 2m + 1): a random wait for a clear channel on each side fits in it. Each expiry of T1
    // lengthens it by a quarter, up to the upper bound. Off: T1 is FRACK (times 2m + 1) throughout.
    bool adaptT1 = true;
    std::chrono::milliseconds minT1{3000};
    std::chrono::milliseconds maxT1{30000};
    // The channel as the link estimates it (ChannelTime): its bit rate, and how long a transmission takes
    // before its first frame (the TNC's TXDELAY). A bit rate of 0 leaves air time out.
    int bitRate = 1200;
    std::chrono::milliseconds keyUp{300};
    // T2: how long an acknowledgement waits after a frame of the station's ends, beyond the air time of one
    // more such frame, for the rest of its transmission or for text of ours to ride on; 0 with a bit rate of
    // 0 answers each frame at once.
    std::chrono::milliseconds ackDelay{500};
    std::chrono::milliseconds keepalive{180000}; // T3: a quiet link is polled after this long
    int retries = 10; // N2: expiries of T1 in a row without progress before the link is given up
    // A disconnect waits this long at most for the text still queued to be acknowledged.
    std::chrono::milliseconds drainLimit{30000};
};

} // namespace corvantle::ax25
