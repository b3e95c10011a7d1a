#include "Ax25Address.h"

#include <cctype>

namespace corvantle::ax25 {
namespace {

constexpr std::size_t kMaxCallChars = 6;
constexpr std::uint8_t kMaxSsid = 15;
constexpr std::uint8_t kReservedBits = 0x60;
constexpr std::uint8_t kTopBit = 0x80;
constexpr std::uint8_t kLastBit = 0x01;

bool isCallChar(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'Z');
}

bool validCall(std::string_view call) {
    if (call.empty() || call.size() > kMaxCallChars)
        return false;
    for (const char c : call)
        if (!isCallChar(c))
            return false;
    return true;
}

std::optional<std::uint8_t> parseSsid(std::string_view digits) {
    if (digits.empty() || digits.size() > 2)
        return std::nullopt;
    unsigned value = 0;
    for (const char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > kMaxSsid)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::string Address::text() const {
    return ssid == 0 ? call : call + "-" + std::to_string(ssid);
}

std::optional<Address> Address::parse(std::string_view text) {
    std::string upperText;
    for (const char c : trimmed(text))
        upperText += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t dash = upperText.find('-');
    Address address{upperText.substr(0, dash), 0};
    if (!validCall(address.call))
        return std::nullopt;
    if (dash != std::string::npos) {
        const std::optional<std::uint8_t> ssid = parseSsid(std::string_view(upperText).substr(dash + 1));
        if (!ssid)
            return std::nullopt;
        address.ssid = *ssid;
    }
    return address;
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
