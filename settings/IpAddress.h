// An IPv4 or IPv6 address as the telnet listener compares them: sixteen bytes, IPv4 held as an IPv4-mapped
// IPv6 address (::ffff:a.b.c.d), so that a client reaching a dual-stack listener over IPv4 compares equal to
// the same address written in dotted form.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvantle {

class IpAddress final {
  public:
    // "192.168.1.20", "::1", "fd00::5", "::ffff:127.0.0.2"; nothing for anything else (names, zones, blanks).
    static std::optional<IpAddress> parse(std::string_view text);

    bool isIpv4() const; // dotted, or IPv4-mapped
    // In 127.0.0.0/8, or ::1: an address of this machine that no other machine can use.
    bool isLoopback() const;
    // Whether the first `prefixBits` bits equal those of `network` (of the 128).
    bool sharesPrefix(const IpAddress &network, int prefixBits) const;
    // Only the first `prefixBits` bits kept.
    IpAddress masked(int prefixBits) const;

    // Dotted for IPv4, the shortest IPv6 form otherwise.
    std::string text() const;

    bool operator==(const IpAddress &) const = default;

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

} // namespace corvantle
