// Cutting the telnet client's byte stream into lines for the radio.
//
// The client sends bytes in whatever pieces TCP delivers. Each line becomes one request to the packet
// engine; the caller gives it the radio's line end. A line longer than one radio frame goes out in
// frame-sized pieces, so nothing the client types is ever lost or held back indefinitely.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle {

// One line for the radio: its text without the line end. `ended` is false for a frame-sized piece of a
// longer line, which must go out as it is, without a line end.
struct ClientLine {
    std::string text;
    bool ended = true;

    bool operator==(const ClientLine &) const = default;
};

class ClientLines final {
  public:
    // One radio frame's worth of a line.
    static constexpr std::size_t kPieceBytes = 256;

    // The lines and pieces that the bytes complete, in order. A line ends at CR LF, LF, CR or CR NUL;
    // it is complete as soon as its CR or LF is seen. Every other byte passes unchanged.
    std::vector<ClientLine> feed(std::string_view bytes);

    bool holding() const { return !held_.empty(); }
    std::size_t heldBytes() const { return held_.size(); }

    // The unfinished line held so far, as an ended line, for when its end is overdue or the client has left.
    // Nothing when nothing is held.
    std::optional<ClientLine> takeHeld();

    // A new client: nothing held, no line end pending.
    void reset();

  private:
    void takeByte(char byte, std::vector<ClientLine> &lines);

    std::string held_;
    // The last byte fed ended a line with CR: an LF or NUL next belongs to that line end, even when it
    // arrives in the next piece.
    bool afterCr_ = false;
};

} // namespace corvantle
