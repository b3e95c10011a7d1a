// The parameters of one AX.25 connected-mode link, under the names TNCs give them.
#pragma once

#include <chrono>
#include <cstddef>

namespace corvantle::ax25 {

struct LinkSettings {
    std::size_t maxFrame = 4; // MAXFRAME: I frames sent and not yet acknowledged, 1 to 7
    std::size_t paclen = 128; // PACLEN: the most text one I frame carries
    // FRACK: how long to wait for an acknowledgement before asking again (T1), multiplied by 2m + 1 for a
    // path through m digipeaters.
    std::chrono::milliseconds frack{3000};
    // Once round trips have been measured, T1 is twice their smoothed time, within these bounds.
    bool adaptT1 = true;
    std::chrono::milliseconds minT1{3000}; // never below FRACK: the TNC may hold our frames a while
    std::chrono::milliseconds maxT1{30000};
    // T2: how long an acknowledgement waits for more frames of the station's burst, or for text of ours to
    // ride on; 0 answers each frame at once.
    std::chrono::milliseconds ackDelay{0};
    std::chrono::milliseconds keepalive{180000}; // T3: a quiet link is polled after this long
    int retries = 10;                            // N2: polls without an answer before the link is given up
    // A disconnect waits this long at most for the text still queued to be acknowledged.
    std::chrono::milliseconds drainLimit{30000};
};

} // namespace corvantle::ax25
