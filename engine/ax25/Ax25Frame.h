// An AX.25 frame (modulo 8) as the data link and the monitor see it, its encoder, and a decoder that takes
// bytes from the air and returns nothing for anything it cannot read completely.
#pragma once

#include "Ax25Address.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::ax25 {

// The frames this program sends or understands. Others (SREJ, XID, TEST) are not read.
enum class FrameType { I, RR, RNR, REJ, SABM, SABME, UA, DISC, DM, FRMR, UI };

inline constexpr std::size_t kMaxDigipeaters = 8;
inline constexpr std::uint8_t kPidNoLayer3 = 0xF0; // plain text, as DX clusters send it
// What an I or UI frame may carry; longer frames are not read.
inline constexpr std::size_t kMaxInfoBytes = 2048;

struct Hop {
    Address address;
    bool repeated = false; // the has-been-repeated bit: this digipeater has sent the frame on
    bool operator==(const Hop &) const = default;
};

struct Frame {
    Address destination;
    Address source;
    std::vector<Hop> via;
    bool command = true; // a command, or else a response (the destination's and source's top bits)
    FrameType type = FrameType::UI;
    bool pollFinal = false;
    std::uint8_t ns = 0; // I frames: the send sequence number
    std::uint8_t nr = 0; // I and supervisory frames: the next sequence number expected
    std::uint8_t pid = kPidNoLayer3;
    std::string info; // I, UI and FRMR frames

    bool operator==(const Frame &) const = default;
};

// Whether the type carries a PID and information (I and UI).
bool carriesText(FrameType type);

// The frame's bytes on the air, without the flags and the checksum. At most kMaxDigipeaters hops are written.
std::string encode(const Frame &frame);

// The frame in `bytes`, or nothing when they are not a whole, well-formed frame of a type listed above.
std::optional<Frame> decode(std::string_view bytes);

// "I", "RR", ... for logs and test messages.
const char *typeName(FrameType type);

} // namespace corvantle::ax25
