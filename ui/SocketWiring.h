// The telnet socket's events wired to the bridge's handlers, as both ways of running the program do.
#pragma once

namespace corvantle {

class Bridge;
class QtTelnetSocket;

// Arrivals, data, closes, errors and the clients the allow-list refused go to the bridge.
void wireSocketToBridge(QtTelnetSocket &socket, Bridge &bridge);

} // namespace corvantle
