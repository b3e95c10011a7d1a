// The clients' text on its way to the cluster: read from each client as the engine can take it, cut into
// lines with the radio's line end, held while the link comes up, and kept in order between clients, so
// that no line reaches the cluster cut by another client's.
//
// What is not read stays in the client's socket, and TCP holds the client back until there is room: the
// engine's bounded queue paces every client.
#pragma once

#include "BridgeState.h"
#include "ClientHub.h"
#include "ClusterLink.h"
#include "KeepaliveFilter.h"
#include "LinkSchedule.h"
#include "PacketEngine.h"
#include "Traffic.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace corvantle {

inline constexpr std::size_t kMaxLinesWaitingForLinkBytes = 4096; // typed before the link is up
inline constexpr std::size_t kClientReadBytes = 4096;             // read from a client per step

class Uplink final {
  public:
    // The settings are the bridge's, read as they stand at each line.
    Uplink(ClientHub &clients, PacketEngine &engine, const ClusterLink &link, const LinkSchedule &schedule,
           Traffic &traffic, const BridgeState &settings);

    void onClientData(ClientId client);
    // Reads what every client sent that is waiting (the engine has room again, or the link came up).
    void readEveryClient();
    // Every tick: a client that never ends its lines still gets through, a second late; text left waiting
    // while the engine's queue was full is read.
    void tick();

    // The link is up: the lines typed while it came up go out.
    void sendHeldLines();
    // The link did not come: each client hears how many of its own lines did not go out.
    void dropHeldLines();
    // Lines are waiting for the link.
    bool holdsLines() const { return !linesWaitingForLink_.empty(); }

    // The client leaves: what it sent that waited unread, and its unfinished line, still go out.
    void clientLeaving(ClientId client);
    bool linePartlySentBy(ClientId client) const { return linePartlySent_ == client; }

    // A new session, or the end of one: nothing held.
    void startSession();
    void endSession();

  private:
    struct WaitingLine {
        ClientId client;
        std::string text;
    };

    void readClientText(ClientId client);
    bool mustWaitForAnothersLine(ClientId client) const {
        return linePartlySent_.has_value() && *linePartlySent_ != client;
    }
    bool linesWaitForLink() const;
    bool canTakeClientText() const;
    void takeClientLine(ClientId client, const ClientLine &line);
    std::string radioText(const ClientLine &line) const;
    void sendToCluster(ClientId client, const std::string &text);
    void sendLinesOfLeftClients();
    void clearWaitingLines();

    ClientHub &clients_;
    PacketEngine &engine_;
    const ClusterLink &link_;
    const LinkSchedule &schedule_;
    Traffic &traffic_;
    const BridgeState &settings_;
    KeepaliveFilter keepalives_;

    std::deque<WaitingLine> linesWaitingForLink_;
    std::size_t linesWaitingBytes_ = 0;
    // A client whose long line has gone out in part: until its end goes too, the other clients' text waits
    // (in their sockets, or here for a client that left), so that no line reaches the cluster cut by another.
    std::optional<ClientId> linePartlySent_;
    std::deque<WaitingLine> linesOfLeftClients_;
};

} // namespace corvantle
