// The bridge's telnet session: clients arriving and sharing the link, their text on its way to the
// cluster, their leaving (marked, then removed once the outermost handler is done); and what the link's
// care reports, passed on to the clients and the text each way.
#include "Bridge.h"

#include "WindowOps.h"

namespace corvantle {
namespace {

constexpr const char *kWelcomeLine = "Welcome to the AGWPE telnet corvantle by ZR8QOD\r\n";

} // namespace

// ---- the telnet session ----

void Bridge::onClientArrival(int32_t requestId) {
    const HandlerScope scope(*this);
    if (clients_.full()) {
        log_.note("Telnet client" + fromAddress(requestId) +
                  " refused: " + std::to_string(clients_.liveCount()) + " connected already");
        clients_.turnAway(requestId);
        return;
    }
    const bool first = clients_.empty();
    clients_.accept(requestId);
    // Named by address, so that the log says which machine made the program transmit.
    if (first) {
        log_.note("Telnet client connected" + fromAddress(requestId));
        startSession(requestId);
    } else {
        log_.note("Telnet client" + fromAddress(requestId) + " joined the session (" +
                  std::to_string(clients_.liveCount()) + " clients)");
        joinSession(requestId);
    }
}

std::string Bridge::fromAddress(ClientId requestId) const {
    const std::string address = clients_.peerAddress(requestId);
    return address.empty() ? std::string() : " from " + address;
}

void Bridge::startSession(ClientId client) {
    downlink_.reset();
    uplink_.startSession();
    const bool linkKept = keeper_.takeKeptLink();

    if (!clients_.send(client, kWelcomeLine))
        return;
    if (state_.monitorMode) {
        if (linkKept)
            keeper_.closeLink();
        clients_.send(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n");
        return;
    }
    if (linkKept)
        keeper_.clientReturned(client);
    else
        keeper_.clientWantsLink(client);
}

// A further client shares what is there: the link that is up, the attempt under way, or the next one.
void Bridge::joinSession(ClientId client) {
    if (!clients_.send(client, kWelcomeLine) ||
        !clients_.send(client, "Joining the session with " + state_.cluster + " DX Cluster Station (" +
                                   std::to_string(clients_.liveCount()) + " clients)\r\n"))
        return;
    if (state_.monitorMode) {
        clients_.send(client, "Monitoring " + state_.cluster + " DX Cluster Station...\r\n");
        return;
    }
    keeper_.clientJoined(client);
}

// ---- the clients' text ----

void Bridge::onClientData(ClientId client) {
    const HandlerScope scope(*this);
    uplink_.onClientData(client, uplinkLink());
    // A line typed: this client means to stay, and its link need not wait any longer.
    if (uplink_.holdsLines())
        keeper_.linkWantedNow();
}

void Bridge::readyForData() {
    if (!handling())
        return;
    const HandlerScope scope(*this);
    uplink_.readEveryClient(uplinkLink());
}

// ---- clients leaving ----

void Bridge::onClientGone(ClientId client) {
    // Closing the socket at shutdown may report the client's close; nothing is to be reopened then.
    if (phase_ == Phase::ShutDown)
        return;
    const HandlerScope scope(*this);
    markEnding(client);
}

void Bridge::onClientError(ClientId client, int32_t number, const std::string &description) {
    const HandlerScope scope(*this);
    clients_.endBecause(client, "telnet socket error " + std::to_string(number) + ": " + description);
}

void Bridge::onClientRefused(const std::string &address) {
    refusedClients_.refused(address);
}

// Marked here, removed when the outermost handler is done (at once outside a handler).
void Bridge::markEnding(ClientId client) {
    clients_.markEnding(client);
    if (handlerDepth_ == 0) {
        const HandlerScope scope(*this);
    }
}

void Bridge::endMarkedClients() {
    while (phase_ != Phase::ShutDown) {
        const auto marked = clients_.nextEnding();
        if (!marked)
            break;
        log_.note("Telnet client left");
        const bool hadLinePartlySent = uplink_.linePartlySentBy(*marked);
        leaveClient(*marked, true);
        if (hadLinePartlySent)
            uplink_.readEveryClient(uplinkLink()); // what the others sent while its long line went out
    }
    clients_.updateListening();
}

// The client is gone: its last unfinished line still reaches the cluster. The last client's going ends the
// session.
void Bridge::leaveClient(ClientId client, bool mayKeepLink) {
    uplink_.clientLeaving(client, uplinkLink());
    clients_.remove(client);
    if (clients_.empty())
        endSession(mayKeepLink);
}

// The last client's going ends the session.
void Bridge::endSession(bool mayKeepLink) {
    keeper_.sessionEnded(mayKeepLink);
    downlink_.reset();
    uplink_.endSession();
}

// ---- what the link's care reports ----

void Bridge::linkCameUp() {
    uplink_.sendHeldLines(uplinkLink());
    uplink_.readEveryClient(uplinkLink()); // what the clients sent while the link came up
}

void Bridge::linkWentDown() {
    toClients(downlink_.endLine());
}

// The bridge removes them when its handler is done.
void Bridge::closeClients() {
    for (const ClientId id : clients_.ids()) {
        log_.note("Closing the telnet client: the link has ended");
        clients_.markEnding(id);
    }
}

bool Bridge::toClients(const std::vector<std::string> &writes) {
    for (const std::string &text : writes)
        if (!clients_.sendToAll(text))
            return false;
    return !clients_.empty();
}

Uplink::Link Bridge::uplinkLink() const {
    const ClusterLink &link = keeper_.link();
    return {link.is(ClusterLink::State::Up), keeper_.linesWaitForLink(), link.station(), link.radioPort()};
}

} // namespace corvantle
