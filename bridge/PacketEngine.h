// What the bridge asks of a packet engine, and what the engine tells the bridge.
//
// The bridge sees the engine only through this interface: AgwEngine speaks the AGW Packet Engine TCP API to
// a software engine, KissEngine runs the program's own AX.25 link over a KISS TNC, and tests pass a
// recording fake. Both engines speak of links and text, never of their protocol's frames, and write every
// callsign in a frame as callsign::normal does. Frames reach the bridge as they arrive, through
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

// What a frame from the engine tells.
enum class FrameKind {
    LinkUp,           // a link came up: the user's, or another callsign's registered with the engine
    LinkDown,         // such a link went down (each of the user's, when the engine itself is lost)
    LinkData,         // text a station sent on such a link
    HeardInformation, // an information frame of other stations' link, heard on the channel
    HeardUnnumbered,  // an unnumbered frame heard on the channel (UI with its text; SABM, DISC, UA, DM)
    HeardSupervisory, // a supervisory frame heard on the channel (RR, RNR, REJ): no text
    Transmitted,      // a frame the engine itself sent on the channel, as it monitors them
    Other,            // anything else the engine reported
};

// One frame from the engine.
struct EngineFrame {
    FrameKind kind = FrameKind::Other;
    std::uint8_t radioPort = 0;
    // For link notices and link data: the station at the other end in `from`, the local end (the registered
    // callsign when the link is the user's) in `to`. For frames on the channel: their source and destination.
    std::string from;
    std::string to;
    // A link notice's text as the engine words it ("*** CONNECTED With Station GB7DXC" CR, an AGW engine's
    // with a NUL after it), the text a station sent, or the information a frame on the channel carried.
    std::string text;
};

class EngineListener {
  public:
    virtual ~EngineListener() = default;
    virtual void frameArrived(const EngineFrame &frame) = 0;
    // The data queued for the radio has shrunk: canTakeData() may be true again.
    virtual void readyForData() = 0;
    // The engine's radio ports, as it listed them on each connection to it; an engine that gives no list (a
    // KISS TNC) never calls this. A connect on a port not in the list is refused.
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

    // Registers `callsign` under `programName` (a KISS TNC knows no registration: its port is opened); the
    // answer comes through registrationAnswered, never from inside this call, within a bounded time. A
    // close() before the answer abandons it.
    virtual void registerCallsign(const std::string &callsign, const std::string &programName) = 0;

    // Asks for a link to `station`, through `digipeaters` when there are any. Returns an empty text when the
    // request is under way (its LinkUp or LinkDown follows), otherwise why it could not go out (the link is
    // then down, and no notice follows).
    virtual std::string connect(const std::string &station, const std::vector<std::string> &digipeaters,
                                int radioPort) = 0;

    // Queues data for the link to `station`; it leaves at the pace the radio takes it. False when it could
    // not be queued (the engine is not reachable, or an engine that runs the link itself has no link to
    // `station`): nothing of it will leave.
    virtual bool sendData(const std::string &station, const std::string &data, int radioPort) = 0;

    // False while the data queued for the radio is at its bound: stop reading the client until readyForData.
    virtual bool canTakeData() const = 0;

    // Ends the link to `station`; the data queued for it leaves first, within a bounded time. Its LinkDown
    // follows.
    virtual void disconnect(const std::string &station, int radioPort) = 0;

    // False while the engine, once registered, is away (lost, and not back yet): a connect now would be
    // refused, and the links' down notices that come are the engine's loss, not the stations ending them.
    virtual bool reachable() const { return true; }

    // What the user is told when registerCallsign was answered false, naming what could not be reached:
    // "Can't connect to AGW Packet Engine", "Can't connect to the KISS TNC at 127.0.0.1:8001".
    virtual std::string registrationFailure() const = 0;

    // Starts the shutdown: the links' last data may leave (a bounded time), the links go down, the callsign
    // is unregistered and the connection closed; engineClosed follows.
    virtual void close() = 0;
};

} // namespace corvantle
