// Number formatting for the report: fixed decimals, thousands grouped.
#include "Format.h"

#include <algorithm>
#include <cstdio>

namespace corvantle::bench {

std::string grouped(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    const std::string digits = text;
    const std::size_t sign = digits[0] == '-' ? 1 : 0;
    const std::size_t integerEnd = std::min(digits.find('.'), digits.size());
    std::string out = digits.substr(0, sign);
    for (std::size_t at = sign; at < integerEnd; ++at) {
        if (at > sign && (integerEnd - at) % 3 == 0)
            out += ',';
        out += digits[at];
    }
    return out + digits.substr(integerEnd);
}

} // namespace corvantle::bench
