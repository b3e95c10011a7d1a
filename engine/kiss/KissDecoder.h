// KissDecoder: takes the TNC's byte stream as it arrives, in pieces of any size, and hands out whole KISS
// frames. It never trusts the stream: bytes before the first FEND, frames with a broken escape and frames
// longer than a bound are dropped, and it never holds more than that bound.
#pragma once

#include "KissFrame.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace corvantle::kiss {

class KissDecoder final {
  public:
    // The longest frame kept, unescaped, command byte included; longer ones are dropped whole.
    static constexpr std::size_t kDefaultMaxFrameBytes = 4096;

    explicit KissDecoder(std::size_t maxFrameBytes = kDefaultMaxFrameBytes) : maxFrameBytes_(maxFrameBytes) {}

    void feed(std::string_view bytes);

    // The next whole frame, or nothing when more bytes are needed.
    std::optional<Frame> next();

    // Frames dropped so far (broken escapes, over-long, command byte missing).
    std::size_t droppedFrames() const { return dropped_; }

  private:
    void take(char byte);
    void endFrame();
    void dropFrame();

    std::size_t maxFrameBytes_;
    std::string current_;  // unescaped bytes of the frame being read
    bool inFrame_ = false; // a FEND has been seen
    bool escaping_ = false;
    bool broken_ = false; // the current frame is dropped at its end
    std::deque<Frame> ready_;
    std::size_t dropped_ = 0;
};

} // namespace corvantle::kiss
