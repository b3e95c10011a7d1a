#include "ClientKeepalive.h"

#include <QByteArray>
#include <QList>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace corvantle {
namespace {

constexpr const char *kTestTimersVariable = "CORVANTLE_TEST_KEEPALIVE";

bool setOption(qintptr descriptor, int level, int name, int value, const char *label, std::string &error) {
    if (::setsockopt(static_cast<int>(descriptor), level, name, &value, sizeof value) == 0)
        return true;
    error = std::string("cannot set ") + label + ": " + std::strerror(errno);
    return false;
}

} // namespace

KeepaliveTimers clientKeepaliveTimers() {
    KeepaliveTimers timers;
    const QList<QByteArray> fields = qgetenv(kTestTimersVariable).split(',');
    if (fields.size() != 3)
        return timers;
    int values[3] = {};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        values[i] = fields[i].trimmed().toInt(&ok);
        if (!ok || values[i] < 1 || values[i] > 3600)
            return timers;
    }
    return {values[0], values[1], values[2]};
}

bool applyKeepalive(qintptr descriptor, const KeepaliveTimers &timers, std::string &error) {
    return setOption(descriptor, SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE", error) &&
           setOption(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, timers.idleSeconds, "TCP_KEEPIDLE", error) &&
           setOption(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, timers.intervalSeconds, "TCP_KEEPINTVL",
                     error) &&
           setOption(descriptor, IPPROTO_TCP, TCP_KEEPCNT, timers.probes, "TCP_KEEPCNT", error) &&
           setOption(descriptor, IPPROTO_TCP, TCP_USER_TIMEOUT, timers.deadlineSeconds() * 1000,
                     "TCP_USER_TIMEOUT", error);
}

} // namespace corvantle
