// One frame of the AGW Packet Engine TCP API: a 36-byte little-endian header followed by DataLen bytes.
//
// Encoding and decoding are pure functions over byte strings, so the framing is tested with tables of
// bytes and is shared by the engine library and the test tools that act as stations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvantle::agw {

inline constexpr std::size_t kHeaderBytes = 36;
inline constexpr std::size_t kCallFieldBytes = 10;
// Longest data part accepted from an engine; anything larger means the stream is garbage.
inline constexpr std::int64_t kMaxDataBytes = 4 * 1024 * 1024;

struct Frame {
    std::uint8_t port = 0;
    char kind = 0;
    std::uint8_t pid = 0;
    std::string callFrom; // at most 9 characters on the wire
    std::string callTo;
    std::string data;
};

// The frame as one contiguous byte string, reserved and user bytes zero.
std::string encode(const Frame &frame);

enum class DecodeStatus {
    NeedMore, // no whole frame at the start of the buffer yet
    Complete, // `frame` holds the first frame, `consumedBytes` its size on the wire
    Invalid,  // the header's data length is negative or absurd: the stream cannot be trusted any more
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::NeedMore;
    Frame frame;
    std::size_t consumedBytes = 0;
};

// Decodes the first frame at the start of `bytes`.
DecodeResult decode(std::string_view bytes);

} // namespace corvantle::agw
