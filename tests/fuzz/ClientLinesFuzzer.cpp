// Fuzzes the way a telnet client's bytes reach the radio: arriving in arbitrary pieces, every byte the client
// sent leaves exactly once and in order, with only line ends rewritten, and the counter counts what left.
#include "BridgeFixture.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// What must reach the radio: every line end (CR LF, CR NUL, CR, LF) becomes the radio's line end, and an
// unfinished last line gets one when the client leaves.
std::string expectedForRadio(const std::string &sent, const std::string &lineEnd) {
    std::string out;
    bool open = false;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const char c = sent[i];
        if (c == '\r' || c == '\n') {
            out += lineEnd;
            open = false;
            if (c == '\r' && i + 1 < sent.size() && (sent[i + 1] == '\n' || sent[i + 1] == '\0'))
                ++i;
            continue;
        }
        out += c;
        open = true;
    }
    if (open)
        out += lineEnd;
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    using namespace corvantle;
    test::BridgeRig rig;
    rig.store_setting(settings::kCompatibilityMode, (data[0] & 1) ? "True" : "False");
    rig.startConfigured();
    rig.connectClientWithLink();
    // The first bytes choose where TCP cuts the stream.
    const std::size_t seed = data[1];
    const std::string sent(reinterpret_cast<const char *>(data) + 2, size - 2);
    for (std::size_t at = 0, piece = 1; at < sent.size(); at += piece) {
        piece = 1 + (seed * (at + 7)) % 97;
        rig.clientSends(sent.substr(at, piece));
    }
    rig.bridge.onClientGone(1);

    std::string radio;
    for (const std::string &request : rig.engine.dataSent())
        radio += request;
    if (radio != expectedForRadio(sent, rig.state.compatibilityMode ? "\r" : " \r"))
        std::abort();
    if (rig.bridge.transferredBytes() != static_cast<int64_t>(radio.size()))
        std::abort();
    return 0;
}
