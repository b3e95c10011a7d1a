// The four calls through which the bridge talks to a packet engine.
//
// The bridge sees the engine only through this interface: the real implementation (AgwEngine) speaks the
// AGW Packet Engine TCP API; tests pass a recording fake. All calls come from the one user-interface thread
// and none of them blocks for long: AGWGetData never waits for the engine at all.
#pragma once

#include <cstdint>
#include <string>

namespace corvantle {

// Sizes of the two buffers that AGWGetData fills.
inline constexpr std::size_t kHeaderFieldChars = 25;
inline constexpr std::size_t kReceiveBufferChars = 4000;

class PacketEngine {
public:
    virtual ~PacketEngine() = default;

    // Registers `callsign` with the engine under `programName`. Returns 0 when the engine cannot be reached
    // or refuses the registration, non-zero when registered.
    virtual int16_t AGWStartPoll(const std::string &callsign, const std::string &programName) = 0;

    // Hands out at most one received frame. `headerField` (25 characters) receives the station the frame
    // came from, NUL-padded; `receiveBuffer` (4000 characters) receives the frame's text. Returns non-zero
    // when a frame was delivered, 0 when none is pending. Never blocks.
    virtual int16_t AGWGetData(std::string &headerField, std::string &receiveBuffer, int32_t &kindCode,
                               int32_t &length, int32_t &radioPort) = 0;

    // Sends one request: `kindCode` is the character code of the request's letter ("c", "v", "D", "d").
    // `callsignField` names the remote station, for "v" followed by the digipeaters, comma-separated.
    virtual int16_t AGWPutData(const std::string &callsignField, const std::string &data, int16_t kindCode,
                               int32_t dataLength, int16_t radioPort) = 0;

    // Ends the registration and the connection to the engine.
    virtual void AGWClose() = 0;
};

} // namespace corvantle
