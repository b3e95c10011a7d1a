// The bridge's clock: the window's tick, every half second.
#pragma once

namespace corvantle {

inline constexpr int kTicksPerSecond = 2;
inline constexpr int kTicksPerMinute = 60 * kTicksPerSecond;

// Text held back waiting for a line end goes out after this many ticks without more: about a second.
inline constexpr int kHoldTicks = 2;

} // namespace corvantle
