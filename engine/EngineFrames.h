// What the bridge sees of a frame from an AGW engine.
#pragma once

#include "AgwFrame.h"
#include "PacketEngine.h"

#include <string>

namespace corvantle::agw {

// The frame as the bridge reads it: 'C' and 'd' as LinkUp and LinkDown naming the other end of the link in
// `from`, 'D' as LinkData, the monitored 'I' 'U' 'S' 'T' as frames on the channel with their information
// without the engine's description; every call as callsign::normal writes it, text cut at
// kMaxFrameTextBytes. `ownCall` is the registered callsign, written the same way.
EngineFrame engineFrameOf(const Frame &frame, const std::string &ownCall);

// The station at the other end of a link that a frame names: link notices name it as CallFrom, but accept
// an engine that puts it the other way round.
std::string remoteOf(const Frame &frame, const std::string &ownCall);

} // namespace corvantle::agw
