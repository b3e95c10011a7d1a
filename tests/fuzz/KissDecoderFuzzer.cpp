// Fuzzes the KISS decoder with a TNC's byte stream: it never reads out of bounds, the frames of the whole
// stream are those of the stream in two pieces, and each frame encodes to bytes that decode to it again.
#include "KissDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

using corvantle::kiss::Frame;
using corvantle::kiss::KissDecoder;

std::vector<Frame> decodePieces(std::string_view first, std::string_view second) {
    KissDecoder decoder(512);
    std::vector<Frame> frames;
    for (const std::string_view piece : {first, second}) {
        decoder.feed(piece);
        while (std::optional<Frame> frame = decoder.next())
            frames.push_back(std::move(*frame));
    }
    return frames;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::vector<Frame> whole = decodePieces(bytes, {});
    const std::size_t cut = size == 0 ? 0 : data[0] * size / 256;
    if (decodePieces(bytes.substr(0, cut), bytes.substr(cut)) != whole)
        std::abort();
    for (const Frame &frame : whole) {
        if (frame.payload.size() >= 512)
            std::abort();
        if (decodePieces(corvantle::kiss::encode(frame), {}) != std::vector<Frame>{frame})
            std::abort();
    }
    return 0;
}
