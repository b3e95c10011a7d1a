// Texts the engine library reads out of the engine's frames, or makes up in its place.
#pragma once

#include <string>

namespace corvantle::agw {

// The information a monitored frame carried: what follows the engine's description
// (" 1:Fm GB7DXC To G4XYZ <I S0 R0 pid=F0 Len=68 P=0 >[03:09:00]" CR) without the engine's own closing CR
// and NUL. Empty for a frame without information.
std::string monitoredInformation(const std::string &text);

// The notice for a link that went down without the engine saying so (the engine itself went away).
std::string disconnectNotice(const std::string &call);

} // namespace corvantle::agw
