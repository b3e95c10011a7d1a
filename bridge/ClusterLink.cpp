#include "ClusterLink.h"

#include "Callsign.h"

#include <utility>

namespace corvantle {

void ClusterLink::asked(const std::string &station, int radioPort, std::vector<std::string> digipeaters) {
    state_ = State::Connecting;
    station_ = callsign::normal(station);
    radioPort_ = radioPort;
    digipeaters_ = std::move(digipeaters);
    notice_.clear();
}

bool ClusterLink::owns(const EngineFrame &frame, const std::string &ownCall) const {
    return frame.radioPort == radioPort_ && callsign::same(frame.from, station_) &&
           callsign::same(frame.to, ownCall);
}

} // namespace corvantle
