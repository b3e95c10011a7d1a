// The telnet socket's events wired to the bridge's handlers, as both ways of running the program do.
#pragma once

namespace corvantle {

class Bridge;
class QtTelnetSocket;
class SessionLog;

// Arrivals, data, closes and errors go to the bridge; a client the allow-list refused is named in `log`.
void wireSocketToBridge(QtTelnetSocket &socket, Bridge &bridge, SessionLog &log);

} // namespace corvantle
