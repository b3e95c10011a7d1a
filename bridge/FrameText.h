// Reading the packet engine's receive buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvantle {

// The first `length` characters of the buffer without trailing NULs: an engine's connect or disconnect
// notice as the client should see it.
std::string noticeText(const std::string &buffer, int32_t length);

// The text a station sent in a data or information frame: the characters from two positions after the
// first "]" up to, not including, the frame's last character. Nothing when the frame is too short to hold
// any.
std::optional<std::string> frameText(const std::string &buffer, int32_t length);

// The NUL-padded callsign in the header field.
std::string headerCallsign(const std::string &headerField);

} // namespace corvantle
