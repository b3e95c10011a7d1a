#include "AgwTexts.h"

#include <cctype>
#include <optional>

namespace corvantle::agw {
namespace {

// The information length an engine states in a monitor description ("<I S0 R0 pid=F0 Len=68 P=0 >").
std::optional<std::size_t> statedInfoBytes(const std::string &text, std::size_t descriptionEnd) {
    const std::size_t at = text.rfind("Len=", descriptionEnd);
    if (at == std::string::npos || at + 4 >= text.size() ||
        !std::isdigit(static_cast<unsigned char>(text[at + 4])))
        return std::nullopt;
    return std::stoul(text.substr(at + 4, 6));
}

} // namespace

// Engines end the information with a CR of their own before the NUL; passed on, it would reach the client
// as an extra line end, in the middle of a line when a cluster line spans two frames. "Len=" in the
// description gives the information length: cut exactly there. Dire Wolf 1.6 cuts the information at its
// first NUL, and then only the engine's own CR can go.
std::string monitoredInformation(const std::string &text) {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != '\r')
        return {};
    const std::size_t start = close + 2;
    const std::optional<std::size_t> infoBytes = statedInfoBytes(text, close);
    if (infoBytes && start + *infoBytes <= text.size())
        return text.substr(start, *infoBytes);
    std::size_t end = text.find_last_not_of('\0');
    end = end == std::string::npos || end < start ? start : end + 1;
    if (end > start && text[end - 1] == '\r')
        --end;
    return text.substr(start, end - start);
}

std::string disconnectNotice(const std::string &call) {
    return "*** DISCONNECTED From Station " + call + "\r" + '\0';
}

} // namespace corvantle::agw
