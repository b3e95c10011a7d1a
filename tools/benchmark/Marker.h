// The marks that make a payload line traceable end to end: which measurement it belongs to, its sequence
// number and the engine's send time, written as "~B<phase>.<seq>.<sentNs>~" inside ordinary cluster text.
//
// Whoever reads the stream (the telnet client, the direct reader, the fake engine for the opposite
// direction) splits it into lines and looks for the mark; the rest of each line is filler of the right size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvantle::bench {

struct Marker {
    int phase = 0;
    std::int64_t seq = 0;
    std::int64_t sentNs = 0;
};

std::string markerText(const Marker &marker);

// The first well-formed mark in `line`, if any.
std::optional<Marker> findMarker(std::string_view line);

// One line of `lineBytes` bytes, CR included, that carries the mark (longer if the mark does not fit).
std::string markedLine(const Marker &marker, std::size_t lineBytes);

// A cluster frame of `frameBytes` bytes: whole 80-byte spot lines, then the marked line filling the rest.
// The mark comes last, so a reader that sees it has seen the whole frame.
std::string markedFrame(const Marker &marker, std::size_t frameBytes);

// Splits a byte stream into lines at CR or LF, whatever the chunks it arrives in; empty lines are skipped.
class LineScanner final {
  public:
    void feed(std::string_view bytes, const std::function<void(std::string_view line)> &onLine);

  private:
    std::string partial_;
};

} // namespace corvantle::bench
