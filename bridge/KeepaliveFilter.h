// Quiet keepalives: each empty line a logging program sends to keep its telnet connection alive would be a
// transmission on a shared channel. With the setting on, one empty line in kKeepaliveIntervalSeconds goes
// to the cluster, and none while there is no link to take it.
#pragma once

#include "ClientLines.h"

namespace corvantle {

inline constexpr int kKeepaliveIntervalSeconds = 300;

class KeepaliveFilter final {
  public:
    // Whether the line stays off the air: with quiet keepalives on, and `linkTakesLines` telling whether a
    // line would go out (or wait for the link coming up) now.
    bool keepOff(const ClientLine &line, bool quiet, bool linkTakesLines);
    void tick();

  private:
    int ticksSinceKeepalive_ = 0; // since an empty line last went to the cluster
    bool keepaliveSent_ = false;  // one has, since start-up
};

} // namespace corvantle
