// An engine listener that keeps what a link handed over: its up and down notices, the text the station
// sent, the answers to the registration, and whether the engine's close is over. For the tests that drive
// an engine directly, without the bridge.
#pragma once

#include "PacketEngine.h"

#include <string>
#include <vector>

namespace corvantle::test {

class LinkRecorder : public EngineListener {
  public:
    void frameArrived(const EngineFrame &frame) override {
        if (frame.kind == FrameKind::LinkUp)
            ++ups;
        else if (frame.kind == FrameKind::LinkDown)
            ++downs;
        else if (frame.kind == FrameKind::LinkData)
            data += frame.text;
    }
    void readyForData() override {}
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override { closed = true; }

    int ups = 0;
    int downs = 0;
    std::string data;
    std::vector<bool> answers;
    bool closed = false;
};

} // namespace corvantle::test
