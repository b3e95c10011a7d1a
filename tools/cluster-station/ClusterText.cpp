// The text side of the test DX cluster station: line splitting, spot lines, commands and log escaping.
#include "ClusterText.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace corvantle::cluster {
namespace {

// Lengths of the lists are pairwise different, so the combinations repeat only after many spots.
constexpr std::array<const char *, 6> kSpotters{"K1ABC", "DL1XX", "G4ABC", "JA1AAA", "VK2XYZ", "W1AW"};
constexpr std::array<double, 8> kFrequenciesKhz{14025.0, 7012.5,  21074.0, 3525.0,
                                                28495.0, 10115.0, 18100.0, 144300.0};
constexpr std::array<const char *, 7> kDxCalls{"JA1XYZ", "VP8ABC", "ZS6ABC", "9M2AB",
                                               "PY2XYZ", "KH6ABC", "VK0EK"};
constexpr std::array<const char *, 5> kModes{"CW 599", "FT8 -12dB", "SSB 59", "RTTY 599", "CW up 2"};

template <std::size_t N, typename T> const T &rotate(const std::array<T, N> &list, int serial) {
    return list[static_cast<std::size_t>(serial) % N];
}

std::string frequencyText(double khz) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", khz);
    return text;
}

std::string strftimeText(const std::tm &utc, const char *format) {
    char text[32];
    const std::size_t n = std::strftime(text, sizeof text, format, &utc);
    return std::string(text, n);
}

// Pads with blanks up to `column`; if the line already reaches it, one blank keeps the fields apart.
void padTo(std::string &line, std::size_t column) {
    if (line.size() >= column)
        line += ' ';
    else
        line.append(column - line.size(), ' ');
}

std::string fitted(const std::string &text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.append(width - out.size(), ' ');
    return out;
}

} // namespace

Spot makeSpot(int serial, const std::tm &utc) {
    Spot spot;
    spot.serial = serial;
    spot.spotter = rotate(kSpotters, serial);
    spot.frequencyKhz = rotate(kFrequenciesKhz, serial);
    spot.dxCall = rotate(kDxCalls, serial);
    spot.comment = std::string(rotate(kModes, serial)) + " #" + std::to_string(serial);
    spot.date = strftimeText(utc, "%d-%b-%Y");
    spot.hhmm = strftimeText(utc, "%H%M");
    return spot;
}

std::string formatDxSpot(const Spot &spot) {
    std::string line = "DX de " + spot.spotter + ":";
    const std::string frequency = frequencyText(spot.frequencyKhz);
    padTo(line, kFrequencyEndColumn - std::min(frequency.size(), kFrequencyEndColumn));
    line += frequency;
    padTo(line, kDxCallColumn);
    line += spot.dxCall;
    padTo(line, kCommentColumn);
    line += fitted(spot.comment, kCommentWidth);
    padTo(line, kTimeColumn);
    line += spot.hhmm + "Z";
    return line;
}

std::string formatShowDxLine(const Spot &spot) {
    std::string frequency = frequencyText(spot.frequencyKhz);
    if (frequency.size() < 9)
        frequency.insert(0, 9 - frequency.size(), ' ');
    return frequency + "  " + fitted(spot.dxCall, 12) + " " + spot.date + " " + spot.hhmm + "Z " +
           fitted(spot.comment, kCommentWidth) + " <" + spot.spotter + ">";
}

std::vector<std::string> LineSplitter::feed(std::string_view bytes) {
    std::vector<std::string> lines;
    for (char c : bytes) {
        pending_ += c;
        if (c == '\r') {
            lines.push_back(std::move(pending_));
            pending_.clear();
        }
    }
    return lines;
}

std::string commandOf(std::string_view rawLine) {
    std::string text;
    for (char c : rawLine) {
        if (c != '\r' && c != '\n')
            text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const auto isBlank = [](unsigned char c) { return c == ' ' || c == '\t'; };
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

std::string escapeForLog(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            }
        }
    }
    return out + "\"";
}

} // namespace corvantle::cluster
