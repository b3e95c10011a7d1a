// TCP keepalive with short timers on each telnet client's connection.
//
// A logging program on a laptop whose Wi-Fi drops, or that goes to sleep, leaves without a FIN or a reset.
// Without keepalive its connection would hold a client's place (and, if it was the last client, the radio
// link) for ever on a quiet link; with the system's keepalive timers for two hours. Probes after a minute of
// silence, every 10 s, six of them, find it out within about two minutes; the connection then fails and the
// client leaves as any client does.
//
// Keepalive only runs while the connection has nothing unacknowledged. While the cluster's spots go out to
// a vanished client, retransmission runs instead, and by the system's rules gives up only after about a
// quarter of an hour; a user timeout of the same two minutes bounds that too.
#pragma once

#include <QtGlobal>

#include <string>

namespace corvantle {

struct KeepaliveTimers {
    int idleSeconds = 60;     // silence before the first probe
    int intervalSeconds = 10; // between unanswered probes
    int probes = 6;           // unanswered probes before the connection is given up

    // How long a vanished client holds its place at most: also the bound on unacknowledged data.
    int deadlineSeconds() const { return idleSeconds + intervalSeconds * probes; }
};

// The timers for client connections. Tests that cannot wait two minutes set CORVANTLE_TEST_KEEPALIVE to
// "IDLE,INTERVAL,PROBES" (whole seconds, probes); anything else in it is ignored. Not a setting: a user has
// no reason to change these.
KeepaliveTimers clientKeepaliveTimers();

// Switches keepalive on for the connected TCP socket `descriptor` with `timers`, and bounds unacknowledged
// data by the same deadline. False, with why in `error`, when the system refused one of the options.
bool applyKeepalive(qintptr descriptor, const KeepaliveTimers &timers, std::string &error);

} // namespace corvantle
