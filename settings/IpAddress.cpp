#include "IpAddress.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace corvantle {
namespace {
// ::ffff:0:0/96 holds the IPv4 addresses.
constexpr std::array<std::uint8_t, 12> kMappedPrefix = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
} // namespace

std::optional<IpAddress> IpAddress::parse(std::string_view text) {
    // inet_pton wants a terminated string and takes no blanks, zones or names: exactly the forms wanted.
    if (text.empty() || text.size() > INET6_ADDRSTRLEN)
        return std::nullopt;
    const std::string terminated(text);
    IpAddress address;
    in_addr v4{};
    if (inet_pton(AF_INET, terminated.c_str(), &v4) == 1) {
        std::memcpy(address.bytes_.data(), kMappedPrefix.data(), kMappedPrefix.size());
        std::memcpy(address.bytes_.data() + 12, &v4, 4);
        return address;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, terminated.c_str(), &v6) == 1) {
        std::memcpy(address.bytes_.data(), &v6, 16);
        return address;
    }
    return std::nullopt;
}

bool IpAddress::isIpv4() const {
    return std::memcmp(bytes_.data(), kMappedPrefix.data(), kMappedPrefix.size()) == 0;
}

bool IpAddress::isLoopback() const {
    if (isIpv4())
        return bytes_[12] == 127;
    static const IpAddress kIpv6Loopback = *parse("::1");
    return *this == kIpv6Loopback;
}

IpAddress IpAddress::masked(int prefixBits) const {
    IpAddress result = *this;
    for (int bit = std::max(prefixBits, 0); bit < 128; ++bit)
        result.bytes_[bit / 8] &= static_cast<std::uint8_t>(~(0x80 >> (bit % 8)));
    return result;
}

bool IpAddress::sharesPrefix(const IpAddress &network, int prefixBits) const {
    return masked(prefixBits) == network.masked(prefixBits);
}

std::string IpAddress::text() const {
    char buffer[INET6_ADDRSTRLEN] = {};
    if (isIpv4())
        inet_ntop(AF_INET, bytes_.data() + 12, buffer, sizeof buffer);
    else
        inet_ntop(AF_INET6, bytes_.data(), buffer, sizeof buffer);
    return buffer;
}

} // namespace corvantle
