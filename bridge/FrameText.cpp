#include "FrameText.h"

#include <algorithm>

namespace corvantle {
namespace {

std::size_t clampedLength(const std::string &buffer, int32_t length) {
    return static_cast<std::size_t>(std::clamp<int64_t>(length, 0, static_cast<int64_t>(buffer.size())));
}

} // namespace

std::string noticeText(const std::string &buffer, int32_t length) {
    std::string text = buffer.substr(0, clampedLength(buffer, length));
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::optional<std::string> frameText(const std::string &buffer, int32_t length) {
    const std::size_t n = clampedLength(buffer, length);
    const std::size_t bracket = buffer.find(']');
    // 1-based position of the first "]", 0 when there is none.
    const std::size_t p = bracket == std::string::npos ? 0 : bracket + 1;
    if (n < p + 2)
        return std::nullopt;
    return buffer.substr(p + 1, n - p - 2);
}

std::string headerCallsign(const std::string &headerField) {
    return headerField.substr(0, headerField.find('\0'));
}

} // namespace corvantle
