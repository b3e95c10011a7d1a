#include "KissEngineFrames.h"

namespace corvantle::kiss {
namespace {

// Stations on a modulo 128 link (version 2.2) put a second control byte before the PID, which a modulo 8
// reading takes for the PID: the usual PID 0xF0 then comes first in the text. The text starts after it; AGW
// engines make the same guess for what they monitor.
std::string textOf(const ax25::Frame &frame) {
    const bool looksModulo128 = frame.type == ax25::FrameType::I && frame.pid != ax25::kPidNoLayer3 &&
                                !frame.info.empty() &&
                                static_cast<std::uint8_t>(frame.info.front()) == ax25::kPidNoLayer3;
    return looksModulo128 ? frame.info.substr(1) : frame.info;
}

} // namespace

EngineFrame linkFrameOf(const ax25::LinkEvent &event, std::uint8_t radioPort, const ax25::Address &remote,
                        const ax25::Address &own) {
    const std::string station = remote.text();
    EngineFrame frame{FrameKind::LinkData, radioPort, station, own.text(), {}};
    switch (event.kind) {
    case ax25::LinkEvent::Kind::Up:
        frame.kind = FrameKind::LinkUp;
        frame.text = "*** CONNECTED With Station " + station + "\r";
        break;
    case ax25::LinkEvent::Kind::Down:
        frame.kind = FrameKind::LinkDown;
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
    return EngineFrame{FrameKind::LinkDown, radioPort, remote, own,
                       "*** DISCONNECTED From Station " + remote + "\r"};
}

std::optional<EngineFrame> monitoredFrameOf(const ax25::Frame &frame, std::uint8_t radioPort) {
    if (!ax25::carriesText(frame.type))
        return std::nullopt;
    return EngineFrame{frame.type == ax25::FrameType::I ? FrameKind::HeardInformation
                                                        : FrameKind::HeardUnnumbered,
                       radioPort, frame.source.text(), frame.destination.text(),
                       textOf(frame).substr(0, kMaxFrameTextBytes)};
}

} // namespace corvantle::kiss
