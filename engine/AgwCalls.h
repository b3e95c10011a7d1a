// Callsigns and digipeater routes as AGW engines take them.
#pragma once

#include <string>
#include <vector>

namespace corvantle::agw {

std::string trimmed(const std::string &text); // without surrounding blanks and tabs
std::string upper(std::string text);

// Upper case, trimmed, without a "-0" SSID: engines report calls so and match links by exact text.
std::string normalCall(const std::string &call);

// "DEST, DIGI1 ,,DIGI2" -> {"DEST", "DIGI1", "DIGI2"}: blanks trimmed, empty entries skipped.
std::vector<std::string> routeCalls(const std::string &field);

// The destination of a route, or empty text.
std::string firstCall(const std::string &field);

// The data of a 'v' request: a count byte, then one NUL-padded call field per digipeater.
std::string digipeaterField(const std::vector<std::string> &digis);

} // namespace corvantle::agw
