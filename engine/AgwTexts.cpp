#include "AgwTexts.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

namespace corvantle::agw {
namespace {

std::string clockText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d]", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

// The information length an engine states in a monitor description ("<I S0 R0 pid=F0 Len=68 P=0 >").
std::optional<std::size_t> statedInfoBytes(const std::string &text, std::size_t headerEnd) {
    const std::size_t at = text.rfind("Len=", headerEnd);
    if (at == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[at + 4])))
        return std::nullopt;
    return std::stoul(text.substr(at + 4, 6));
}

} // namespace

std::string connectedDataText(const Frame &frame, const std::string &receiver) {
    char head[96];
    std::snprintf(head, sizeof head, " %d:Fm %s To %s <D pid=%02X Len=%zu>", frame.port + 1,
                  frame.callFrom.c_str(), receiver.c_str(), frame.pid, frame.data.size());
    return head + clockText() + '\r' + frame.data + '\0';
}

// Engines end the information part of a monitored frame with a CR of their own before the NUL. The bridge
// forwards everything between "]" CR and the last character, so that CR would reach the telnet client as an
// extra line end, in the middle of a line when a cluster line spans two frames. "Len=" in the description
// gives the information length: cut exactly there. Dire Wolf 1.6 cuts the information at its first NUL, and
// then only the engine's own CR can go.
std::string monitorText(const std::string &text) {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != '\r')
        return text;
    const std::optional<std::size_t> infoBytes = statedInfoBytes(text, close);
    std::size_t end = close + 2 + infoBytes.value_or(text.size());
    if (end > text.size()) {
        const std::string_view body = std::string_view(text).substr(0, text.find_last_not_of('\0') + 1);
        end = body.size() > close + 2 && body.back() == '\r' ? body.size() - 1 : body.size();
    }
    return text.substr(0, end) + '\0';
}

std::string disconnectNotice(const std::string &call) {
    return "*** DISCONNECTED From Station " + call + "\r" + '\0';
}

} // namespace corvantle::agw
