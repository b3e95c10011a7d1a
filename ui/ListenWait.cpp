#include "ListenWait.h"

#include "StandardErrorLog.h"

#include <QHostAddress>
#include <QTcpServer>

namespace corvantle {

ListenWait::ListenWait(ListenPolicy policy, int port, StandardErrorLog &log, std::function<void()> ready)
    : policy_(std::move(policy)), port_(port), log_(log), ready_(std::move(ready)) {
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &ListenWait::attempt);
}

void ListenWait::start() {
    attempt();
}

void ListenWait::cancel() {
    retry_.stop();
    ready_ = nullptr;
}

// A trial listen, closed at once: the program's own listener binds the same address and port moments later.
void ListenWait::attempt() {
    if (!ready_)
        return;
    QTcpServer trial;
    const QHostAddress address = policy_.address
                                     ? QHostAddress(QString::fromStdString(policy_.address->text()))
                                     : QHostAddress(QHostAddress::Any);
    const bool mayPass = policy_.problem({}).empty() && port_ > 0 && port_ <= 65535 &&
                         !trial.listen(address, static_cast<quint16>(port_)) &&
                         (trial.serverError() == QAbstractSocket::AddressInUseError ||
                          trial.serverError() == QAbstractSocket::SocketAddressNotAvailableError);
    if (mayPass) {
        if (!std::exchange(said_, true))
            log_.warn("Can't listen on local TCP port " + std::to_string(port_) + " on " +
                      policy_.addressText() + " yet: " + trial.errorString().toStdString() +
                      "; trying again every " + std::to_string(kRetryMs / 1000) + " s");
        retry_.start();
        return;
    }
    trial.close();
    retry_.stop();
    if (said_)
        log_.note("Local TCP port " + std::to_string(port_) + " on " + policy_.addressText() +
                  " is free now");
    std::exchange(ready_, nullptr)();
}

} // namespace corvantle
