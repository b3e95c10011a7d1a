// AgwLinkPacer: queues, frames in flight, 'Y' questions and the 'd' that waits for the data.
#include "AgwLinkPacer.h"

#include <algorithm>
#include <utility>

namespace corvantle {
namespace {
constexpr std::uint8_t kPidText = 0xF0;
} // namespace

agw::Frame AgwLinkPacer::request(char kind, const std::string &key, std::uint8_t port) {
    agw::Frame frame;
    frame.port = port;
    frame.kind = kind;
    frame.callTo = key;
    return frame;
}

void AgwLinkPacer::startLink(const std::string &key, std::uint8_t port) {
    if (const auto held = links_.find(key); held != links_.end())
        forgetQueue(held->second);
    Link link;
    link.shownCall = key;
    link.port = port;
    links_[key] = std::move(link);
}

void AgwLinkPacer::linkUp(const std::string &key, const std::string &shownCall, std::uint8_t port) {
    Link &link = links_[key];
    link.shownCall = shownCall;
    link.port = port;
}

void AgwLinkPacer::linkDown(const std::string &key) {
    if (const auto held = links_.find(key); held != links_.end()) {
        forgetQueue(held->second);
        links_.erase(held);
    }
}

std::vector<std::pair<std::string, std::uint8_t>> AgwLinkPacer::links() const {
    std::vector<std::pair<std::string, std::uint8_t>> shown;
    for (const auto &[key, link] : links_)
        shown.emplace_back(link.shownCall, link.port);
    return shown;
}

void AgwLinkPacer::clear() {
    links_.clear();
    queuedBytes_ = 0;
}

// Each frame costs a header and a transmission on a slow channel: data that fits whole into the frame still
// waiting at the queue's tail joins it. Longer data starts a frame of its own and goes in full frames, so a
// line is never cut only to fill a frame.
void AgwLinkPacer::queue(const std::string &key, const std::string &data, std::uint8_t port) {
    Link &link = links_[key];
    if (link.shownCall.empty()) {
        link.shownCall = key;
        link.port = port;
    }
    if (data.size() <= kMaxDataPerFrame && !link.queued.empty() &&
        link.queued.back().size() + data.size() <= kMaxDataPerFrame) {
        link.queued.back() += data;
    } else {
        for (std::size_t at = 0; at < data.size(); at += kMaxDataPerFrame)
            link.queued.push_back(data.substr(at, kMaxDataPerFrame));
    }
    queuedBytes_ += data.size();
}

void AgwLinkPacer::pump(const std::string &key) {
    auto held = links_.find(key);
    if (held == links_.end())
        return;
    Link &link = held->second;
    bool sentAny = false;
    while (!link.queued.empty() &&
           (link.pacing == Pacing::Silent || link.inFlight < pacing_.framesInFlight)) {
        agw::Frame frame = request('D', key, link.port);
        frame.pid = kPidText;
        frame.data = link.queued.front();
        // A refused write may have ended the connection, and with it this link.
        if (!host_.sendToEngine(frame))
            return;
        queuedBytes_ -= link.queued.front().size();
        link.queued.pop_front();
        ++link.inFlight;
        if (link.askedOutstanding)
            ++link.sentSinceAsked;
        sentAny = true;
    }
    if (!link.queued.empty() && link.pacing != Pacing::Silent) {
        // Asking at once after progress keeps a fast engine busy; a full window waits for the next tick.
        if (sentAny && !link.askedOutstanding)
            askOutstanding(key);
        keepTicking();
    }
    host_.queueShrank();
}

void AgwLinkPacer::flushQueue(const std::string &key) {
    if (const auto held = links_.find(key); held != links_.end()) {
        held->second.pacing = Pacing::Silent;
        pump(key);
    }
}

void AgwLinkPacer::askOutstanding(const std::string &key) {
    Link &link = links_.at(key);
    link.askedOutstanding = true;
    link.sentSinceAsked = 0;
    link.askedAt = host_.now();
    host_.sendToEngine(request('Y', key, link.port));
}

void AgwLinkPacer::outstandingAnswered(const std::string &key, std::uint32_t count) {
    const auto held = links_.find(key);
    if (held == links_.end())
        return;
    Link &link = held->second;
    link.askedOutstanding = false;
    // Also after the wait for this answer ran out: a busy engine answers late, and pacing comes back.
    link.pacing = Pacing::Answers;
    // The engine counted what it held when it answered; what left here since then is on its way to it.
    link.inFlight = count + link.sentSinceAsked;
    pump(key);
    if (const auto still = links_.find(key);
        still != links_.end() && still->second.queued.empty() && still->second.inFlight == 0)
        sendWaitingDisconnect(key);
}

void AgwLinkPacer::disconnect(const std::string &key, std::uint8_t port) {
    if (const auto held = links_.find(key); held != links_.end()) {
        Link &link = held->second;
        link.disconnectRequested = true;
        // An engine that reports what is outstanding (or may, not having been asked yet) gets the 'd' once
        // all has left.
        if (link.pacing != Pacing::Silent && (!link.queued.empty() || link.inFlight > 0)) {
            link.disconnectWhenSent = true;
            link.disconnectDeadline = host_.now() + pacing_.sendBeforeDisconnectWait;
            keepTicking();
            return;
        }
        flushQueue(key);
    }
    host_.sendToEngine(request('d', key, port));
}

// The 'd' that waited for a link's data to leave: now, or at its deadline with what is left dropped.
void AgwLinkPacer::sendWaitingDisconnect(const std::string &key) {
    const auto held = links_.find(key);
    if (held == links_.end() || !held->second.disconnectWhenSent)
        return;
    held->second.disconnectWhenSent = false;
    forgetQueue(held->second);
    host_.sendToEngine(request('d', key, held->second.port));
}

void AgwLinkPacer::tick() {
    const auto now = host_.now();
    std::vector<std::string> watched;
    for (const auto &[key, link] : links_)
        if (!link.queued.empty() || (link.pacing != Pacing::Silent && link.inFlight > 0) ||
            link.disconnectWhenSent)
            watched.push_back(key);
    if (watched.empty()) {
        host_.stopTicks();
        return;
    }
    for (const std::string &key : watched) {
        const auto held = links_.find(key);
        if (held == links_.end())
            continue;
        Link &link = held->second;
        if (link.disconnectWhenSent && now >= link.disconnectDeadline) {
            sendWaitingDisconnect(key);
        } else if (!link.askedOutstanding) {
            askOutstanding(key);
        } else if (now - link.askedAt >= pacing_.paceAnswerWait) {
            // Unpaced only until this question is answered; an engine that never answers stays unpaced.
            link.pacing = Pacing::Silent;
            pump(key);
            sendWaitingDisconnect(key);
        }
    }
}

bool AgwLinkPacer::holdDisconnectsUntil(AgwPacerHost::TimePoint deadline) {
    bool waiting = false;
    for (auto &[key, link] : links_) {
        if (link.pacing == Pacing::Silent || (link.queued.empty() && link.inFlight == 0))
            continue;
        if (!link.disconnectWhenSent) {
            link.disconnectWhenSent = link.disconnectRequested;
            link.disconnectDeadline = deadline;
        }
        link.disconnectDeadline = std::min(link.disconnectDeadline, deadline);
        waiting = true;
    }
    if (waiting)
        keepTicking();
    return waiting;
}

bool AgwLinkPacer::dataLeft() const {
    return std::all_of(links_.begin(), links_.end(), [](const auto &entry) {
        const Link &link = entry.second;
        return link.pacing == Pacing::Silent || (link.queued.empty() && link.inFlight == 0);
    });
}

void AgwLinkPacer::endLinks() {
    std::vector<std::string> keys;
    for (const auto &[key, link] : links_)
        keys.push_back(key);
    for (const std::string &key : keys) {
        bool disconnectWaited = false; // its 'd' waited for data to leave: shutting down, it goes now
        if (const auto link = links_.find(key); link != links_.end())
            disconnectWaited = std::exchange(link->second.disconnectWhenSent, false);
        flushQueue(key);
        // Sending the queue can end the connection, and with it every link.
        const auto held = links_.find(key);
        if (held == links_.end())
            continue;
        if (!held->second.disconnectRequested || disconnectWaited)
            host_.sendToEngine(request('d', key, held->second.port));
    }
}

void AgwLinkPacer::forgetQueue(Link &link) {
    for (const std::string &piece : link.queued)
        queuedBytes_ -= piece.size();
    link.queued.clear();
    host_.queueShrank();
}

void AgwLinkPacer::keepTicking() {
    if (!host_.ticking())
        host_.startTicks();
}

} // namespace corvantle
