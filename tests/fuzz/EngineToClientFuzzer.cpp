// Fuzzes the path from the engine's byte stream to the telnet client: the stream is cut into frames as the
// engine library cuts it, each frame becomes what the bridge sees, and the bridge relays it to one or two
// clients that keep typing. Nothing crashes, and the clients' bytes only ever leave as data for the cluster
// station, carrying exactly what they typed; everything else the bridge asks of the engine is a link request.
#include "AgwFrameReader.h"
#include "BridgeFixture.h"
#include "EngineFrames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace corvantle;
    test::BridgeRig rig;
    rig.store_setting(settings::kMonitorMode, (size > 0 && (data[0] & 1)) ? "True" : "False");
    rig.startConfigured();
    // The first byte also switches on the link's own care and a second client sharing the link.
    const std::uint8_t options = size > 0 ? data[0] : 0;
    rig.change([&](BridgeState &s) { s.relink = (options & 2) != 0; });
    rig.change([&](BridgeState &s) { s.keepLinkSeconds = (options & 4) != 0 ? 5 : 0; });
    rig.change([&](BridgeState &s) { s.quietKeepalives = (options & 8) != 0; });
    rig.change([&](BridgeState &s) { s.maxClients = (options & 16) != 0 ? 2 : 1; });
    rig.bridge.onClientArrival(1);
    rig.bridge.onClientArrival(2);

    agw::FrameReader reader;
    const std::string stream(reinterpret_cast<const char *>(data), size);
    const std::string line = "sh/dx \r";
    std::size_t linesTyped = 0;
    for (std::size_t at = 0; at < stream.size(); at += 61) {
        reader.append(std::string_view(stream).substr(at, 61));
        while (std::optional<agw::Frame> frame = reader.next())
            rig.bridge.frameArrived(agw::engineFrameOf(*frame, "N0CALL"));
        for (const ClientId client : {1, 2}) {
            if (rig.socket.connected(client)) {
                rig.clientSends("sh/dx\r\n", client);
                ++linesTyped;
            }
        }
        rig.bridge.onTick();
    }

    std::string sent;
    for (const test::EngineRequest &request : rig.engine.requests) {
        if (request.kind == "data") {
            if (request.station != "GB7DXC")
                std::abort();
            sent += request.data;
        } else if (request.kind != "connect" && request.kind != "disconnect") {
            std::abort();
        }
    }
    // Lines go out only while the link is up (or wait for it), so what left is whole typed lines, never more
    // than were typed, and none at all in Monitor Mode.
    if (sent.size() % line.size() != 0 || sent.size() / line.size() > linesTyped)
        std::abort();
    for (std::size_t at = 0; at < sent.size(); at += line.size())
        if (sent.compare(at, line.size(), line) != 0)
            std::abort();
    if (rig.state.monitorMode && !sent.empty())
        std::abort();
    return 0;
}
