// ClusterService: what the test DX cluster station says to the stations connected to it.
#include "ClusterService.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <utility>

namespace corvantle::cluster {
namespace {

Action logLine(std::string text) {
    return {Action::Kind::Log, {}, std::move(text)};
}

} // namespace

ClusterService::ClusterService(std::string ownCall, std::size_t keptSpots)
    : ownCall_(std::move(ownCall)), keptSpots_(keptSpots) {}

bool ClusterService::hasOpenLinks() const {
    for (const auto &[remote, session] : sessions_) {
        if (!session.closing)
            return true;
    }
    return false;
}

std::vector<Action> ClusterService::linkUp(const std::string &remote) {
    std::vector<Action> out{logLine("UP " + remote)};
    // A second connect notice for the same station means the old link is gone: start afresh.
    sessions_[remote] = Session{};
    send(remote, {"Hello " + remote + ", this is " + ownCall_ + " DX cluster", prompt(remote)}, out);
    return out;
}

std::vector<Action> ClusterService::linkDown(const std::string &remote) {
    std::vector<Action> out;
    const auto found = sessions_.find(remote);
    if (found != sessions_.end()) {
        // Bytes after the last CR (a trailing LF, a line cut short) are part of what arrived, too.
        const std::string &rest = found->second.splitter.pending();
        if (!rest.empty())
            out.push_back(logLine("RX " + remote + " " + escapeForLog(rest)));
        sessions_.erase(found);
    }
    out.push_back(logLine("DOWN " + remote));
    return out;
}

std::vector<Action> ClusterService::received(const std::string &remote, std::string_view bytes) {
    std::vector<Action> out;
    const auto found = sessions_.find(remote);
    if (found == sessions_.end()) {
        out.push_back(logLine("NOLINK " + remote + " " + escapeForLog(bytes)));
        return out;
    }
    for (const std::string &line : found->second.splitter.feed(bytes)) {
        out.push_back(logLine("RX " + remote + " " + escapeForLog(line)));
        answer(remote, line, out);
    }
    return out;
}

std::vector<Action> ClusterService::spotDue(const std::tm &utc) {
    std::vector<Action> out;
    if (!hasOpenLinks())
        return out;
    const Spot spot = makeSpot(++lastSerial_, utc);
    spots_.push_front(spot);
    if (spots_.size() > keptSpots_)
        spots_.pop_back();
    for (const auto &[remote, session] : sessions_) {
        if (!session.closing)
            send(remote, {formatDxSpot(spot)}, out);
    }
    return out;
}

std::vector<Action> ClusterService::disconnectAll() {
    std::vector<Action> out;
    for (auto &[remote, session] : sessions_) {
        if (!session.closing)
            close(remote, session, out);
    }
    return out;
}

void ClusterService::answer(const std::string &remote, const std::string &rawLine, std::vector<Action> &out) {
    Session &session = sessions_.at(remote);
    if (session.closing)
        return;
    const std::string command = commandOf(rawLine);
    if (command == "bye" || command == "quit") {
        send(remote, {"73 " + remote + ", thanks for using " + ownCall_}, out);
        close(remote, session, out);
        return;
    }
    std::vector<std::string> lines;
    if (command == "sh/dx" || command == "show/dx") {
        for (const Spot &spot : spots_)
            lines.push_back(formatShowDxLine(spot));
        if (spots_.empty())
            lines.push_back("No spots yet");
    } else if (command.rfind("count ", 0) == 0) {
        numberedLines(command.substr(6), lines);
    } else if (!command.empty()) {
        lines.push_back("Sorry " + remote + ", unknown command: " + command);
    }
    lines.push_back(prompt(remote));
    send(remote, lines, out);
}

void ClusterService::send(const std::string &remote, const std::vector<std::string> &lines,
                          std::vector<Action> &out) const {
    std::string text;
    for (const std::string &line : lines) {
        out.push_back(logLine("TX " + remote + " " + escapeForLog(line + "\r")));
        text += line + "\r";
    }
    // One action for all lines: the transport packs them into frames the way a cluster does.
    out.push_back({Action::Kind::Send, remote, std::move(text)});
}

void ClusterService::close(const std::string &remote, Session &session, std::vector<Action> &out) const {
    session.closing = true;
    out.push_back(logLine("DISC " + remote));
    out.push_back({Action::Kind::Disconnect, remote, {}});
}

// "count N": N numbered lines in one burst, for checking that none is lost, doubled or reordered.
void ClusterService::numberedLines(const std::string &countText, std::vector<std::string> &lines) {
    const int count = std::clamp(std::atoi(countText.c_str()), 1, 1000);
    char line[40];
    for (int i = 1; i <= count; ++i) {
        std::snprintf(line, sizeof line, "LINE %04d of %04d", i, count);
        lines.emplace_back(line);
    }
}

std::string ClusterService::prompt(const std::string &remote) const {
    return remote + " de " + ownCall_ + " >";
}

} // namespace corvantle::cluster
