// AX.25 callsigns as the program stores, checks, compares and sends them, for every engine alike.
//
// An AX.25 address is 1 to 6 letters or digits and an SSID of 0 to 15. Its text form is "GB7DXC-1", and
// "GB7DXC" for SSID 0. Engines report the calls they hear in that form and match links by exact text, so
// every call the program sends or compares goes through normal() first: a stored "gb7dxc-01 " and the
// engine's "GB7DXC-1" are then the same station.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::callsign {

// The most letters and digits before the SSID.
inline constexpr std::size_t kMaxBaseChars = 6;
inline constexpr int kMaxSsid = 15;
// The most digipeaters a route may name for every engine: AX.25 carries eight, an AGW engine's connect
// request takes seven.
inline constexpr std::size_t kMaxDigipeaters = 7;

// An AX.25 address taken apart.
struct Parts {
    std::string base; // upper-case letters and digits, 1 to 6 of them
    std::uint8_t ssid = 0;
    bool operator==(const Parts &) const = default;
};

// Reads an address: case and surrounding blanks do not matter, the SSID is one or two digits ("-05" is
// SSID 5, as a number). Nothing when `text` is no AX.25 address.
std::optional<Parts> parse(std::string_view text);

// "GB7DXC-1", or "GB7DXC" for SSID 0.
std::string text(const Parts &parts);

// The text engines write for `call`: upper case, trimmed, the SSID without leading zeros and without "-0".
// A text that is no AX.25 address is only trimmed, upper-cased and loses a trailing "-0", so that it is
// still named as the user wrote it.
std::string normal(const std::string &call);

// True when the two texts name the same station.
bool same(const std::string &a, const std::string &b);

// Why `call` is not an AX.25 address ("is not an AX.25 callsign: ..."), or empty text when it is. An
// engine can build no frame for anything else: Dire Wolf takes the request and the connect then waits in
// silence until it gives up.
std::string airProblem(const std::string &call);

// The first of the user's callsign, the station and the digipeaters that is not an AX.25 address, named
// with its part in the connect and why ("the cluster \"CLUSTER\" is not an AX.25 callsign: ..."); empty
// when all are.
std::string routeAirProblem(const std::string &ownCall, const std::string &station,
                            const std::vector<std::string> &digis);

// "DEST, digi1 ,,DIGI2" -> {"DEST", "DIGI1", "DIGI2"}: each normal(), empty entries skipped.
std::vector<std::string> routeCalls(const std::string &field);

} // namespace corvantle::callsign
