// What the bridge asks of a packet engine, and what the engine tells the bridge.
//
// The bridge sees the engine only through this interface: the real implementation (AgwEngine) speaks the
// AGW Packet Engine TCP API; tests pass a recording fake. Frames reach the bridge as they arrive, through
// EngineListener. No call waits for the network: the registration at start-up and the close at shutdown
// answer through the listener, each within a bounded time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvantle {

// The most text one received frame carries to the bridge; longer data is cut.
inline constexpr std::size_t kMaxFrameTextBytes = 4000;

// One frame from the engine.
struct EngineFrame {
    // 'c' a link came up, 'd' a link went down, 'D' data on one of the user's links, 'I' 'U' 'S' 'T' frames
    // heard or sent on the channel, anything else as the engine sent it.
    char kind = 0;
    std::uint8_t radioPort = 0;
    std::string from; // for link notices: the station at the other end of the link
    std::string to;
    // A link notice's text ("*** CONNECTED With Station GB7DXC" CR NUL), the data a station sent, or for a
    // monitored frame the information it carried (without the engine's description).
    std::string text;
};

class EngineListener {
  public:
    virtual ~EngineListener() = default;
    virtual void frameArrived(const EngineFrame &frame) = 0;
    // Data queued for the radio has left for the engine: canTakeData() may be true again.
    virtual void readyForData() = 0;
    // The engine's radio ports, as it listed them after each registration; an engine that gives no list
    // never calls this. A connect on a port not in the list is refused.
    virtual void radioPortsKnown(const std::vector<int> & /*ports*/) {}
    // The answer to registerCallsign, once, from the event loop: false when the engine cannot be reached or
    // refuses, or the callsign cannot be registered.
    virtual void registrationAnswered(bool registered) = 0;
    // The shutdown that close() started is over: the links are down and the registration released, or the
    // bound on the wait passed. Once per close(), from the event loop.
    virtual void engineClosed() = 0;
    // The engine was lost after the registration (its links reported down) and is reachable and registered
    // again: links can be asked for once more. From the event loop.
    virtual void engineBack() {}
};

class PacketEngine {
  public:
    virtual ~PacketEngine() = default;

    virtual void setListener(EngineListener *listener) = 0;

    // Registers `callsign` under `programName`; the answer comes through registrationAnswered, never from
    // inside this call, within a bounded time. A close() before the answer abandons it.
    virtual void registerCallsign(const std::string &callsign, const std::string &programName) = 0;

    // Asks for a link to `station`, through `digipeaters` when there are any. Returns an empty text when the
    // request went out, otherwise why it could not (the link is then down).
    virtual std::string connect(const std::string &station, const std::vector<std::string> &digipeaters,
                                int radioPort) = 0;

    // Queues data for the link to `station`; it leaves at the pace the radio takes it. False when it could
    // not be queued (the engine connection is down): nothing of it will leave.
    virtual bool sendData(const std::string &station, const std::string &data, int radioPort) = 0;

    // False while the data queued for the radio is at its bound: stop reading the client until readyForData.
    virtual bool canTakeData() const = 0;

    virtual void disconnect(const std::string &station, int radioPort) = 0;

    // False while the engine, once registered, is away (lost, and not back yet): a connect now would be
    // refused, and the links' down notices that come are the engine's loss, not the stations ending them.
    virtual bool reachable() const { return true; }

    // Starts the shutdown: the links' last data may leave (a bounded time), the links go down, the callsign
    // is unregistered and the connection closed; engineClosed follows.
    virtual void close() = 0;
};

} // namespace corvantle
