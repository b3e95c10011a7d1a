#include "KissEngineFrames.h"

namespace corvantle::kiss {

EngineFrame linkFrameOf(const ax25::LinkEvent &event, std::uint8_t radioPort, const ax25::Address &remote,
                        const ax25::Address &own) {
    const std::string station = remote.text();
    EngineFrame frame{'D', radioPort, station, own.text(), {}};
    switch (event.kind) {
    case ax25::LinkEvent::Kind::Up:
        frame.kind = 'c';
        frame.text = "*** CONNECTED With Station " + station + "\r";
        break;
    case ax25::LinkEvent::Kind::Down:
        frame.kind = 'd';
        frame.text = event.reason == ax25::DownReason::RetriesExhausted
                         ? "*** DISCONNECTED RETRYOUT With " + station + "\r"
                         : "*** DISCONNECTED From Station " + station + "\r";
        break;
    case ax25::LinkEvent::Kind::Data:
        frame.text = event.data.substr(0, kMaxFrameTextBytes);
        break;
    }
    return frame;
}

EngineFrame linkDownFrame(std::uint8_t radioPort, const std::string &remote, const std::string &own) {
    return EngineFrame{'d', radioPort, remote, own, "*** DISCONNECTED From Station " + remote + "\r"};
}

std::optional<EngineFrame> monitoredFrameOf(const ax25::Frame &frame, std::uint8_t radioPort) {
    if (!ax25::carriesText(frame.type))
        return std::nullopt;
    return EngineFrame{frame.type == ax25::FrameType::I ? 'I' : 'U', radioPort, frame.source.text(),
                       frame.destination.text(), frame.info.substr(0, kMaxFrameTextBytes)};
}

} // namespace corvantle::kiss
