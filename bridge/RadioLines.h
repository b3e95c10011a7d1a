// Joining the text that arrives from the radio into whole lines for the telnet client.
//
// A DX cluster packs its output into radio frames of up to about 236 bytes, so a line often starts in one
// frame and ends in the next. Some clients parse each TCP read on its own, so each line must reach the
// client whole, in a write of its own. Line ends are kept as received; the caller rewrites them for telnet.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle {

class RadioLines final {
  public:
    // The most text held while waiting for a line end. A station that never ends its lines still gets
    // through, in pieces of this size.
    static constexpr std::size_t kHoldLimitBytes = 4096;

    // The whole lines the text completes, each with its line end as received (CR, LF or CR LF). A line is
    // complete at its CR without waiting for a possible LF; a CR that ends one frame and an LF that starts
    // the next are one line end, so that LF is dropped. Held text that grows past kHoldLimitBytes is handed
    // out in pieces of that size, without a line end.
    std::vector<std::string> feed(std::string_view text);

    bool holding() const { return !held_.empty(); }

    // The unfinished line held so far, for a prompt that has no line end or before a link-down notice. Empty
    // when nothing is held.
    std::string takeHeld();

    // A new session: nothing held, no line end pending.
    void reset();

  private:
    std::string held_;
    // The last text fed ended with a CR that was handed out at once: an LF that starts the next text
    // completes that line end. It stays set across takeHeld(), since the LF may come after a pause.
    bool lfBelongsToLastCr_ = false;
};

} // namespace corvantle
