#include "ClusterLink.h"

#include "AgwCalls.h"

#include <utility>

namespace corvantle {

void ClusterLink::asked(const std::string &station, int radioPort, std::vector<std::string> digipeaters) {
    state_ = State::Connecting;
    closingOnAir_ = false;
    station_ = agw::normalCall(station);
    radioPort_ = radioPort;
    digipeaters_ = std::move(digipeaters);
    notice_.clear();
}

bool ClusterLink::owns(const EngineFrame &frame, const std::string &ownCall) const {
    return frame.radioPort == radioPort_ && agw::normalCall(frame.from) == station_ &&
           agw::normalCall(frame.to) == ownCall;
}

} // namespace corvantle
