// The engine's radio ports, read from the data of its answer to a port list request ('G').
//
// Engines word the list differently, and the number a client must put in its frames is not always the one
// in the list's "PortK" names:
// - Dire Wolf 1.6 lists every channel in order, the unused ones as "INVALID CHANNEL":
//   "2;Port1 first soundcard left;Port2 first soundcard right;Port3 INVALID CHANNEL;...". Older versions
//   leave the unused ones out, so "PortK" is channel K-1 either way. A channel without a radio shows as
//   "Port2 Internet Gateway" or "Port3 Network TNC": it carries no links, and is no radio port here.
// - soundmodem lists all four sound card channels, "4;Port1 with SoundCard Ch A;Port2 Disabled;...", or, in
//   other builds, only the enabled ones renumbered from Port1; channel A is port 0.
// - LinBPQ counts its hidden ports but leaves them out, "4;Port1 with VHF 1200;Port3 with HF Robust;", and
//   the port to use is the entry's position in the list.
// None of them can be trusted with the count in front. The list ends at the first NUL.
#pragma once

#include "RadioPorts.h"

#include <string_view>
#include <vector>

namespace corvantle::agw {

// The usable radio ports in the engine's order: each one's number is the port in the frames' header, its
// description the engine's words without its "PortK" name. Empty when the data is empty or not a port list.
std::vector<RadioPortChoice> radioPortChoices(std::string_view answerData);

} // namespace corvantle::agw
