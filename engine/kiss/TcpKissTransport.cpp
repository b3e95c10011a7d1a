#include "TcpKissTransport.h"

namespace corvantle::kiss {

TcpKissTransport::TcpKissTransport(std::string host, std::uint16_t port,
                                   std::chrono::milliseconds connectWait)
    : host_(std::move(host)), port_(port), connectWait_(connectWait) {
    connectTimer_.setSingleShot(true);
    QObject::connect(&connectTimer_, &QTimer::timeout, &socket_, [this] {
        fail("no connection within " + std::to_string(connectWait_.count()) + " ms");
    });
    QObject::connect(&socket_, &QTcpSocket::connected, &socket_, [this] {
        connectTimer_.stop();
        opening_ = false;
        open_ = true;
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (handlers_.opened)
            handlers_.opened();
    });
    QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { readAll(); });
    QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_,
                     [this](QAbstractSocket::SocketError) { fail(socket_.errorString().toStdString()); });
    QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_,
                     [this] { fail("the TNC closed the connection"); });
}

TcpKissTransport::~TcpKissTransport() {
    handlers_ = {};
    close();
}

void TcpKissTransport::open() {
    close();
    opening_ = true;
    connectTimer_.start(connectWait_);
    socket_.connectToHost(QString::fromStdString(host_), port_);
}

void TcpKissTransport::close() {
    connectTimer_.stop();
    opening_ = open_ = false;
    const QSignalBlocker quiet(socket_);
    socket_.abort();
}

void TcpKissTransport::write(std::string_view bytes) {
    if (open_)
        socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

// Reports once per open(), however many signals the socket sends about the same end.
void TcpKissTransport::fail(const std::string &why) {
    if (!opening_ && !open_)
        return;
    if (open_)
        readAll(); // what the TNC said before it went away still counts
    close();
    if (handlers_.closed)
        handlers_.closed(why);
}

void TcpKissTransport::readAll() {
    const QByteArray bytes = socket_.readAll();
    if (!bytes.isEmpty() && handlers_.received)
        handlers_.received(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

} // namespace corvantle::kiss
