#include "KissFrame.h"

namespace corvantle::kiss {

std::string escaped(std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 8);
    for (const char c : payload) {
        if (c == kFend) {
            out += kFesc;
            out += kTfend;
        } else if (c == kFesc) {
            out += kFesc;
            out += kTfesc;
        } else {
            out += c;
        }
    }
    return out;
}

std::string encode(const Frame &frame) {
    const auto typeByte =
        static_cast<char>(((frame.port & kMaxPort) << 4) | (static_cast<std::uint8_t>(frame.command) & 0x0F));
    std::string out(1, kFend);
    out += escaped(std::string_view(&typeByte, 1));
    out += escaped(frame.payload);
    out += kFend;
    return out;
}

std::string dataFrame(std::uint8_t port, std::string_view ax25Bytes) {
    return encode(Frame{port, Command::Data, std::string(ax25Bytes)});
}

std::string parameterFrame(std::uint8_t port, Command parameter, std::uint8_t value) {
    return encode(Frame{port, parameter, std::string(1, static_cast<char>(value))});
}

} // namespace corvantle::kiss
