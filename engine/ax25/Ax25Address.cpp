#include "Ax25Address.h"

#include "Callsign.h"

#include <cctype>

namespace corvantle::ax25 {
namespace {

constexpr std::size_t kMaxCallChars = callsign::kMaxBaseChars;
constexpr std::uint8_t kReservedBits = 0x60;
constexpr std::uint8_t kTopBit = 0x80;
constexpr std::uint8_t kLastBit = 0x01;

bool isCallChar(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'Z');
}

} // namespace

std::string Address::text() const {
    return callsign::text({call, ssid});
}

// The callsign module's reading, so that a stored text names the same station for every engine.
std::optional<Address> Address::parse(std::string_view text) {
    const std::optional<callsign::Parts> parts = callsign::parse(text);
    if (!parts)
        return std::nullopt;
    return Address{parts->base, parts->ssid};
}

std::string encodeAddress(const Address &address, bool topBit, bool last) {
    std::string bytes(kAddressBytes, static_cast<char>(' ' << 1));
    for (std::size_t i = 0; i < address.call.size() && i < kMaxCallChars; ++i)
        bytes[i] = static_cast<char>(static_cast<std::uint8_t>(address.call[i]) << 1);
    std::uint8_t ssidByte = kReservedBits | static_cast<std::uint8_t>((address.ssid & 0x0F) << 1);
    if (topBit)
        ssidByte |= kTopBit;
    if (last)
        ssidByte |= kLastBit;
    bytes[6] = static_cast<char>(ssidByte);
    return bytes;
}

std::optional<AddressField> decodeAddress(std::string_view sevenBytes) {
    if (sevenBytes.size() != kAddressBytes)
        return std::nullopt;
    AddressField field;
    bool padding = false;
    for (std::size_t i = 0; i < kMaxCallChars; ++i) {
        const auto byte = static_cast<std::uint8_t>(sevenBytes[i]);
        if (byte & kLastBit) // the end-of-addresses bit belongs in the SSID byte only
            return std::nullopt;
        const char c = static_cast<char>(byte >> 1);
        if (c == ' ') {
            padding = true;
            continue;
        }
        if (padding || !isCallChar(c))
            return std::nullopt;
        field.address.call += c;
    }
    if (field.address.call.empty())
        return std::nullopt;
    const auto ssidByte = static_cast<std::uint8_t>(sevenBytes[6]);
    field.address.ssid = (ssidByte >> 1) & 0x0F;
    field.topBit = (ssidByte & kTopBit) != 0;
    field.last = (ssidByte & kLastBit) != 0;
    return field;
}

} // namespace corvantle::ax25
