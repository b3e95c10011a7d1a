// The clients' text on its way to the cluster: read from each client as the engine can take it, cut into
// lines (ClientLines, one per client) with the radio's line end, held while the link comes up, and kept in
// order between clients, so that no line reaches the cluster cut by another client's.
//
// What is not read stays in the client's socket, and TCP holds the client back until there is room: the
// engine's bounded queue paces every client. The coordinator tells it, at each call, where the link stands.
#pragma once

#include "BridgeState.h"
#include "ClientHub.h"
#include "ClientLines.h"
#include "KeepaliveFilter.h"
#include "PacketEngine.h"
#include "Traffic.h"

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace corvantle {

inline constexpr std::size_t kMaxLinesWaitingForLinkBytes = 4096; // typed before the link is up
inline constexpr std::size_t kClientReadBytes = 4096;             // read from a client per step

class Uplink final {
  public:
    // The link as the text sees it.
    struct Link {
        bool up = false;      // lines go to its station on its radio port
        bool awaited = false; // not up, but asked for or about to be: lines are held until it is
        std::string station;  // the station and radio port it was made with
        int radioPort = 0;
    };

    Uplink(ClientHub &clients, PacketEngine &engine, Traffic &traffic)
        : clients_(clients), engine_(engine), traffic_(traffic) {}

    // The settings in force, at start-up and whenever Preferences changes them.
    void useSettings(const BridgeState &settings) { settings_ = settings; }

    void onClientData(ClientId client, const Link &link);
    // Reads what every client sent that is waiting (the engine has room again, or the link came up).
    void readEveryClient(const Link &link);
    // Every tick: a client that never ends its lines still gets through, a second late; text left waiting
    // while the engine's queue was full is read.
    void tick(const Link &link);

    // The link is up: the lines typed while it came up go out.
    void sendHeldLines(const Link &link);
    // The link did not come: each client hears how many of its own lines did not go out.
    void dropHeldLines();
    // Lines are waiting for the link.
    bool holdsLines() const { return !linesWaitingForLink_.empty(); }

    // The client leaves: what it sent that waited unread, and its unfinished line, still go out.
    void clientLeaving(ClientId client, const Link &link);
    bool linePartlySentBy(ClientId client) const { return linePartlySent_ == client; }

    // A new session, or the end of one: nothing held.
    void startSession();
    void endSession();

  private:
    struct WaitingLine {
        ClientId client;
        std::string text;
    };
    // A client's line being typed, and ticks since its last text.
    struct Typing {
        ClientLines lines;
        int heldTicks = 0;
    };

    void readClientText(ClientId client);
    void readAll();
    bool mustWaitForAnothersLine(ClientId client) const {
        return linePartlySent_.has_value() && *linePartlySent_ != client;
    }
    bool canTakeClientText() const;
    void takeClientLine(ClientId client, const ClientLine &line);
    std::string radioText(const ClientLine &line) const;
    void sendToCluster(ClientId client, const std::string &text);
    void sendLinesOfLeftClients();
    void clearWaitingLines();

    ClientHub &clients_;
    PacketEngine &engine_;
    Traffic &traffic_;
    BridgeState settings_;
    Link link_; // as the coordinator told it at the call under way
    KeepaliveFilter keepalives_;
    std::map<ClientId, Typing> typing_;

    std::deque<WaitingLine> linesWaitingForLink_;
    std::size_t linesWaitingBytes_ = 0;
    // A client whose long line has gone out in part: until its end goes too, the other clients' text waits
    // (in their sockets, or here for a client that left), so that no line reaches the cluster cut by another.
    std::optional<ClientId> linePartlySent_;
    std::deque<WaitingLine> linesOfLeftClients_;
};

} // namespace corvantle
