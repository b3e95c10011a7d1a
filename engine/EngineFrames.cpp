#include "EngineFrames.h"

#include "AgwCalls.h"
#include "AgwTexts.h"

namespace corvantle::agw {
namespace {

std::string cut(const std::string &text) {
    return text.size() > kMaxFrameTextBytes ? text.substr(0, kMaxFrameTextBytes) : text;
}

} // namespace

std::string remoteOf(const Frame &frame, const std::string &ownCall) {
    return normalCall(frame.callFrom) == ownCall ? frame.callTo : frame.callFrom;
}

EngineFrame engineFrameOf(const Frame &frame, const std::string &ownCall) {
    EngineFrame out{frame.kind, frame.port, frame.callFrom, frame.callTo, {}};
    switch (frame.kind) {
    case 'C':
    case 'd':
        // Engines name the two ends in either order; `to` is the local end, which is the registered callsign
        // only when the link is this program's (another program may register another callsign).
        out.kind = frame.kind == 'C' ? 'c' : 'd';
        if (normalCall(frame.callFrom) == ownCall) {
            out.from = frame.callTo;
            out.to = frame.callFrom;
        }
        out.text = cut(frame.data);
        break;
    case 'I':
    case 'U':
    case 'S':
    case 'T':
        out.text = cut(monitoredInformation(frame.data));
        break;
    default:
        out.text = cut(frame.data);
        break;
    }
    return out;
}

} // namespace corvantle::agw
