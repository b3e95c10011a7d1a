// The session's link to the cluster station: its one state, and the station, radio port and digipeaters it
// was asked for with.
//
// A link keeps what it was made with until it ends: settings changed in Preferences meanwhile apply from the
// next link, so the link's own text and notices are still recognised as its own. Only the bridge changes it.
#pragma once

#include "PacketEngine.h"

#include <string>
#include <vector>

namespace corvantle {

class ClusterLink final {
  public:
    enum class State {
        Down,
        Connecting, // asked for, no notice yet
        Up,
        Closing, // a disconnect was asked for (or a link came up that nobody wants): waiting for its notice
    };

    State state() const { return state_; }
    bool is(State state) const { return state_ == state; }

    // A connect request went out (or a link came up unasked) for `station` on `radioPort`.
    void asked(const std::string &station, int radioPort, std::vector<std::string> digipeaters);
    void cameUp(const std::string &notice) {
        state_ = State::Up;
        notice_ = notice;
    }
    void closing() { state_ = State::Closing; }
    void wentDown() { state_ = State::Down; }

    // The station as the engine reports it (as callsign::normal writes it), the radio port and the route.
    const std::string &station() const { return station_; }
    int radioPort() const { return radioPort_; }
    const std::vector<std::string> &digipeaters() const { return digipeaters_; }
    // The engine's notice for the link that is up, for clients that join later.
    const std::string &notice() const { return notice_; }

    // Whether a link notice or connected data belongs to this link: from its station, on its radio port, to
    // `ownCall` (the registered callsign, as callsign::normal writes it). Meaningless while Down.
    bool owns(const EngineFrame &frame, const std::string &ownCall) const;

  private:
    State state_ = State::Down;
    std::string station_;
    int radioPort_ = 0;
    std::vector<std::string> digipeaters_;
    std::string notice_;
};

} // namespace corvantle
