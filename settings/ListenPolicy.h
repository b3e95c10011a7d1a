// Where the telnet port listens and whom it serves there, as the settings say.
//
// Loopback is the default and needs nothing more. Listening beyond it (on "any" or on an address of a
// network interface) takes an allow-list naming at least one address outside loopback: whoever reaches the
// port transmits under the user's callsign, so the program refuses to listen for everybody by accident.
#pragma once

#include "ClientAllowList.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvantle {

struct ListenPolicy {
    // What the settings give when they name neither key: this machine's loopback only.
    static ListenPolicy byDefault();

    std::optional<IpAddress> address; // nothing: every interface ("any")
    ClientAllowList allowed;

    // "any", or the address as written by IpAddress::text().
    std::string addressText() const;
    bool beyondLoopback() const { return !address || !address->isLoopback(); }
    // Why the port must not listen with this policy, naming the settings file at `location`; empty when it
    // may.
    std::string problem(const std::string &location) const;
};

// "any" (in any case) is nothing; an address is itself; anything else is not a listen address.
std::optional<std::optional<IpAddress>> parseListenAddress(std::string_view text);

} // namespace corvantle
