// KISS framing between the program and a TNC: frames between FEND bytes, FEND and FESC inside a frame
// escaped, and a first byte that names the TNC's port (high nibble) and the command (low nibble).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvantle::kiss {

inline constexpr char kFend = '\xC0';
inline constexpr char kFesc = '\xDB';
inline constexpr char kTfend = '\xDC';
inline constexpr char kTfesc = '\xDD';

// The low nibble of a frame's first byte.
enum class Command : std::uint8_t {
    Data = 0,
    TxDelay = 1,  // key-up delay, in 10 ms units
    Persist = 2,  // p-persistence, (p * 256) - 1
    SlotTime = 3, // in 10 ms units
    TxTail = 4,   // in 10 ms units
    FullDuplex = 5,
};

inline constexpr std::uint8_t kMaxPort = 15;

struct Frame {
    std::uint8_t port = 0;
    Command command = Command::Data;
    std::string payload; // for Data: an AX.25 frame without flags and checksum
    bool operator==(const Frame &) const = default;
};

// `payload` with FEND and FESC escaped.
std::string escaped(std::string_view payload);

// The bytes of `frame` on the wire, a FEND before and after. The port is cut to its four bits.
std::string encode(const Frame &frame);

// An AX.25 frame for the TNC's `port` to transmit.
std::string dataFrame(std::uint8_t port, std::string_view ax25Bytes);

// A TNC parameter (TXDELAY, PERSIST, SLOTTIME, TXTAIL, FULLDUP) for `port`.
std::string parameterFrame(std::uint8_t port, Command parameter, std::uint8_t value);

} // namespace corvantle::kiss
