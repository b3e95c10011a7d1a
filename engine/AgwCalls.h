// Callsigns and digipeater routes as AGW engines take them.
#pragma once

#include <cstddef>
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

// Callsigns longer than this do not fit an AGW call field with its closing NUL.
inline constexpr std::size_t kMaxCallChars = 9;
// The most digipeaters a 'v' request can name.
inline constexpr std::size_t kMaxDigipeaters = 7;

// Why `call` cannot go into a request ("is empty", "is longer than 9 characters"), or empty text when it
// fits. Whether the engine can put it on the air is airCallProblem's question: a stored call that fits a
// request is still asked for.
std::string callProblem(const std::string &call);

// Why the route cannot go into a connect request, naming the station or digipeater at fault; empty when it
// fits.
std::string routeProblem(const std::string &station, const std::vector<std::string> &digis);

// The data of a 'v' request: a count byte, then one NUL-padded call field per digipeater. The route must
// pass routeProblem.
std::string digipeaterField(const std::vector<std::string> &digis);

// An AX.25 address is 1 to 6 letters or digits, then an optional SSID "-0" to "-15". An engine cannot build a
// frame for anything else: Dire Wolf takes the request and the connect then waits in silence until it gives
// up. Why `call` (blanks around it and lower case allowed, as callsigns are stored upper-cased) is not such
// an address, or empty text when it is.
std::string airCallProblem(const std::string &call);

// The first of the user's callsign, the station and the digipeaters that is not an AX.25 address, named with
// its part in the connect and why ("the cluster \"CLUSTER\" is not an AX.25 callsign: ..."); empty when
// all are.
std::string airRouteProblem(const std::string &ownCall, const std::string &station,
                            const std::vector<std::string> &digis);

} // namespace corvantle::agw
