// The engine lists its radio ports after each registration. A radio port it does not have would bring the
// link up on another channel, where no text gets through, so connects on it are refused: said as the
// program starts, not first at a connect, and again only when a restarted engine changes the story.
#pragma once

#include <string>
#include <vector>

namespace corvantle {

class RadioPortCheck final {
  public:
    struct Verdict {
        std::string problem;  // empty when the port in use is one of the engine's
        bool tell = false;    // a problem the log has not said yet
        bool showBox = false; // ... and the first list since start-up: the user hears of it in a box too
    };

    Verdict heard(const std::vector<int> &ports, int radioPortInUse);

  private:
    bool heardBefore_ = false;
    std::string problemSaid_;
};

} // namespace corvantle
