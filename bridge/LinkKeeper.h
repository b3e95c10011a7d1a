// The session's link to the cluster station: asking for it with the settings in force, following its
// notices, and looking after it over time (asking again after a drop, keeping it for a returning client,
// waiting for the previous link's end or for the engine to be back before a new one).
//
// It owns the link (ClusterLink: its one state, and what it was made with) and its schedule, and reaches
// nothing but the engine: what became of the link, and what the clients should hear of it, it reports to
// the coordinator through LinkListener, which passes it on to the clients and the text each way.
#pragma once

#include "BridgeState.h"
#include "ClusterLink.h"
#include "LinkSchedule.h"
#include "PacketEngine.h"
#include "SessionLog.h"
#include "TelnetSocket.h"

#include <string>
#include <vector>

namespace corvantle {

// What the link's care reports; the bridge implements it.
class LinkListener {
  public:
    virtual ~LinkListener() = default;

    // Whether clients are in the session.
    virtual bool hasClients() const = 0;
    // A line for every client, or for one; false when no client (or not that one) is left.
    virtual bool tellClients(const std::string &text) = 0;
    virtual bool tellClient(ClientId client, const std::string &text) = 0;
    // The link is up and the clients have heard so: what they typed meanwhile may go.
    virtual void linkCameUp() = 0;
    // The link went down under the clients; its notice follows, on a line of its own.
    virtual void linkWentDown() = 0;
    // No link for the lines typed while it was awaited: each client hears how many did not go out.
    virtual void linkFailed() = 0;
    // The link has ended and the clients are to be closed once they have read that (LinkEnd=Close).
    virtual void closeClients() = 0;
};

class LinkKeeper final {
  public:
    // `whereToConfigure` ends the line that tells a client to set the callsign and the cluster.
    LinkKeeper(PacketEngine &engine, LinkListener &listener, SessionLog &log, std::string whereToConfigure);

    // The settings in force, at start-up and whenever Preferences changes them.
    void useSettings(const BridgeState &settings) { settings_ = settings; }

    const ClusterLink &link() const { return link_; }
    // Lines typed now wait for the link: it is being asked for, or will be in a moment (the new client's
    // short wait, the engine coming back, the previous link's end).
    bool linesWaitForLink() const;
    // Waiting to ask again for a dropped link, or asking.
    bool relinking() const { return schedule_.relinking(); }

    // A notice or data of the link that is asked for, up or closing: from the station it was made with, on
    // its radio port, to `ownCall`.
    bool owns(const EngineFrame &frame, const std::string &ownCall) const;

    // Asks for the link with the settings in force, unless one is under way or the last one still closes.
    void requestLink();
    // The cluster connected to us: a link like any other, on the port it came in on.
    void clusterConnectedToUs(const EngineFrame &frame);
    void linkCameUp(const EngineFrame &frame);
    void linkWentDown(const EngineFrame &frame);

    // Asks the engine to take the link down; its down notice is not for the clients that come next.
    void closeLink();
    void sendDisconnectRequest();
    void disconnectStranger(const EngineFrame &frame);

    // A first client: whether a link kept for a returning client is there for it.
    bool takeKeptLink();
    // A first client back while the link was kept: it hears the link's notice.
    void clientReturned(ClientId client);
    // A first client: the link is asked for, a moment after its arrival (see kConnectDelayTicks).
    void clientWantsLink(ClientId client);
    // A client's line waits for a link that is not asked for yet: asked for now.
    void linkWantedNow();
    // The packet engine is back after it was lost: a link the clients still want is asked for again.
    void engineBack();
    // A further client shares what is there: the link that is up, the attempt under way, or the next one.
    void clientJoined(ClientId client);
    // The last client left: the link is kept for a while or taken down; attempts are for clients that are
    // there.
    void sessionEnded(bool mayKeepLink);

    // Every tick: what is due of the link's care.
    void tick();

  private:
    std::string connectingLine() const;
    std::string engineAwayLine() const;
    std::string unconfiguredProblem() const;
    bool refusedUnconfigured(ClientId client);
    void waitForEngine();
    std::string reconnectingLine(int seconds) const;
    void previousLinkWentDown();
    void afterLinkEnded();
    void linkDidNotCome(const std::string &why);
    void waitForPreviousLink();
    void previousLinkWaitWhenDue();
    void scheduleRelink();
    void relinkWhenDue();
    void keepLinkWhileDue();
    std::vector<std::string> routeInSettings() const;
    bool attemptMatchesSettings() const;

    PacketEngine &engine_;
    LinkListener &listener_;
    SessionLog &log_;
    const std::string whereToConfigure_;
    BridgeState settings_;
    ClusterLink link_;
    LinkSchedule schedule_;
};

} // namespace corvantle
