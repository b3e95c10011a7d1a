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
    clients_[client] = Client{};
    updateListening();
}

std::vector<ClientId> ClientHub::ids() const {
    std::vector<ClientId> ids;
    for (const auto &[id, client] : clients_)
        if (!client.ending)
            ids.push_back(id);
    return ids;
}

std::vector<ClientId> ClientHub::everyId() const {
    std::vector<ClientId> ids;
    for (const auto &entry : clients_)
        ids.push_back(entry.first);
    return ids;
}

bool ClientHub::has(ClientId client) const {
    const auto found = clients_.find(client);
    return found != clients_.end() && !found->second.ending;
}

std::size_t ClientHub::liveCount() const {
    return static_cast<std::size_t>(std::count_if(clients_.begin(), clients_.end(),
                                                  [](const auto &entry) { return !entry.second.ending; }));
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
        clients_.at(client).ending = true;
}

void ClientHub::endBecause(ClientId client, const std::string &reason) {
    if (stopped_ || !has(client))
        return;
    log_.warn("ending the telnet session: " + reason);
    markEnding(client);
}

std::optional<ClientId> ClientHub::nextEnding() const {
    const auto marked =
        std::find_if(clients_.begin(), clients_.end(), [](const auto &entry) { return entry.second.ending; });
    if (marked == clients_.end())
        return std::nullopt;
    return marked->first;
}

void ClientHub::remove(ClientId client) {
    socket_.close(client);
    clients_.erase(client);
}

void ClientHub::updateListening() {
    if (!listeningAllowed_ || stopped_)
        return;
    const bool room = static_cast<int>(clients_.size()) < maxClients_;
    if (room && !socket_.isListening())
        listenAgain();
    else if (!room && socket_.isListening())
        socket_.stopListening();
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
