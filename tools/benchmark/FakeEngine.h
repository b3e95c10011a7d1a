// FakeEngine: a packet engine without a radio, serving the AGW Packet Engine TCP API on a loopback port.
//
// It answers what the program under test asks at start and per session ('X' register, 'm' monitoring,
// 'C'/'v' connect, 'd' disconnect, 'Y'/'y' frames outstanding, 'R' version, 'G' ports), plays the
// cluster's traffic to the two readers (the client registered as the program's callsign and the one
// registered as the direct reader's), and counts the marked lines that arrive in their 'D' frames.
//
// It runs on a Qt event loop. The benchmark driver steers it with one-line commands on standard input, each
// answered with one line:
//   steady PHASE RATE BYTES SECONDS   burst PHASE FRAMES BYTES   mix PHASE INTERVAL_US BYTES SECONDS
//   uplink PHASE LINES                status                       quit
#pragma once

#include "EngineClient.h"
#include "Traffic.h"

#include <QTcpServer>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvantle::bench {

class FakeEngine final : public TrafficSink {
  public:
    FakeEngine();
    ~FakeEngine() override;
    FakeEngine(const FakeEngine &) = delete;
    FakeEngine &operator=(const FakeEngine &) = delete;

    bool listen(std::string &error);
    int port() const { return server_.serverPort(); }
    // The answer to one command line; called on the engine's thread.
    std::string answer(std::string_view command);
    bool quitAsked() const { return quit_; }
    // Where the engine's work runs, for calls from other threads.
    QObject *context() { return &server_; }

    void toReaders(std::string_view frameBytes) override;
    void toMonitors(std::string_view frameBytes) override;
    void toRole(Role role, std::string_view frameBytes) override;
    bool holds(Role role) const override { return clientIn(role) != nullptr; }
    std::size_t pendingBytes(Role role) const override;

  private:
    // Marked lines received from one role during the current uplink measurement.
    struct UplinkCount {
        std::vector<char> seen;
        std::int64_t lines = 0;
        std::int64_t lastNs = 0;
    };

    void acceptClients();
    // Hands out the traffic that is due, writes what is queued, and sets the timer for what comes next.
    void pump();
    int nextPumpMs() const;
    void serveClient(EngineClient &client);
    void handleFrame(EngineClient &client, const agw::Frame &frame);
    void registerClient(EngineClient &client, const agw::Frame &frame);
    void countUplink(EngineClient &client, const std::string &data);
    std::string status() const;
    void deliver(EngineClient &client, std::string_view frameBytes);
    EngineClient *clientIn(Role role) const;
    UplinkCount &uplinkOf(Role role) { return role == Role::Program ? programUplink_ : directUplink_; }

    QTcpServer server_;
    QTimer pumpTimer_;
    bool quit_ = false;
    bool pumping_ = false;
    std::vector<std::unique_ptr<EngineClient>> clients_;
    std::string commandBytes_;
    std::unique_ptr<Traffic> traffic_;
    std::int64_t droppedForProgram_ = 0;
    std::int64_t droppedForDirect_ = 0;
    int uplinkPhase_ = -1;
    UplinkCount programUplink_;
    UplinkCount directUplink_;
};

} // namespace corvantle::bench
