// Cutting the telnet client's byte stream into lines for the radio.
#include "ClientLines.h"

#include <utility>

namespace corvantle {

std::vector<ClientLine> ClientLines::feed(std::string_view bytes) {
    std::vector<ClientLine> lines;
    for (const char byte : bytes)
        takeByte(byte, lines);
    return lines;
}

// Byte by byte, so the result is the same however the stream was split into pieces.
void ClientLines::takeByte(char byte, std::vector<ClientLine> &lines) {
    const bool lineEndContinues = afterCr_ && (byte == '\n' || byte == '\0');
    afterCr_ = false;
    if (lineEndContinues)
        return;
    if (byte == '\r' || byte == '\n') {
        lines.push_back({std::exchange(held_, {}), true});
        afterCr_ = byte == '\r';
        return;
    }
    held_ += byte;
    if (held_.size() > kPieceBytes) {
        lines.push_back({held_.substr(0, kPieceBytes), false});
        held_.erase(0, kPieceBytes);
    }
}

std::optional<ClientLine> ClientLines::takeHeld() {
    // The CR memory stays: a line that ended with CR leaves nothing held, so anything held here was not
    // followed by a CR.
    if (held_.empty())
        return std::nullopt;
    return ClientLine{std::exchange(held_, {}), true};
}

void ClientLines::reset() {
    held_.clear();
    afterCr_ = false;
}

} // namespace corvantle
