#include "SerialKissTransport.h"

#include <QSerialPort>
#include <QTimer>

#include <utility>

namespace corvantle::kiss {

SerialKissTransport::SerialKissTransport(std::string device, int baud)
    : device_(std::move(device)), baud_(baud), port_(std::make_unique<QSerialPort>()) {
    QObject::connect(port_.get(), &QSerialPort::readyRead, &context_, [this] { readAll(); });
    QObject::connect(port_.get(), &QSerialPort::errorOccurred, &context_,
                     [this](QSerialPort::SerialPortError error) { onError(error); });
}

bool SerialKissTransport::isOpen() const {
    return port_->isOpen();
}

SerialKissTransport::~SerialKissTransport() {
    handlers_ = {};
    close();
}

// Raw bytes, 8 data bits, no parity, no flow control: KISS is binary and escapes its own framing. The answer
// comes from the event loop, as a TCP connect's does, never from inside open().
void SerialKissTransport::open() {
    close();
    port_->setPortName(QString::fromStdString(device_));
    const bool opened = port_->open(QIODevice::ReadWrite) && port_->setBaudRate(baud_) &&
                        port_->setDataBits(QSerialPort::Data8) && port_->setParity(QSerialPort::NoParity) &&
                        port_->setStopBits(QSerialPort::OneStop) &&
                        port_->setFlowControl(QSerialPort::NoFlowControl);
    const std::string problem = opened ? std::string() : port_->errorString().toStdString();
    if (!opened)
        close();
    const unsigned attempt = opening_; // after the close above, which drops earlier answers
    QTimer::singleShot(0, &context_, [this, attempt, problem] {
        if (attempt != opening_)
            return;
        if (problem.empty() && handlers_.opened)
            handlers_.opened();
        else if (!problem.empty() && handlers_.closed)
            handlers_.closed(problem);
    });
}

void SerialKissTransport::close() {
    ++opening_;
    const QSignalBlocker quiet(port_.get());
    if (port_->isOpen())
        port_->close();
    port_->clearError();
}

void SerialKissTransport::write(std::string_view bytes) {
    if (port_->isOpen())
        port_->write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void SerialKissTransport::readAll() {
    const QByteArray bytes = port_->readAll();
    if (!bytes.isEmpty() && handlers_.received)
        handlers_.received(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// An unplugged adapter, or a pseudo-terminal whose other end closed, shows as a resource or read error;
// a failed write loses the line as well. Reported from the event loop: the writer may be in the middle of a
// request.
void SerialKissTransport::onError(int error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError || !port_->isOpen())
        return;
    const std::string why = port_->errorString().toStdString();
    const unsigned attempt = opening_;
    QTimer::singleShot(0, &context_, [this, attempt, why] {
        if (attempt == opening_)
            fail(why);
    });
}

void SerialKissTransport::fail(const std::string &why) {
    if (!port_->isOpen())
        return;
    readAll(); // what the TNC said before the line went still counts
    close();
    if (handlers_.closed)
        handlers_.closed(why);
}

} // namespace corvantle::kiss
