#include "Uplink.h"

#include "LineEnds.h"
#include "Ticks.h"

#include <map>
#include <vector>

namespace corvantle {

Uplink::Uplink(ClientHub &clients, PacketEngine &engine, const ClusterLink &link,
               const LinkSchedule &schedule, Traffic &traffic, const BridgeState &settings)
    : clients_(clients), engine_(engine), link_(link), schedule_(schedule), traffic_(traffic),
      settings_(settings) {}

void Uplink::onClientData(ClientId client) {
    if (!clients_.has(client))
        return;
    const bool hadLinePartlySent = linePartlySent_ == client;
    readClientText(client);
    if (hadLinePartlySent && !linePartlySent_)
        readEveryClient(); // what the others sent while this client's long line went out
}

void Uplink::readEveryClient() {
    // A client whose line is partly out goes first: the others wait for that line's end.
    if (linePartlySent_ && clients_.has(*linePartlySent_))
        readClientText(*linePartlySent_);
    for (const ClientId id : clients_.ids())
        if (clients_.has(id) && clients_.socket().bytesAvailable(id) > 0)
            readClientText(id);
}

// Text of a client's that waits unread (the engine's queue is full) may hold the line's end: the line is
// not overdue then.
void Uplink::tick() {
    for (const ClientId id : clients_.ids()) {
        if (!clients_.has(id) || mustWaitForAnothersLine(id))
            continue;
        ClientHub::Client &client = clients_.at(id);
        if (clients_.socket().bytesAvailable(id) > 0) {
            client.heldTicks = 0;
            continue;
        }
        if (!client.lines.holding() || ++client.heldTicks < kHoldTicks)
            continue;
        client.heldTicks = 0;
        if (const auto held = client.lines.takeHeld())
            takeClientLine(id, *held);
    }
    // A safety net: client text left waiting while the engine's queue was full.
    readEveryClient();
    keepalives_.tick();
}

void Uplink::readClientText(ClientId client) {
    TelnetSocket &socket = clients_.socket();
    if (settings_.monitorMode) {
        while (socket.bytesAvailable(client) > 0)
            socket.read(client, socket.bytesAvailable(client));
        return;
    }
    if (mustWaitForAnothersLine(client))
        return;
    while (clients_.has(client) && socket.bytesAvailable(client) > 0 && canTakeClientText()) {
        std::size_t room = kClientReadBytes;
        if (linesWaitForLink())
            room = kMaxLinesWaitingForLinkBytes - linesWaitingBytes_;
        const std::string bytes = socket.read(client, room);
        for (const ClientLine &line : clients_.at(client).lines.feed(bytes))
            takeClientLine(client, line);
        clients_.at(client).heldTicks = 0;
    }
}

// Lines typed now are kept until the link is up: it is being asked for, or will be in a moment, once the
// engine is back or once the last one ended.
bool Uplink::linesWaitForLink() const {
    return link_.is(ClusterLink::State::Connecting) || schedule_.connectDelayed() ||
           schedule_.waitingForEngine() ||
           (link_.is(ClusterLink::State::Closing) && schedule_.waitingForPreviousLink());
}

bool Uplink::canTakeClientText() const {
    if (link_.is(ClusterLink::State::Up))
        return engine_.canTakeData();
    if (linesWaitForLink())
        return linesWaitingBytes_ < kMaxLinesWaitingForLinkBytes;
    return true;
}

void Uplink::takeClientLine(ClientId client, const ClientLine &line) {
    // The end of a line that went out in pieces is never a keepalive.
    if (linePartlySent_ != client &&
        keepalives_.keepOff(line, settings_.quietKeepalives,
                            link_.is(ClusterLink::State::Up) || linesWaitForLink())) {
        traffic_.keepaliveKeptOff();
        return;
    }
    const std::string text = radioText(line);
    if (link_.is(ClusterLink::State::Up)) {
        sendToCluster(client, text);
    } else if (linesWaitForLink()) {
        // An engine drops data for a link that is still being set up, or is being taken down.
        linesWaitingForLink_.push_back({client, text});
        linesWaitingBytes_ += text.size();
    } else {
        clients_.send(client, "*** Not sent, no link to " + settings_.cluster + "\r\n");
    }
    if (!line.ended) {
        linePartlySent_ = client;
    } else if (linePartlySent_ == client) {
        linePartlySent_.reset();
        sendLinesOfLeftClients();
    }
}

std::string Uplink::radioText(const ClientLine &line) const {
    return line.ended ? withRadioLineEnd(line.text, settings_.compatibilityMode) : line.text;
}

// The link's own station and radio port, whatever the settings say by now. Only what the engine took is
// counted; the client hears of what it did not take.
void Uplink::sendToCluster(ClientId client, const std::string &text) {
    if (!engine_.sendData(link_.station(), text, link_.radioPort())) {
        clients_.send(client, "*** Not sent, no link to " + link_.station() +
                                  ": the packet engine is not connected\r\n");
        return;
    }
    traffic_.toRadio(text.size());
}

// The last lines of clients that left while another client's line was partly out, now that it has ended.
void Uplink::sendLinesOfLeftClients() {
    for (const WaitingLine &line : linesOfLeftClients_)
        if (link_.is(ClusterLink::State::Up))
            sendToCluster(line.client, line.text);
    linesOfLeftClients_.clear();
}

void Uplink::sendHeldLines() {
    for (const WaitingLine &line : linesWaitingForLink_)
        sendToCluster(line.client, line.text);
    clearWaitingLines();
}

void Uplink::dropHeldLines() {
    std::map<ClientId, std::size_t> linesOf;
    for (const WaitingLine &line : linesWaitingForLink_)
        ++linesOf[line.client];
    clearWaitingLines();
    for (const auto &[client, lines] : linesOf)
        if (clients_.has(client))
            clients_.send(client, "*** Not sent, no link to " + settings_.cluster + ": " +
                                      std::to_string(lines) + (lines == 1 ? " line" : " lines") +
                                      " typed while connecting\r\n");
}

// What the client sent that waited unread in its socket (the engine's queue was full, or another client's
// long line was going out; the socket reads ahead a bounded amount), then its unfinished line. After the
// line that another client has partly sent, if there is one. (A line that went out in part always holds
// its last bytes: pieces go only once more follows.)
void Uplink::clientLeaving(ClientId client) {
    if (!link_.is(ClusterLink::State::Up) || settings_.monitorMode) {
        if (linePartlySent_ == client) {
            linePartlySent_.reset();
            sendLinesOfLeftClients();
        }
        return;
    }
    TelnetSocket &socket = clients_.socket();
    ClientLines &lines = clients_.at(client).lines;
    std::vector<ClientLine> last = lines.feed(socket.read(client, socket.bytesAvailable(client)));
    if (auto held = lines.takeHeld())
        last.push_back(std::move(*held));
    for (const ClientLine &line : last) {
        if (mustWaitForAnothersLine(client))
            linesOfLeftClients_.push_back({client, radioText(line)});
        else
            takeClientLine(client, line);
    }
}

void Uplink::startSession() {
    clearWaitingLines();
}

void Uplink::endSession() {
    clearWaitingLines();
    linePartlySent_.reset();
    linesOfLeftClients_.clear();
}

void Uplink::clearWaitingLines() {
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
}

} // namespace corvantle
