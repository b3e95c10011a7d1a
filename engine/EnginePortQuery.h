// Asks an AGW packet engine for its list of radio ports, on a connection of its own.
//
// The Preferences dialog uses it to offer the engine's radio ports by name while the AGW engine is chosen (a
// KISS TNC has no such list). It connects to the engine's AGW port (no registration), sends one port list
// request ('G'), reads the answer, and closes again; the program's own engine connection is not involved.
// Everything runs on the event loop, and every step has one time limit: Dire Wolf serves three clients and
// never answers a fourth, although it accepts the connection.
#pragma once

#include "AgwConnection.h"
#include "RadioPorts.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvantle {

struct EnginePortList {
    std::vector<RadioPortChoice> choices; // empty: no list
    std::string problem;                  // why there is no list, for the user; empty when there is one
};

// A QObject, so that a dialog's signals can reach cancel().
class EnginePortQuery final : public QObject {
  public:
    using Answer = std::function<void(const EnginePortList &)>;
    static constexpr std::chrono::milliseconds kDefaultWait{2000};

    explicit EnginePortQuery(QObject *parent = nullptr);
    ~EnginePortQuery() override;

    // Asks the engine at host:port. `answer` is called once, later, from the event loop, with the list or
    // the reason there is none. `radioPort` goes into the request's header: soundmodem ignores requests
    // for a port it has not enabled, so the port in use is the safest one to name. A new ask() abandons
    // the one before without calling its answer.
    void ask(const std::string &host, std::uint16_t port, std::uint8_t radioPort, Answer answer,
             std::chrono::milliseconds wait = kDefaultWait);

    // Abandons the question without an answer.
    void cancel();
    bool asking() const { return static_cast<bool>(answer_); }

  private:
    void onConnected();
    void onFrame(const agw::Frame &frame);
    void finish(EnginePortList list);

    AgwConnection connection_;
    QTimer limit_;
    Answer answer_;
    std::uint8_t radioPort_ = 0;
    std::chrono::milliseconds wait_{kDefaultWait};
};

} // namespace corvantle
