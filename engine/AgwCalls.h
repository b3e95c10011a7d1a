// Callsigns and digipeater routes as AGW engines take them: fixed-width call fields in the frame header and
// in a 'v' request. What makes a callsign an AX.25 address is the callsign module's (Callsign.h).
#pragma once

#include "Callsign.h"

#include <cstddef>
#include <string>
#include <vector>

namespace corvantle::agw {

// Callsigns longer than this do not fit an AGW call field with its closing NUL.
inline constexpr std::size_t kMaxCallChars = 9;
// The most digipeaters a 'v' request can name.
inline constexpr std::size_t kMaxDigipeaters = 7;
static_assert(callsign::kMaxDigipeaters <= kMaxDigipeaters, "a route every engine takes fits a 'v' request");

// Why `call` cannot go into a request ("is empty", "is longer than 9 characters"), or empty text when it
// fits. Whether the engine can put it on the air is callsign::airProblem's question: a stored call that
// fits a request is still asked for.
std::string callProblem(const std::string &call);

// Why the route cannot go into a connect request, naming the station or digipeater at fault; empty when it
// fits.
std::string routeProblem(const std::string &station, const std::vector<std::string> &digis);

// The data of a 'v' request: a count byte, then one NUL-padded call field per digipeater. The route must
// pass routeProblem.
std::string digipeaterField(const std::vector<std::string> &digis);

} // namespace corvantle::agw
