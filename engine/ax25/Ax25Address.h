// One station address of an AX.25 frame: a callsign of up to six letters or digits and an SSID of 0 to 15.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvantle::ax25 {

// Bytes of one address field on the air: six shifted callsign characters and the SSID byte.
inline constexpr std::size_t kAddressBytes = 7;

struct Address {
    std::string call; // upper-case letters and digits, 1 to 6 of them
    std::uint8_t ssid = 0;

    // "GB7DXC-1" or "GB7DXC" (SSID 0), as stations and engines name each other.
    std::string text() const;
    bool operator==(const Address &) const = default;

    // Reads "gb7dxc-1" as callsign::parse does (case and surrounding blanks do not matter, "-05" is SSID 5);
    // nothing when it is no valid address.
    static std::optional<Address> parse(std::string_view text);
};

// The seven bytes of `address` with the top bit of the SSID byte (command/response or has-been-repeated)
// and the end-of-addresses bit as given; the two reserved bits are set, as the protocol asks.
std::string encodeAddress(const Address &address, bool topBit, bool last);

// One decoded address field, with its flag bits.
struct AddressField {
    Address address;
    bool topBit = false;
    bool last = false;
};

// Nothing when the field holds anything but letters and digits followed by blanks.
std::optional<AddressField> decodeAddress(std::string_view sevenBytes);

} // namespace corvantle::ax25
