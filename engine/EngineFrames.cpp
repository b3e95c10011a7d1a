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
        out.kind = frame.kind == 'C' ? 'c' : 'd';
        out.from = remoteOf(frame, ownCall);
        out.to = ownCall;
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
