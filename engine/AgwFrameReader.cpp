#include "AgwFrameReader.h"

namespace corvantle::agw {

std::optional<Frame> FrameReader::next() {
    if (broken_)
        return std::nullopt;
    DecodeResult result = decode(std::string_view(buffer_).substr(used_));
    if (result.status == DecodeStatus::Invalid)
        broken_ = true;
    if (result.status != DecodeStatus::Complete) {
        // Handed-out frames leave the buffer in one go, not one erase per frame.
        buffer_.erase(0, used_);
        used_ = 0;
        return std::nullopt;
    }
    used_ += result.consumedBytes;
    return std::move(result.frame);
}

void FrameReader::reset() {
    buffer_.clear();
    used_ = 0;
    broken_ = false;
}

} // namespace corvantle::agw
