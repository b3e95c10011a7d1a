// Connection: the connection's thread with its QTcpSocket, and the driver's bounded waits on it.
#include "Connection.h"

#include "MonotonicClock.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <thread>

namespace corvantle::bench {
namespace {

constexpr int kRetryIntervalMs = 2;
constexpr qint64 kReadChunkBytes = 256 * 1024;
constexpr auto kDriverStep = std::chrono::milliseconds(1);

} // namespace

Connection::~Connection() {
    stop_ = true;
    if (socket_) {
        QMetaObject::invokeMethod(socket_, [socket = socket_] {
            delete socket;
            QThread::currentThread()->quit();
        });
    }
    thread_.wait();
}

bool Connection::open(int port, std::int64_t deadlineNs, const std::function<bool()> &worthWaiting) {
    socket_ = new QTcpSocket;
    socket_->moveToThread(&thread_);
    QObject::connect(socket_, &QTcpSocket::readyRead, socket_, [this] { readAll(); });
    QObject::connect(socket_, &QTcpSocket::connected, socket_, [this] { onConnected(); });
    QObject::connect(socket_, &QTcpSocket::bytesWritten, socket_,
                     [this] { unsent_ = socket_->bytesToWrite(); });
    QObject::connect(socket_, &QTcpSocket::errorOccurred, socket_, [this, port, deadlineNs] {
        if (state_ == State::Connecting)
            QTimer::singleShot(kRetryIntervalMs, socket_,
                               [this, port, deadlineNs] { tryConnect(port, deadlineNs); });
    });
    QObject::connect(socket_, &QTcpSocket::disconnected, socket_, [this] {
        if (state_ == State::Open)
            state_ = State::Closed;
    });
    thread_.start();
    QMetaObject::invokeMethod(socket_, [this, port, deadlineNs] { tryConnect(port, deadlineNs); });
    while (state_ == State::Connecting) {
        if (!worthWaiting() || monotonicNs() >= deadlineNs) {
            stop_ = true;
            break;
        }
        std::this_thread::sleep_for(kDriverStep);
    }
    return !stop_ && (state_ == State::Open || state_ == State::Closed);
}

bool Connection::write(std::string_view bytes, std::int64_t deadlineNs) {
    ++writesWaiting_;
    QMetaObject::invokeMethod(socket_,
                              [this, data = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))] {
                                  socket_->write(data);
                                  unsent_ = socket_->bytesToWrite();
                                  --writesWaiting_;
                              });
    const auto sent = [this] { return writesWaiting_ == 0 && unsent_ == 0; };
    while (!sent() && state_ == State::Open && monotonicNs() < deadlineNs)
        std::this_thread::sleep_for(kDriverStep);
    return sent();
}

void Connection::tryConnect(int port, std::int64_t deadlineNs) {
    if (stop_ || monotonicNs() >= deadlineNs) {
        state_ = State::Failed;
        return;
    }
    socket_->abort();
    socket_->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
}

void Connection::onConnected() {
    connectedNs_ = monotonicNs();
    // Without this a frame that follows another within the peer's delayed-acknowledgement time waits up to
    // 40 ms: the benchmark's delay, not the program's.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    state_ = State::Open;
}

void Connection::readAll() {
    const std::int64_t readNs = monotonicNs();
    // One buffer for every read: a fresh array for each would cost an allocation per chunk.
    readBuffer_.resize(kReadChunkBytes);
    for (qint64 got; (got = socket_->read(readBuffer_.data(), kReadChunkBytes)) > 0;)
        onBytes_(std::string_view(readBuffer_.data(), static_cast<std::size_t>(got)), readNs);
}

} // namespace corvantle::bench
