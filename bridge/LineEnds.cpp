#include "LineEnds.h"

namespace corvantle {

std::string withTelnetLineEnds(const std::string &text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            out += '\n';
    }
    return out;
}

std::string withRadioLineEnd(std::string line, bool compatibilityMode) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    line += compatibilityMode ? "\r" : " \r";
    return line;
}

} // namespace corvantle
