#include "Uplink.h"

#include "LineEnds.h"
#include "Ticks.h"

#include <map>
#include <vector>

namespace corvantle {

void Uplink::onClientData(ClientId client, const Link &link) {
    link_ = link;
    if (!clients_.has(client))
        return;
    const bool hadLinePartlySent = linePartlySent_ == client;
    readClientText(client);
    if (hadLinePartlySent && !linePartlySent_)
        readAll(); // what the others sent while this client's long line went out
}

void Uplink::readEveryClient(const Link &link) {
    link_ = link;
    readAll();
}

void Uplink::readAll() {
    // A client whose line is partly out goes first: the others wait for that line's end.
    if (linePartlySent_ && clients_.has(*linePartlySent_))
        readClientText(*linePartlySent_);
    for (const ClientId id : clients_.ids())
        if (clients_.has(id) && clients_.waiting(id) > 0)
            readClientText(id);
}

// Text of a client's that waits unread (the engine's queue is full) may hold the line's end: the line is
// not overdue then.
void Uplink::tick(const Link &link) {
    link_ = link;
    for (const ClientId id : clients_.ids()) {
        if (!clients_.has(id) || mustWaitForAnothersLine(id))
            continue;
        Typing &typing = typing_[id];
        if (clients_.waiting(id) > 0) {
            typing.heldTicks = 0;
            continue;
        }
        if (!typing.lines.holding() || ++typing.heldTicks < kHoldTicks)
            continue;
        typing.heldTicks = 0;
        if (const auto held = typing.lines.takeHeld())
            takeClientLine(id, *held);
    }
    // A safety net: client text left waiting while the engine's queue was full.
    readAll();
    keepalives_.tick();
}

void Uplink::readClientText(ClientId client) {
    if (settings_.monitorMode) {
        while (clients_.waiting(client) > 0)
            clients_.read(client, clients_.waiting(client));
        return;
    }
    if (mustWaitForAnothersLine(client))
        return;
    while (clients_.has(client) && clients_.waiting(client) > 0 && canTakeClientText()) {
        std::size_t room = kClientReadBytes;
        if (link_.awaited)
            room = kMaxLinesWaitingForLinkBytes - linesWaitingBytes_;
        const std::string bytes = clients_.read(client, room);
        for (const ClientLine &line : typing_[client].lines.feed(bytes))
            takeClientLine(client, line);
        typing_[client].heldTicks = 0;
    }
}

bool Uplink::canTakeClientText() const {
    if (link_.up)
        return engine_.canTakeData();
    if (link_.awaited)
        return linesWaitingBytes_ < kMaxLinesWaitingForLinkBytes;
    return true;
}

void Uplink::takeClientLine(ClientId client, const ClientLine &line) {
    // The end of a line that went out in pieces is never a keepalive.
    if (linePartlySent_ != client &&
        keepalives_.keepOff(line, settings_.quietKeepalives, link_.up || link_.awaited)) {
        traffic_.keepaliveKeptOff();
        return;
    }
    const std::string text = radioText(line);
    if (link_.up) {
        sendToCluster(client, text);
    } else if (link_.awaited) {
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
    if (!engine_.sendData(link_.station, text, link_.radioPort)) {
        clients_.send(client, "*** Not sent, no link to " + link_.station +
                                  ": the packet engine is not connected\r\n");
        return;
    }
    traffic_.toRadio(text.size());
}

// The last lines of clients that left while another client's line was partly out, now that it has ended.
void Uplink::sendLinesOfLeftClients() {
    for (const WaitingLine &line : linesOfLeftClients_)
        if (link_.up)
            sendToCluster(line.client, line.text);
    linesOfLeftClients_.clear();
}

void Uplink::sendHeldLines(const Link &link) {
    link_ = link;
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
void Uplink::clientLeaving(ClientId client, const Link &link) {
    link_ = link;
    auto typing = typing_.extract(client);
    if (!link_.up || settings_.monitorMode) {
        if (linePartlySent_ == client) {
            linePartlySent_.reset();
            sendLinesOfLeftClients();
        }
        return;
    }
    ClientLines lines = typing ? std::move(typing.mapped().lines) : ClientLines{};
    std::vector<ClientLine> last = lines.feed(clients_.read(client, clients_.waiting(client)));
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
    typing_.clear();
    linePartlySent_.reset();
    linesOfLeftClients_.clear();
}

void Uplink::clearWaitingLines() {
    linesWaitingForLink_.clear();
    linesWaitingBytes_ = 0;
}

} // namespace corvantle
