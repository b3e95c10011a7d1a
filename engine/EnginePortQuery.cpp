// The port list question on a short-lived connection: connect, 'G', the answer, close.
#include "EnginePortQuery.h"

#include "AgwFrame.h"
#include "AgwPortList.h"
#include "SettingsTable.h"

#include <utility>

namespace corvantle {

EnginePortQuery::EnginePortQuery(QObject *parent)
    : QObject(parent),
      connection_({.connectWait = std::chrono::hours(24)}, {},
                  {.up = [this] { onConnected(); },
                   .failed =
                       [this](const std::string &why) {
                           finish({{}, why});
                       },
                   .lost =
                       [this](const std::string &why) {
                           finish({{},
                                   why == AgwConnection::kBrokenStream ? "the answer is not in the AGW format"
                                                                       : why});
                       },
                   .frame = [this](agw::Frame frame) { onFrame(frame); },
                   .bytesWritten = {}}) {
    // Only the query's own limit ends a wait.
    // Whatever goes wrong is the answer; nothing of it belongs on standard error.
    connection_.setLog([](const std::string &) {}, {});
    limit_.setSingleShot(true);
    connect(&limit_, &QTimer::timeout, this, [this] {
        finish({{}, "no answer within " + settings::secondsText(static_cast<int32_t>(wait_.count())) + " s"});
    });
}

EnginePortQuery::~EnginePortQuery() {
    answer_ = nullptr;
    connection_.close();
}

void EnginePortQuery::ask(const std::string &host, std::uint16_t port, std::uint8_t radioPort, Answer answer,
                          std::chrono::milliseconds wait) {
    cancel();
    answer_ = std::move(answer);
    radioPort_ = radioPort;
    wait_ = wait;
    // One limit for name lookup, connecting and the answer together: the user waits for all of them.
    limit_.start(wait_);
    connection_.open(host, port, {});
}

void EnginePortQuery::cancel() {
    answer_ = nullptr;
    limit_.stop();
    connection_.close();
}

void EnginePortQuery::onConnected() {
    agw::Frame request;
    request.port = radioPort_;
    request.kind = 'G';
    connection_.send(request);
}

// Anything else the engine sends first (it should send nothing unasked) is passed over.
void EnginePortQuery::onFrame(const agw::Frame &frame) {
    if (frame.kind != 'G')
        return;
    EnginePortList list{agw::radioPortChoices(frame.data), {}};
    if (list.choices.empty())
        list.problem = "the engine's answer names no radio port";
    finish(std::move(list));
}

void EnginePortQuery::finish(EnginePortList list) {
    if (!answer_)
        return;
    const Answer answer = std::exchange(answer_, nullptr);
    limit_.stop();
    connection_.close();
    answer(list);
}

} // namespace corvantle
