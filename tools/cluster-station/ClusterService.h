// ClusterService: what the test DX cluster station says to the stations connected to it.
//
// Takes the engine's events for each remote station (link up, connected data, link down) and the spot timer's
// ticks, and answers with actions: text to send on a link, a disconnect to ask for, a line for the log. It
// never touches a socket or a clock, so its behaviour is tested by feeding it events.
//
// Per caller: a greeting and prompt on connect; every spot tick one "DX de" line; "sh/dx" lists the last
// spots; "count N" sends N numbered lines; "bye" says goodbye and disconnects; anything else gets an
// "unknown command" reply.
#pragma once

#include "ClusterText.h"

#include <cstddef>
#include <ctime>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::cluster {

struct Action {
    enum class Kind {
        Send,       // `text` (whole lines, CR-terminated) on the link to `remote`
        Disconnect, // ask the engine to end the link to `remote`
        Log,        // `text` is one line for the log
    };
    Kind kind = Kind::Log;
    std::string remote;
    std::string text;

    bool operator==(const Action &) const = default;
};

class ClusterService final {
  public:
    explicit ClusterService(std::string ownCall, std::size_t keptSpots = 5);

    std::vector<Action> linkUp(const std::string &remote);
    std::vector<Action> linkDown(const std::string &remote);
    std::vector<Action> received(const std::string &remote, std::string_view bytes);
    // The next spot to every caller whose link is open; nothing (and no number used up) when nobody listens.
    std::vector<Action> spotDue(const std::tm &utc);
    // Disconnects every open link, for shutting down.
    std::vector<Action> disconnectAll();

    bool hasLinks() const { return !sessions_.empty(); }
    bool hasOpenLinks() const;

  private:
    struct Session {
        LineSplitter splitter;
        bool closing = false; // we asked for the disconnect and only wait for the engine's notice
    };

    void answer(const std::string &remote, const std::string &rawLine, std::vector<Action> &out);
    void send(const std::string &remote, const std::vector<std::string> &lines,
              std::vector<Action> &out) const;
    void close(const std::string &remote, Session &session, std::vector<Action> &out) const;
    static void numberedLines(const std::string &countText, std::vector<std::string> &lines);
    std::string prompt(const std::string &remote) const;

    std::string ownCall_;
    std::size_t keptSpots_;
    int lastSerial_ = 0;
    std::deque<Spot> spots_; // newest first
    std::map<std::string, Session> sessions_;
};

} // namespace corvantle::cluster
