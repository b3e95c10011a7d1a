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
    // Sends what is held now (before a link's down notice, or when a prompt is overdue).
    void flush();
    // Every tick: held text goes out once nothing more came for a second.
    void tick();
    // A new session: nothing held.
    void reset();

  private:
    ClientHub &clients_;
    RadioLines lines_;
    // Ticks since the last text arrived while part of a line is held.
    int heldTicks_ = 0;
};

} // namespace corvantle
