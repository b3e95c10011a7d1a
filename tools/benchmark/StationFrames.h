// The frames a packet engine sends about the link to the cluster, as Dire Wolf 1.6 sends them: connected
// data, its monitored copy, and the engine's own acknowledgement.
#pragma once

#include "AgwFrame.h"

#include <cstdint>
#include <string>

namespace corvantle::bench {

// 'D': connected data from the cluster to the program's callsign.
agw::Frame clusterData(const std::string &payload);

// 'I': the monitored copy of the I-frame that carried `payload`, numbered `frameNumber` on the link.
agw::Frame monitoredCopy(const std::string &payload, std::int64_t frameNumber);

// 'T': the engine's RR acknowledging that I-frame.
agw::Frame transmittedAck(std::int64_t frameNumber);

} // namespace corvantle::bench
