// Fuzzes the AX.25 frame decoder with bytes from the air: decoding never reads out of bounds, and whatever it
// accepts encodes to bytes that decode to the same frame.
#include "Ax25Frame.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::optional<corvantle::ax25::Frame> frame = corvantle::ax25::decode(bytes);
    if (!frame)
        return 0;
    if (corvantle::ax25::decode(corvantle::ax25::encode(*frame)) != frame)
        std::abort();
    return 0;
}
