// AgwEngine: the bridge's four packet-engine calls spoken over the AGW Packet Engine TCP API.
//
// It talks to a software packet engine (Dire Wolf and others) on a TCP port, registers the user's callsign,
// turns the bridge's requests into AGW frames and the engine's frames into the texts the bridge reads. It
// hides what the bridge must never see twice: monitored copies of the user's own links. When the engine
// goes away it reports the links as down and reconnects on its own. POSIX sockets only, no Qt.
#pragma once

#include "AgwFrame.h"
#include "PacketEngine.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace corvantle {

// Reads one persisted setting: the stored text, or `defaultText` when there is none.
using SettingLookup = std::function<std::string(const std::string &appName, const std::string &section,
                                                const std::string &key, const std::string &defaultText)>;

// Every wait the engine link makes; tests shorten them.
struct AgwTiming {
    std::chrono::milliseconds connectWait{2000};     // TCP connect at registration
    std::chrono::milliseconds answerWait{3000};      // the engine's answer to a registration
    std::chrono::milliseconds retryInterval{5000};   // between reconnect attempts after a lost connection
    std::chrono::milliseconds retryConnectWait{300}; // TCP connect when reconnecting (runs on the UI thread)
    std::chrono::milliseconds closeGrace{1000};      // for the links to go down before closing
};

class AgwEngine final : public PacketEngine {
  public:
    explicit AgwEngine(SettingLookup lookup, AgwTiming timing = {});
    ~AgwEngine() override;
    AgwEngine(const AgwEngine &) = delete;
    AgwEngine &operator=(const AgwEngine &) = delete;

    int16_t AGWStartPoll(const std::string &callsign, const std::string &programName) override;
    int16_t AGWGetData(std::string &headerField, std::string &receiveBuffer, int32_t &kindCode,
                       int32_t &length, int32_t &radioPort) override;
    int16_t AGWPutData(const std::string &callsignField, const std::string &data, int16_t kindCode,
                       int32_t dataLength, int16_t radioPort) override;
    void AGWClose() override;

  private:
    enum class State { Closed, Up, Lost, Rejoining };

    // One frame ready for AGWGetData.
    struct Delivery {
        char kind = 0;
        std::uint8_t port = 0;
        std::string from;
        std::string text;
    };

    // A link the engine holds (or is opening) for the registered callsign.
    struct OwnLink {
        std::string shownCall;
        std::uint8_t port = 0;
        bool disconnectRequested = false;
    };

    void readEngineAddress(const std::string &programName);
    bool openSocket(std::chrono::milliseconds wait);
    bool awaitRegistration();
    void closeSocket();
    void loseConnection(const std::string &why);
    void maintainConnection();
    void finishRejoin();

    bool sendFrame(const agw::Frame &frame);
    agw::Frame request(char kind, const std::string &remote, std::uint8_t port) const;
    int16_t connect(const std::string &callsignField, bool viaDigis, std::uint8_t port);
    int16_t sendData(const std::string &remote, const std::string &data, std::uint8_t port);
    int16_t disconnect(const std::string &remote, std::uint8_t port);
    void reportLinkDown(const std::string &key);

    void readAvailable();
    bool decodeBuffered();
    void handleFrame(agw::Frame frame);
    void trackLinkNotice(const agw::Frame &frame);
    bool isOwnLinkTraffic(const agw::Frame &frame) const;
    std::string remoteOf(const agw::Frame &frame) const;

    SettingLookup lookup_;
    AgwTiming timing_;
    std::string host_;
    std::string port_;
    std::string ownCall_;      // as registered: upper case, no "-0"
    // Exactly as the bridge gave it: the bridge finds its own frames by "To " followed by this text.
    std::string ownCallShown_;
    int fd_ = -1;
    State state_ = State::Closed;
    std::string inBytes_;
    std::deque<Delivery> deliveries_;
    std::map<std::string, OwnLink> ownLinks_; // keyed by the remote call, upper case, no "-0"
    bool awaitingAnswer_ = false;
    std::optional<bool> registrationAnswer_;
    std::chrono::steady_clock::time_point nextAttempt_{};
    std::chrono::steady_clock::time_point answerDeadline_{};
};

} // namespace corvantle
