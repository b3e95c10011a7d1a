// What the bridge sees of the program's own AX.25 link and of frames heard on a KISS port: the same
// EngineFrames the AGW engine hands over, with the notice texts AGW engines send (the clients know them).
#pragma once

#include "Ax25Frame.h"
#include "LinkEvent.h"
#include "PacketEngine.h"

#include <cstdint>
#include <optional>
#include <string>

namespace corvantle::kiss {

// LinkUp with "*** CONNECTED With Station X" CR; LinkDown with "*** DISCONNECTED From Station X" CR, or
// "*** DISCONNECTED RETRYOUT With X" CR when the retries ran out; LinkData with the text received. `from` is
// the station at the other end, `to` the user's callsign.
EngineFrame linkFrameOf(const ax25::LinkEvent &event, std::uint8_t radioPort, const ax25::Address &remote,
                        const ax25::Address &own);

// The notice for a link that went down without a link event (the TNC went away, nothing to disconnect).
EngineFrame linkDownFrame(std::uint8_t radioPort, const std::string &remote, const std::string &own);

// An I frame heard on the channel as HeardInformation, a UI frame as HeardUnnumbered, with the text it
// carried (cut at kMaxFrameTextBytes; an I frame of a modulo 128 link without its second control byte);
// nothing for frames without text.
std::optional<EngineFrame> monitoredFrameOf(const ax25::Frame &frame, std::uint8_t radioPort);

} // namespace corvantle::kiss
