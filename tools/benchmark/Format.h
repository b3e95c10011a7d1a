// Number formatting for the benchmark's report and notes.
#pragma once

#include <string>

namespace corvantle::bench {

// `value` rounded to `decimals` places, thousands grouped with commas: "49,998", "0.31".
std::string grouped(double value, int decimals = 0);

} // namespace corvantle::bench
