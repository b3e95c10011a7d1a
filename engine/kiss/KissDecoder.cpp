#include "KissDecoder.h"

namespace corvantle::kiss {

void KissDecoder::feed(std::string_view bytes) {
    for (const char byte : bytes)
        take(byte);
}

std::optional<Frame> KissDecoder::next() {
    if (ready_.empty())
        return std::nullopt;
    Frame frame = std::move(ready_.front());
    ready_.pop_front();
    return frame;
}

void KissDecoder::take(char byte) {
    if (byte == kFend) {
        endFrame();
        inFrame_ = true;
        return;
    }
    if (!inFrame_ || broken_)
        return;
    if (escaping_) {
        escaping_ = false;
        if (byte != kTfend && byte != kTfesc)
            return dropFrame();
        byte = byte == kTfend ? kFend : kFesc;
    } else if (byte == kFesc) {
        escaping_ = true;
        return;
    }
    if (current_.size() == maxFrameBytes_)
        return dropFrame();
    current_ += byte;
}

// A FEND ends the frame before it; back-to-back FENDs (a TNC's way of flushing the line) make no frame.
void KissDecoder::endFrame() {
    const bool usable = inFrame_ && !broken_ && !escaping_;
    if (usable && !current_.empty()) {
        const auto typeByte = static_cast<std::uint8_t>(current_.front());
        ready_.push_back(Frame{static_cast<std::uint8_t>(typeByte >> 4),
                               static_cast<Command>(typeByte & 0x0F), current_.substr(1)});
    } else if (inFrame_ && (broken_ || escaping_)) {
        ++dropped_;
    }
    current_.clear();
    escaping_ = false;
    broken_ = false;
}

void KissDecoder::dropFrame() {
    broken_ = true;
    current_.clear();
    current_.shrink_to_fit();
}

} // namespace corvantle::kiss
