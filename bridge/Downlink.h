// The cluster's text on its way to the clients: whole lines only, each in a write of its own (some clients
// parse every read on its own), and a prompt without a line end let out after a second.
//
// It keeps what is held of a line and hands back the writes for every client; the coordinator sends them.
#pragma once

#include "RadioLines.h"

#include <string>
#include <vector>

namespace corvantle {

class Downlink final {
  public:
    // The text's whole lines, one write each.
    std::vector<std::string> relay(const std::string &text);
    // Before a notice of the bridge's own (the link went down): what is held, and a line end when the
    // clients' last text stopped in the middle of a line, so the notice starts on a line of its own.
    std::vector<std::string> endLine();
    // Every tick: what is held, once nothing more came for a second (a prompt without a line end).
    std::vector<std::string> tick();
    // A new session: nothing held.
    void reset();

  private:
    std::vector<std::string> flush();

    RadioLines lines_;
    // Ticks since the last text arrived while part of a line is held.
    int heldTicks_ = 0;
    // The clients' last text from the cluster was part of a line (a prompt, or a line cut off).
    bool midLine_ = false;
};

} // namespace corvantle
