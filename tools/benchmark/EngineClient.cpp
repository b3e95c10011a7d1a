// EngineClient: one connection to the fake engine, read and written without blocking.
#include "EngineClient.h"

#include <QTcpSocket>

namespace corvantle::bench {
namespace {

// A client this far behind is not going to catch up within a measurement; later frames are dropped for it.
constexpr qint64 kMaxQueuedBytes = 128 * 1024 * 1024;

} // namespace

EngineClient::EngineClient(QTcpSocket *socket) : socket_(socket) {
    // Without this a frame that follows another within the peer's delayed-acknowledgement time (the first
    // data after the link notice) waits up to 40 ms: the engine's delay, not the program's.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // An engine with one radio port, whose links come up at once and whose radio never falls behind.
    answers.setVersion(std::string("\xD5\x07\0\0\x7F\0\0\0", 8));
    answers.answerPortList(std::string("1;Port1 benchmark loopback;") + '\0');
    answers.announceLinks();
    answers.answerOutstanding();
    answers.releaseFramesWhenAsked();
}

EngineClient::~EngineClient() {
    socket_->abort();
    socket_->deleteLater();
}

bool EngineClient::open() const {
    return socket_->state() == QAbstractSocket::ConnectedState;
}

void EngineClient::readAvailable() {
    const QByteArray bytes = socket_->readAll();
    in_.append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::optional<agw::Frame> EngineClient::nextFrame() {
    agw::DecodeResult result = agw::decode(std::string_view(in_).substr(inStart_));
    if (result.status == agw::DecodeStatus::Invalid) {
        socket_->abort();
        in_.clear();
        inStart_ = 0;
        return std::nullopt;
    }
    if (result.status != agw::DecodeStatus::Complete) {
        // Taken frames are dropped once per read, not once per frame: a client sending many small frames
        // would otherwise cost a copy of the whole buffer for each.
        in_.erase(0, inStart_);
        inStart_ = 0;
        return std::nullopt;
    }
    inStart_ += result.consumedBytes;
    return std::move(result.frame);
}

bool EngineClient::queue(std::string_view bytes) {
    if (!open() || socket_->bytesToWrite() > kMaxQueuedBytes)
        return false;
    socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    return true;
}

void EngineClient::flush() {
    if (open())
        socket_->flush();
}

std::size_t EngineClient::pendingBytes() const {
    return open() ? static_cast<std::size_t>(socket_->bytesToWrite()) : 0;
}

} // namespace corvantle::bench
