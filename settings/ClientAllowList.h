// Which addresses may use the telnet port: every connection transmits under the user's callsign, so a
// listener reachable from the network serves only the machines the user named.
//
// The list is written as addresses and CIDR ranges separated by commas ("192.168.1.0/24, fd00::/8,
// 127.0.0.2"). The machine's own 127.0.0.1 and ::1 are always allowed, so a logging program on the same
// machine keeps working whatever the list says.
#pragma once

#include "IpAddress.h"

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace corvantle {

class ClientAllowList final {
  public:
    // The list, or why not: the first entry that is neither an address nor a range, with the rule it breaks.
    // A range of every address (a prefix length of 0) and a range written with host bits set (which looks
    // like one machine and means a whole network) are refused too.
    static std::variant<ClientAllowList, std::string> parse(std::string_view text);

    // Whether a client from `address` (as parse() reads it) may connect; an unreadable address may not.
    bool allows(std::string_view address) const;
    bool allows(const IpAddress &address) const;

    // True when no entry reaches beyond loopback (127.0.0.0/8 and ::1), which includes an empty list: such
    // a list lets nobody in from another machine.
    bool onlyLoopback() const;

    // The list as it was written, blanks around it left out: what Preferences shows and saves again.
    const std::string &text() const { return text_; }

  private:
    struct Range {
        IpAddress network;
        int prefixBits; // of the 128 bits; IPv4 ranges count the 96 of the mapped prefix
    };
    std::vector<Range> ranges_;
    std::string text_;
};

} // namespace corvantle
