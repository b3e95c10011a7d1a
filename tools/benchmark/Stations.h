// The stations of the benchmark's simulated radio link, shared by the fake engine and the benchmark driver.
#pragma once

#include <cstdint>

namespace corvantle::bench {

inline constexpr const char *kProgramCall = "N0CALL";  // registered by the program under test
inline constexpr const char *kDirectCall = "N0CALL-1"; // registered by the direct reader, the ceiling
inline constexpr const char *kClusterCall = "GB7DXC";  // the far end of the link
inline constexpr std::uint8_t kPidText = 0xF0;

} // namespace corvantle::bench
