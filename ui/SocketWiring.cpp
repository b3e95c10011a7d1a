#include "SocketWiring.h"

#include "Bridge.h"
#include "QtTelnetSocket.h"

namespace corvantle {

void wireSocketToBridge(QtTelnetSocket &socket, Bridge &bridge) {
    socket.setHandlers({
        .connectionRequest = [&bridge](ClientId requestId) { bridge.onClientArrival(requestId); },
        .dataArrival = [&bridge](ClientId client) { bridge.onClientData(client); },
        .peerClosed = [&bridge](ClientId client) { bridge.onClientGone(client); },
        .error =
            [&bridge](ClientId client, int32_t number, const std::string &description) {
                bridge.onClientError(client, number, description);
            },
        .refused = [&bridge](const std::string &address) { bridge.onClientRefused(address); },
    });
}

} // namespace corvantle
