// The texts the engine library lays into the bridge's receive buffer.
#pragma once

#include "AgwFrame.h"

#include <string>

namespace corvantle::agw {

// Connected data in the engine's monitor layout: a header naming both stations that ends at the first "]",
// one CR, the payload, one final NUL.
std::string connectedDataText(const Frame &frame, const std::string &receiver);

// A monitored frame's text with the engine's own CR after the information removed, so that what the bridge
// forwards is exactly what the station sent.
std::string monitorText(const std::string &text);

// The notice for a link that went down without the engine saying so (the engine itself went away).
std::string disconnectNotice(const std::string &call);

} // namespace corvantle::agw
