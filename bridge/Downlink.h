// The cluster's text on its way to the clients: whole lines only, each in a write of its own (some clients
// parse every read on its own), and a prompt without a line end let out after a second.
#pragma once

#include "ClientHub.h"
#include "RadioLines.h"

#include <string>

namespace corvantle {

class Downlink final {
  public:
    explicit Downlink(ClientHub &clients) : clients_(clients) {}

    // Relays the text's whole lines to every client; false when no client is left.
    bool relay(const std::string &text);
    // Sends what is held now (a prompt that is overdue).
    void flush();
    // Before a notice of the bridge's own (the link went down): what is held goes out, and the notice
    // starts on a line of its own even when the cluster's text stopped in the middle of a line.
    void endLine();
    // Every tick: held text goes out once nothing more came for a second.
    void tick();
    // A new session: nothing held.
    void reset();

  private:
    ClientHub &clients_;
    RadioLines lines_;
    // Ticks since the last text arrived while part of a line is held.
    int heldTicks_ = 0;
    // The clients' last text from the cluster was part of a line (a prompt, or a line cut off).
    bool midLine_ = false;
};

} // namespace corvantle
