#include "ClientAllowList.h"

#include <charconv>

namespace corvantle {
namespace {

constexpr int kMappedPrefixBits = 96;

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string quoted(std::string_view entry) {
    return "\"" + std::string(entry) + "\"";
}

} // namespace

std::variant<ClientAllowList, std::string> ClientAllowList::parse(std::string_view text) {
    ClientAllowList list;
    list.text_ = trimmed(text);
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = trimmed(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        if (entry.empty())
            continue;

        const std::size_t slash = entry.find('/');
        const auto address = IpAddress::parse(entry.substr(0, slash));
        if (!address)
            return quoted(entry) +
                   " is not an IPv4 or IPv6 address or a range such as 192.168.1.0/24 or fd00::/8";
        // How the entry is written decides how its prefix counts: ::ffff:0:0/96 is an IPv6 range.
        const bool ipv6 = entry.substr(0, slash).find(':') != std::string_view::npos;
        const int widest = ipv6 ? 128 : 32;
        int prefixBits = widest;
        if (slash != std::string_view::npos) {
            const std::string_view digits = entry.substr(slash + 1);
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), prefixBits);
            if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
                prefixBits < 0 || prefixBits > widest)
                return quoted(entry) + ": the prefix length after \"/\" must be a number from 0 to " +
                       std::to_string(widest) + (ipv6 ? " for IPv6" : " for IPv4");
        }
        if (prefixBits == 0)
            return quoted(entry) +
                   ": a prefix length of 0 lets every address in, and every client transmits " +
                   "under your callsign; name your logging computers' addresses or network instead";
        const int mappedBits = ipv6 ? prefixBits : prefixBits + kMappedPrefixBits;
        const IpAddress network = address->masked(mappedBits);
        // A typo such as 192.168.1.5/24 would otherwise quietly open the whole network.
        if (network != *address)
            return quoted(entry) + " has bits set after the first " + std::to_string(prefixBits) +
                   ": it would mean the whole network " + network.text() + "/" + std::to_string(prefixBits) +
                   "; write that, or the address alone";
        list.ranges_.push_back({network, mappedBits});
    }
    return list;
}

bool ClientAllowList::allows(std::string_view address) const {
    const auto parsed = IpAddress::parse(address);
    return parsed && allows(*parsed);
}

bool ClientAllowList::allows(const IpAddress &address) const {
    static const IpAddress kThisMachine4 = *IpAddress::parse("127.0.0.1");
    static const IpAddress kThisMachine6 = *IpAddress::parse("::1");
    if (address == kThisMachine4 || address == kThisMachine6)
        return true;
    for (const Range &range : ranges_)
        if (address.sharesPrefix(range.network, range.prefixBits))
            return true;
    return false;
}

bool ClientAllowList::onlyLoopback() const {
    // A range lies inside loopback when it is no wider than 127.0.0.0/8 and starts there, or is ::1 alone.
    for (const Range &range : ranges_) {
        const bool insideIpv4Loopback =
            range.network.isIpv4() && range.prefixBits >= kMappedPrefixBits + 8 && range.network.isLoopback();
        const bool ipv6Loopback =
            !range.network.isIpv4() && range.prefixBits == 128 && range.network.isLoopback();
        if (!insideIpv4Loopback && !ipv6Loopback)
            return false;
    }
    return true;
}

} // namespace corvantle
