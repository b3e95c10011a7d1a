#include "EngineFrames.h"

#include "AgwTexts.h"
#include "Callsign.h"

#include <utility>

namespace corvantle::agw {
namespace {

std::string cut(const std::string &text) {
    return text.size() > kMaxFrameTextBytes ? text.substr(0, kMaxFrameTextBytes) : text;
}

FrameKind kindOf(char letter) {
    switch (letter) {
    case 'C':
        return FrameKind::LinkUp;
    case 'd':
        return FrameKind::LinkDown;
    case 'D':
        return FrameKind::LinkData;
    case 'I':
        return FrameKind::HeardInformation;
    case 'U':
        return FrameKind::HeardUnnumbered;
    case 'S':
        return FrameKind::HeardSupervisory;
    case 'T':
        return FrameKind::Transmitted;
    default:
        return FrameKind::Other;
    }
}

} // namespace

std::string remoteOf(const Frame &frame, const std::string &ownCall) {
    return callsign::normal(frame.callFrom) == ownCall ? frame.callTo : frame.callFrom;
}

EngineFrame engineFrameOf(const Frame &frame, const std::string &ownCall) {
    EngineFrame out{
        kindOf(frame.kind), frame.port, callsign::normal(frame.callFrom), callsign::normal(frame.callTo), {}};
    switch (out.kind) {
    case FrameKind::LinkUp:
    case FrameKind::LinkDown:
        // Engines name the two ends in either order; `to` is the local end, which is the registered callsign
        // only when the link is this program's (another program may register another callsign).
        if (out.from == ownCall)
            std::swap(out.from, out.to);
        out.text = cut(frame.data);
        break;
    case FrameKind::HeardInformation:
    case FrameKind::HeardUnnumbered:
    case FrameKind::HeardSupervisory:
    case FrameKind::Transmitted:
        out.text = cut(monitoredInformation(frame.data));
        break;
    case FrameKind::LinkData:
    case FrameKind::Other:
        out.text = cut(frame.data);
        break;
    }
    return out;
}

} // namespace corvantle::agw
