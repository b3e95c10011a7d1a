#include "ClientHub.h"

#include "LineEnds.h"
#include "SettingsTable.h"

#include <algorithm>

namespace corvantle {

void ClientHub::setMaxClients(int maxClients) {
    maxClients_ = std::clamp(maxClients, 1, static_cast<int>(settings::kClients.max));
}

void ClientHub::accept(ClientId client) {
    socket_.accept(client);
    ending_[client] = false;
    updateListening();
}

std::vector<ClientId> ClientHub::ids() const {
    std::vector<ClientId> ids;
    for (const auto &[id, ending] : ending_)
        if (!ending)
            ids.push_back(id);
    return ids;
}

std::vector<ClientId> ClientHub::everyId() const {
    std::vector<ClientId> ids;
    for (const auto &entry : ending_)
        ids.push_back(entry.first);
    return ids;
}

bool ClientHub::has(ClientId client) const {
    const auto found = ending_.find(client);
    return found != ending_.end() && !found->second;
}

std::size_t ClientHub::liveCount() const {
    return static_cast<std::size_t>(
        std::count_if(ending_.begin(), ending_.end(), [](const auto &entry) { return !entry.second; }));
}

bool ClientHub::send(ClientId client, const std::string &text) {
    if (!has(client))
        return false;
    const std::string bytes = withTelnetLineEnds(text);
    // A slow client is ended alone: the others, and the link, go on.
    if (socket_.unsentBytes(client) + bytes.size() > kMaxUnsentToClientBytes) {
        endBecause(client, "the client stopped reading: more than " +
                               std::to_string(kMaxUnsentToClientBytes / 1024) + " KB are waiting for it");
        return false;
    }
    if (socket_.send(client, bytes))
        return true;
    // A client that cannot be written to is gone: end it as on a socket error.
    endBecause(client, "sending to the client failed");
    return false;
}

bool ClientHub::sendToAll(const std::string &text) {
    for (const ClientId id : ids())
        send(id, text);
    return !empty();
}

void ClientHub::markEnding(ClientId client) {
    if (has(client))
        ending_.at(client) = true;
}

void ClientHub::endBecause(ClientId client, const std::string &reason) {
    if (stopped_ || !has(client))
        return;
    log_.warn("ending the telnet session: " + reason);
    markEnding(client);
}

std::optional<ClientId> ClientHub::nextEnding() const {
    const auto marked =
        std::find_if(ending_.begin(), ending_.end(), [](const auto &entry) { return entry.second; });
    if (marked == ending_.end())
        return std::nullopt;
    return marked->first;
}

void ClientHub::remove(ClientId client) {
    socket_.close(client);
    ending_.erase(client);
}

bool ClientHub::startListening(std::string &error) {
    if (!socket_.listen(error))
        return false;
    listeningAllowed_ = true;
    return true;
}

// The port stays the program's for its whole run, also while every place is taken: closed, it could be
// taken by another local program, which would then receive the logging program's next connection.
void ClientHub::updateListening() {
    if (!listeningAllowed_ || stopped_)
        return;
    if (!socket_.isListening())
        listenAgain();
}

void ClientHub::turnAway(ClientId requestId) {
    socket_.accept(requestId);
    socket_.send(requestId, withTelnetLineEnds("*** All " + std::to_string(maxClients_) +
                                               (maxClients_ == 1 ? " place is" : " places are") +
                                               " taken here; try again later\r"));
    socket_.close(requestId);
}

// Listening again after a session can fail (the port taken meanwhile): said once per reason, and tried
// again at each tick.
void ClientHub::listenAgain() {
    std::string error;
    if (!socket_.listen(error) && error != lastListenError_)
        log_.warn("cannot listen on local TCP port " + std::to_string(socket_.localPort()) + ": " + error +
                  "; trying again");
    lastListenError_ = error;
}

} // namespace corvantle
