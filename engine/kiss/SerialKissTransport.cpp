#include "SerialKissTransport.h"

#include <QTimer>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace corvantle::kiss {
namespace {

speed_t speedOf(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B9600;
    }
}

std::string errorText() {
    return std::strerror(errno);
}

} // namespace

SerialKissTransport::SerialKissTransport(std::string device, int baud)
    : device_(std::move(device)), baud_(baud) {}

SerialKissTransport::~SerialKissTransport() {
    handlers_ = {};
    close();
}

// The answer comes from the event loop, as a TCP connect's does, never from inside open().
void SerialKissTransport::open() {
    close();
    const unsigned attempt = ++opening_;
    fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const std::string problem = fd_ < 0 ? errorText() : configure();
    if (!problem.empty() && fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (fd_ >= 0) {
        readNotifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(readNotifier_.get(), &QSocketNotifier::activated, &context_,
                         [this] { readAvailable(); });
        writeNotifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Write);
        writeNotifier_->setEnabled(false);
        QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, &context_,
                         [this] { writePending(); });
    }
    QTimer::singleShot(0, &context_, [this, attempt, problem] {
        if (attempt != opening_)
            return;
        if (problem.empty() && fd_ >= 0 && handlers_.opened)
            handlers_.opened();
        else if (!problem.empty() && handlers_.closed)
            handlers_.closed(problem);
    });
}

// Raw bytes, 8 data bits, no parity, no flow control: KISS is binary and escapes its own framing.
std::string SerialKissTransport::configure() {
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0)
        return errorText();
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    ::cfsetispeed(&settings, speedOf(baud_));
    ::cfsetospeed(&settings, speedOf(baud_));
    if (::tcsetattr(fd_, TCSANOW, &settings) != 0)
        return errorText();
    return {};
}

void SerialKissTransport::close() {
    ++opening_;
    readNotifier_.reset();
    writeNotifier_.reset();
    pending_.clear();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void SerialKissTransport::write(std::string_view bytes) {
    if (fd_ < 0)
        return;
    pending_.append(bytes);
    writePending();
}

void SerialKissTransport::writePending() {
    while (fd_ >= 0 && !pending_.empty()) {
        const ssize_t written = ::write(fd_, pending_.data(), pending_.size());
        if (written > 0) {
            pending_.erase(0, static_cast<std::size_t>(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // Reported from the event loop: the writer is in the middle of a request.
            const std::string why = errorText();
            const unsigned attempt = opening_;
            QTimer::singleShot(0, &context_, [this, attempt, why] {
                if (attempt == opening_)
                    fail(why);
            });
            if (writeNotifier_)
                writeNotifier_->setEnabled(false);
            return;
        } else {
            break; // the line is full: go on when it has room
        }
    }
    if (writeNotifier_)
        writeNotifier_->setEnabled(!pending_.empty());
}

// A pseudo-terminal whose other end closed reads as end of file or EIO; a serial adapter unplugged, as EIO.
void SerialKissTransport::readAvailable() {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got > 0) {
            if (handlers_.received)
                handlers_.received(std::string_view(buffer, static_cast<std::size_t>(got)));
            if (fd_ < 0)
                return;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        return fail(got == 0 ? "the line was closed" : errorText());
    }
}

void SerialKissTransport::fail(const std::string &why) {
    if (fd_ < 0)
        return;
    close();
    if (handlers_.closed)
        handlers_.closed(why);
}

} // namespace corvantle::kiss
