#include "AgwFrame.h"

#include <algorithm>

namespace corvantle::agw {
namespace {

void putCall(std::string &out, std::size_t offset, const std::string &call) {
    const std::size_t n = std::min(call.size(), kCallFieldBytes - 1);
    std::copy_n(call.begin(), n, out.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string getCall(std::string_view bytes, std::size_t offset) {
    std::string_view field = bytes.substr(offset, kCallFieldBytes);
    return std::string(field.substr(0, std::min(field.find('\0'), field.size())));
}

void putLe32(std::string &out, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::int32_t getLe32(std::string_view bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return static_cast<std::int32_t>(value);
}

} // namespace

std::string encode(const Frame &frame) {
    std::string out(kHeaderBytes, '\0');
    out[0] = static_cast<char>(frame.port);
    out[4] = frame.kind;
    out[6] = static_cast<char>(frame.pid);
    putCall(out, 8, frame.callFrom);
    putCall(out, 18, frame.callTo);
    putLe32(out, 28, static_cast<std::uint32_t>(frame.data.size()));
    out += frame.data;
    return out;
}

DecodeResult decode(std::string_view bytes) {
    DecodeResult result;
    if (bytes.size() < kHeaderBytes)
        return result;
    const std::int64_t dataBytes = getLe32(bytes, 28);
    if (dataBytes < 0 || dataBytes > kMaxDataBytes) {
        result.status = DecodeStatus::Invalid;
        return result;
    }
    const std::size_t total = kHeaderBytes + static_cast<std::size_t>(dataBytes);
    if (bytes.size() < total)
        return result;
    result.status = DecodeStatus::Complete;
    result.consumedBytes = total;
    result.frame.port = static_cast<std::uint8_t>(bytes[0]);
    result.frame.kind = bytes[4];
    result.frame.pid = static_cast<std::uint8_t>(bytes[6]);
    result.frame.callFrom = getCall(bytes, 8);
    result.frame.callTo = getCall(bytes, 18);
    result.frame.data = std::string(bytes.substr(kHeaderBytes, static_cast<std::size_t>(dataBytes)));
    return result;
}

} // namespace corvantle::agw
