// The session's link to the cluster station: asking for it with the settings in force, following its
// notices, telling the clients what became of it, and looking after it over time (asking again after a
// drop, keeping it for a returning client, waiting for the previous link's end before a new one).
//
// It owns the link (ClusterLink: its one state, and what it was made with) and its schedule; the rest of
// the bridge reads them.
#pragma once

#include "BridgeState.h"
#include "ClientHub.h"
#include "ClusterLink.h"
#include "Downlink.h"
#include "LinkSchedule.h"
#include "PacketEngine.h"
#include "SessionLog.h"

#include <string>
#include <vector>

namespace corvantle {

class Uplink;
class WindowOps;

class LinkKeeper final {
  public:
    // The settings are the bridge's, read as they stand at each step.
    LinkKeeper(PacketEngine &engine, WindowOps &window, ClientHub &clients, Uplink &uplink,
               Downlink &downlink, const BridgeState &settings, SessionLog &log);

    const ClusterLink &link() const { return link_; }
    const LinkSchedule &schedule() const { return schedule_; }
    // From the link's up notice to its down notice, also while it closes.
    bool linkUp() const { return linkUp_; }

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
    void engineLostLink();
    std::string reconnectingLine(int seconds) const;
    void previousLinkWentDown();
    void afterLinkEnded();
    void linkDidNotCome(const std::string &why);
    void waitForPreviousLink();
    void previousLinkWaitWhenDue();
    void scheduleRelink();
    void relinkWhenDue();
    void stopRelinking();
    void keepLinkWhileDue();
    std::vector<std::string> routeInSettings() const;
    bool attemptMatchesSettings() const;
    void setLinkState(ClusterLink::State state);
    void closeEveryClient();

    PacketEngine &engine_;
    WindowOps &window_;
    ClientHub &clients_;
    Uplink &uplink_;
    Downlink &downlink_;
    const BridgeState &settings_;
    SessionLog &log_;
    ClusterLink link_;
    LinkSchedule schedule_;
    bool linkUp_ = false;
};

} // namespace corvantle
