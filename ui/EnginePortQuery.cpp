// The port list question on a short-lived connection: connect, 'G', the answer, close.
#include "EnginePortQuery.h"

#include "AgwFrame.h"
#include "SettingsTable.h"

#include <utility>

namespace corvantle {

EnginePortQuery::EnginePortQuery(QObject *parent) : QObject(parent) {
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        finish({{}, "no answer within " + settings::secondsText(static_cast<int32_t>(wait_.count())) + " s"});
    });
    connect(&socket_, &QTcpSocket::connected, this, &EnginePortQuery::onConnected);
    connect(&socket_, &QTcpSocket::readyRead, this, &EnginePortQuery::onReadyRead);
    connect(&socket_, &QAbstractSocket::errorOccurred, this, [this] {
        finish({{}, socket_.errorString().toStdString()});
    });
}

EnginePortQuery::~EnginePortQuery() {
    answer_ = nullptr;
    socket_.abort();
}

void EnginePortQuery::ask(const std::string &host, std::uint16_t port, std::uint8_t radioPort, Answer answer,
                          std::chrono::milliseconds wait) {
    cancel();
    answer_ = std::move(answer);
    radioPort_ = radioPort;
    wait_ = wait;
    // One limit for name lookup, connecting and the answer together: the user waits for all of them.
    limit_.start(wait_);
    socket_.connectToHost(QString::fromStdString(host), port);
}

void EnginePortQuery::cancel() {
    answer_ = nullptr;
    limit_.stop();
    socket_.abort();
    reader_.reset();
}

void EnginePortQuery::onConnected() {
    agw::Frame request;
    request.port = radioPort_;
    request.kind = 'G';
    // LinBPQ drops a connection whose frame arrives in pieces: the frame goes out in one write.
    const std::string bytes = agw::encode(request);
    socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

void EnginePortQuery::onReadyRead() {
    const QByteArray bytes = socket_.readAll();
    reader_.append(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    // Anything else the engine sends first (it should send nothing unasked) is passed over.
    while (const auto frame = reader_.next()) {
        if (frame->kind == 'G') {
            EnginePortList list{agw::radioPortChoices(frame->data), {}};
            if (list.choices.empty())
                list.problem = "the engine's answer names no radio port";
            finish(std::move(list));
            return;
        }
    }
    if (reader_.broken())
        finish({{}, "the answer is not in the AGW format"});
}

void EnginePortQuery::finish(EnginePortList list) {
    if (!answer_)
        return;
    const Answer answer = std::exchange(answer_, nullptr);
    limit_.stop();
    socket_.abort();
    reader_.reset();
    answer(list);
}

} // namespace corvantle
