#include "SocketWiring.h"

#include "Bridge.h"
#include "QtTelnetSocket.h"
#include "SessionLog.h"

namespace corvantle {

void wireSocketToBridge(QtTelnetSocket &socket, Bridge &bridge, SessionLog &log) {
    socket.setHandlers({
        .connectionRequest = [&bridge](ClientId requestId) { bridge.onClientArrival(requestId); },
        .dataArrival = [&bridge](ClientId client) { bridge.onClientData(client); },
        .peerClosed = [&bridge](ClientId client) { bridge.onClientGone(client); },
        .error =
            [&bridge](ClientId client, int32_t number, const std::string &description) {
                bridge.onClientError(client, number, description);
            },
        .refused =
            [&log](const std::string &address) {
                log.warn("Telnet client from " + address + " refused: not in AllowedClients");
            },
    });
}

} // namespace corvantle
