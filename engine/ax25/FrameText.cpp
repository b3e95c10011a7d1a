#include "FrameText.h"

#include <cstdio>
#include <string_view>

namespace corvantle::ax25 {
namespace {

constexpr std::size_t kShownBytes = 40;

std::string shown(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, kShownBytes)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    if (text.size() > kShownBytes)
        out += "...";
    return out;
}

bool numbersReceived(FrameType type) {
    return type == FrameType::I || type == FrameType::RR || type == FrameType::RNR || type == FrameType::REJ;
}

} // namespace

std::string frameText(const Frame &frame) {
    std::string line = frame.source.text() + ">" + frame.destination.text();
    for (const Hop &hop : frame.via)
        line += "," + hop.address.text() + (hop.repeated ? "*" : "");
    line += std::string(" ") + typeName(frame.type) + (frame.command ? " C" : " R");
    if (frame.pollFinal)
        line += " P";
    if (frame.type == FrameType::I)
        line += " s" + std::to_string(frame.ns);
    if (numbersReceived(frame.type))
        line += " r" + std::to_string(frame.nr);
    if (carriesText(frame.type) || !frame.info.empty())
        line += " " + std::to_string(frame.info.size()) + " bytes \"" + shown(frame.info) + "\"";
    return line;
}

} // namespace corvantle::ax25
