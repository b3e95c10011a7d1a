// Marker: writing and finding the marks in payload lines, and splitting a stream into lines.
#include "Marker.h"

#include <charconv>

namespace corvantle::bench {
namespace {

constexpr std::size_t kSpotLineBytes = 80;
// A stream without line ends for this long is not cluster text; holding it would only grow memory.
constexpr std::size_t kLongestLineBytes = 64 * 1024;
constexpr std::string_view kFiller = "CQ DX de K1ABC 14025.0 JA1XYZ CW 599 up 1 listening QRZ? ";

// Reads digits up to `end`, advancing `text`; false when there are none or the terminator is missing.
bool readNumber(std::string_view &text, char end, std::int64_t &value) {
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || stop == text.data() || stop == text.data() + text.size() || *stop != end)
        return false;
    text.remove_prefix(static_cast<std::size_t>(stop - text.data()) + 1);
    return true;
}

std::string spotLine() {
    std::string line = "DX de K1ABC:     14025.0  JA1XYZ       CW 599 strong signal                1234Z";
    line.resize(kSpotLineBytes - 1, ' ');
    return line + '\r';
}

} // namespace

std::string markerText(const Marker &marker) {
    return "~B" + std::to_string(marker.phase) + "." + std::to_string(marker.seq) + "." +
           std::to_string(marker.sentNs) + "~";
}

std::optional<Marker> findMarker(std::string_view line) {
    for (std::size_t at = line.find("~B"); at != std::string_view::npos; at = line.find("~B", at + 1)) {
        std::string_view rest = line.substr(at + 2);
        std::int64_t phase = 0;
        Marker marker;
        if (readNumber(rest, '.', phase) && readNumber(rest, '.', marker.seq) &&
            readNumber(rest, '~', marker.sentNs)) {
            marker.phase = static_cast<int>(phase);
            return marker;
        }
    }
    return std::nullopt;
}

std::string markedLine(const Marker &marker, std::size_t lineBytes) {
    std::string line = markerText(marker) + ' ';
    while (line.size() + 1 < lineBytes)
        line += kFiller.substr(0, lineBytes - 1 - line.size());
    return line + '\r';
}

std::string markedFrame(const Marker &marker, std::size_t frameBytes) {
    std::string frame;
    const std::string marked = markedLine(marker, 0);
    while (frame.size() + kSpotLineBytes + marked.size() <= frameBytes)
        frame += spotLine();
    return frame + markedLine(marker, frameBytes - frame.size());
}

void LineScanner::feed(std::string_view bytes, const std::function<void(std::string_view line)> &onLine) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            partial_.append(bytes);
            if (partial_.size() > kLongestLineBytes)
                partial_.clear();
            return;
        }
        if (partial_.empty()) {
            if (end > 0)
                onLine(bytes.substr(0, end));
        } else {
            partial_.append(bytes.substr(0, end));
            onLine(partial_);
            partial_.clear();
        }
        bytes.remove_prefix(end + 1);
    }
}

} // namespace corvantle::bench
