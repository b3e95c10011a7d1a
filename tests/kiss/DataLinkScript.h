// A script for the AX.25 data link: steps of a table, each at a time, something received or asked for, and
// the frames it transmits and the events it reports in answer. Frames are written as
//   [SOURCE>DESTINATION:] TYPE C|R [P] [sN(S)] [rN(R)] [=text]
// where a received frame is from GB7DXC to N0CALL and a sent one to GB7DXC unless named.
#pragma once

#include "DataLink.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace corvantle::ax25 {
namespace test {

using namespace std::chrono_literals;

inline const Address kUser{"N0CALL", 0};
inline const Address kCluster{"GB7DXC", 0};

inline std::string describe(const Frame &frame) {
    std::string text = frame.destination == kCluster ? "" : frame.destination.text() + ": ";
    text += typeName(frame.type);
    text += frame.command ? " C" : " R";
    if (frame.pollFinal)
        text += " P";
    if (frame.type == FrameType::I)
        text += " s" + std::to_string(frame.ns);
    if (frame.type == FrameType::I || frame.type == FrameType::RR || frame.type == FrameType::RNR ||
        frame.type == FrameType::REJ)
        text += " r" + std::to_string(frame.nr);
    if (!frame.info.empty())
        text += " =" + frame.info;
    return text;
}

inline std::string describe(const LinkEvent &event) {
    switch (event.kind) {
    case LinkEvent::Kind::Up:
        return "UP";
    case LinkEvent::Kind::Data:
        return "DATA " + event.data;
    case LinkEvent::Kind::Down:
        break;
    }
    switch (event.reason) {
    case DownReason::Refused:
        return "DOWN refused";
    case DownReason::RetriesExhausted:
        return "DOWN retries";
    case DownReason::ByPeer:
        return "DOWN peer";
    case DownReason::ByUs:
        return "DOWN us";
    }
    return "?";
}

inline FrameType typeNamed(const std::string &name) {
    for (const FrameType type :
         {FrameType::I, FrameType::RR, FrameType::RNR, FrameType::REJ, FrameType::SABM, FrameType::SABME,
          FrameType::UA, FrameType::DISC, FrameType::DM, FrameType::FRMR, FrameType::UI})
        if (name == typeName(type))
            return type;
    ADD_FAILURE() << "no frame type " << name;
    return FrameType::UI;
}

inline Frame parse(std::string text) {
    Frame frame;
    frame.source = kCluster;
    frame.destination = kUser;
    if (const auto colon = text.find(": "); colon != std::string::npos) {
        const std::string route = text.substr(0, colon);
        frame.source = *Address::parse(route.substr(0, route.find('>')));
        frame.destination = *Address::parse(route.substr(route.find('>') + 1));
        text = text.substr(colon + 2);
    }
    if (const auto equals = text.find(" ="); equals != std::string::npos) {
        frame.info = text.substr(equals + 2);
        text.resize(equals);
    }
    std::istringstream words(text);
    std::string word;
    words >> word;
    frame.type = typeNamed(word);
    words >> word;
    frame.command = word == "C";
    while (words >> word) {
        if (word == "P")
            frame.pollFinal = true;
        else if (word[0] == 's')
            frame.ns = static_cast<std::uint8_t>(std::stoi(word.substr(1)));
        else if (word[0] == 'r')
            frame.nr = static_cast<std::uint8_t>(std::stoi(word.substr(1)));
    }
    return frame;
}

struct Step {
    int atMs;
    std::string action; // "connect", "send TEXT", "disconnect", "tick", "rx FRAME"
    std::string expected;
};

// T1 is FRACK throughout, frames take no air time, and each frame is acknowledged at once.
inline LinkSettings fixedTimings() {
    LinkSettings settings;
    settings.adaptT1 = false;
    settings.bitRate = 0;
    settings.ackDelay = 0ms;
    return settings;
}

class Script {
  public:
    explicit Script(LinkSettings settings = fixedTimings()) : link(kUser, settings) {}

    void run(const std::vector<Step> &steps) {
        for (const Step &step : steps)
            EXPECT_EQ(perform(step), step.expected) << "at " << step.atMs << " ms: " << step.action;
    }

    std::string perform(const Step &step) {
        const DataLink::TimePoint now = DataLink::TimePoint{} + std::chrono::milliseconds(step.atMs);
        if (step.action == "connect")
            link.connect(kCluster, {}, now);
        else if (step.action.starts_with("send "))
            link.send(step.action.substr(5), now);
        else if (step.action == "disconnect")
            link.disconnect(now);
        else if (step.action == "disconnect now")
            link.disconnect(now, DataLink::Drain::Now);
        else if (step.action == "tick")
            link.tick(now);
        else if (step.action.starts_with("rx "))
            link.received(parse(step.action.substr(3)), now);
        else
            ADD_FAILURE() << "no action " << step.action;
        std::string out;
        for (const Frame &frame : link.takeFrames())
            out += (out.empty() ? "" : ", ") + describe(frame);
        for (const LinkEvent &event : link.takeEvents())
            out += (out.empty() ? "" : ", ") + describe(event);
        return out;
    }

    DataLink link;
};

inline const std::vector<Step> kLinkUp = {
    {0, "connect", "SABM C P"},
    {100, "rx UA R P", "UP"},
};

inline std::vector<Step> afterLinkUp(std::vector<Step> steps) {
    steps.insert(steps.begin(), kLinkUp.begin(), kLinkUp.end());
    return steps;
}

} // namespace test
} // namespace corvantle::ax25
