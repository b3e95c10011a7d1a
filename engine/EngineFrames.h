// What the bridge sees of a frame from the engine.
#pragma once

#include "AgwFrame.h"
#include "PacketEngine.h"

#include <string>

namespace corvantle::agw {

// The frame as the bridge reads it: a link notice ('C' becomes 'c') naming the other end of the link in
// `from`, connected data as sent, a monitored frame's information without the engine's description; text
// cut at kMaxFrameTextBytes. `ownCall` is the registered callsign, upper case without "-0".
EngineFrame engineFrameOf(const Frame &frame, const std::string &ownCall);

// The station at the other end of a link that a frame names: link notices name it as CallFrom, but accept
// an engine that puts it the other way round.
std::string remoteOf(const Frame &frame, const std::string &ownCall);

} // namespace corvantle::agw
