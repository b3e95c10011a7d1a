// Cuts the engine's byte stream, arriving in whatever pieces TCP delivers, into whole AGW frames.
#pragma once

#include "AgwFrame.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvantle::agw {

class FrameReader final {
  public:
    // Adds bytes from the stream.
    void append(std::string_view bytes) { buffer_.append(bytes); }

    // The next whole frame, or nothing until more bytes arrive. Once a header states an impossible length
    // the stream cannot be trusted any more: broken() turns true and no frame comes out.
    std::optional<Frame> next();
    bool broken() const { return broken_; }

    // Drops everything buffered, for a new connection.
    void reset();

  private:
    std::string buffer_;
    std::size_t used_ = 0; // bytes at the front of buffer_ already handed out as frames
    bool broken_ = false;
};

} // namespace corvantle::agw
