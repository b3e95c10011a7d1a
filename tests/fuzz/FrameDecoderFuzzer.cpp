// Fuzzes the AGW frame decoder with an engine's byte stream: decoding never reads out of bounds, and the
// frames decoded from the whole stream are those decoded when it arrives in two pieces.
#include "AgwFrame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using corvantle::agw::DecodeStatus;
using corvantle::agw::Frame;

bool sameFrame(const Frame &a, const Frame &b) {
    return a.port == b.port && a.kind == b.kind && a.pid == b.pid && a.callFrom == b.callFrom &&
           a.callTo == b.callTo && a.data == b.data;
}

// Decodes as the engine library does: pieces appended to a buffer, whole frames taken from its front.
std::vector<Frame> decodePieces(const std::vector<std::string_view> &pieces) {
    std::vector<Frame> frames;
    std::string buffer;
    for (const std::string_view piece : pieces) {
        buffer.append(piece);
        for (;;) {
            corvantle::agw::DecodeResult result = corvantle::agw::decode(buffer);
            if (result.status == DecodeStatus::Invalid)
                return frames;
            if (result.status == DecodeStatus::NeedMore)
                break;
            if (result.consumedBytes < corvantle::agw::kHeaderBytes || result.consumedBytes > buffer.size())
                std::abort();
            buffer.erase(0, result.consumedBytes);
            frames.push_back(std::move(result.frame));
        }
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::vector<Frame> whole = decodePieces({bytes});
    const std::size_t cut = size == 0 ? 0 : data[0] * size / 256;
    const std::vector<Frame> split = decodePieces({bytes.substr(0, cut), bytes.substr(cut)});
    if (whole.size() != split.size())
        std::abort();
    for (std::size_t i = 0; i < whole.size(); ++i)
        if (!sameFrame(whole[i], split[i]))
            std::abort();
    return 0;
}
