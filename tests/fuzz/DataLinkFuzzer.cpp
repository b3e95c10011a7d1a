// Fuzzes the AX.25 data link with whatever a station might send: the input is cut into frames (each one
// byte of length, then the bytes, then one byte of milliseconds to wait), decoded, and handed to a link that
// is up and has text to send. Nothing may crash, the text queued never grows past what was given, at most
// one piece of text is delivered per frame heard, and every frame sent encodes to a readable frame.
#include "DataLink.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace corvantle::ax25;

const Address kUser{"N0CALL", 0};
const Address kCluster{"GB7DXC", 0};

DataLink linkUp(DataLink::TimePoint now) {
    LinkSettings settings;
    settings.paclen = 16;
    settings.retries = 3;
    DataLink link(kUser, settings);
    link.connect(kCluster, {}, now);
    Frame ua;
    ua.source = kCluster;
    ua.destination = kUser;
    ua.command = false;
    ua.type = FrameType::UA;
    ua.pollFinal = true;
    link.received(ua, now);
    return link;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    DataLink::TimePoint now{};
    DataLink link = linkUp(now);
    const std::string_view text = "0123456789abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvwxyz";
    link.send(text, now);
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t length = data[offset++];
        const std::string_view bytes(reinterpret_cast<const char *>(data) + offset,
                                     std::min(length, size - offset));
        offset += bytes.size();
        if (std::optional<Frame> frame = decode(bytes))
            link.received(*frame, now);
        if (offset < size)
            now += std::chrono::milliseconds(data[offset++] * 50);
        link.tick(now);
        if (link.queuedBytes() > text.size())
            std::abort();
        std::size_t delivered = 0;
        for (const LinkEvent &event : link.takeEvents())
            delivered += event.kind == LinkEvent::Kind::Data ? 1 : 0;
        if (delivered > 1)
            std::abort();
        for (const Frame &frame : link.takeFrames())
            if (!decode(encode(frame)))
                std::abort();
    }
    return 0;
}
