// Line-end rewriting between the telnet client and the radio.
#pragma once

#include <string>

namespace corvantle {

// Text for the telnet client: a CR that is not followed by LF becomes CR LF. Clusters on AX.25 end lines
// with CR alone; telnet clients split lines at LF.
std::string withTelnetLineEnds(const std::string &text);

// A line from the telnet client for the cluster: trailing CRs and LFs removed, then " " CR appended, or CR
// alone in compatibility mode.
std::string withRadioLineEnd(std::string line, bool compatibilityMode);

} // namespace corvantle
