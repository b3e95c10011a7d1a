// Recording fakes of the window, the telnet socket, the packet engine and the settings store.
//
// Every call that changes something is appended to one shared journal, so a test can check the order of
// calls across all four, e.g. "engine.disconnect GB7DXC" after "socket.close 1".
#pragma once

#include "PacketEngine.h"
#include "SessionLog.h"
#include "SettingsStore.h"
#include "TelnetSocket.h"
#include "WindowOps.h"

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace corvantle::test {

using Journal = std::vector<std::string>;

class FakeWindow final : public WindowOps {
  public:
    explicit FakeWindow(Journal &journal) : journal_(journal) {}

    std::string statusText = "Status: Disconnected";
    std::string counterText = "Transferred Bytes:";
    int state = kWindowNormal;
    std::map<TimerId, int32_t> intervalMs{{TimerId::Tick, 500}, {TimerId::AutoMinimize, 0}};
    std::map<TimerId, bool> enabled{{TimerId::Tick, true}, {TimerId::AutoMinimize, true}};
    // How often a timer's countdown was (re)started: by a new interval or by going from off to on.
    std::map<TimerId, int> countdownStarts;
    std::vector<std::string> messages;
    int exitCode = -1;

    void setStatusText(const std::string &text) override { statusText = text; }
    void setCounterText(const std::string &text) override { counterText = text; }
    int windowState() const override { return state; }
    void setWindowState(int newState) override {
        state = newState;
        journal_.push_back("window.state " + std::to_string(newState));
    }
    void setTimerInterval(TimerId timer, int32_t ms) override {
        intervalMs[timer] = ms;
        ++countdownStarts[timer];
        journal_.push_back(name(timer) + ".interval " + std::to_string(ms));
    }
    void setTimerEnabled(TimerId timer, bool on) override {
        if (on && !enabled[timer])
            ++countdownStarts[timer];
        enabled[timer] = on;
        journal_.push_back(name(timer) + (on ? ".enable" : ".disable"));
    }
    // Runs while a message box is "open", as the event loop of a real one would run ticks.
    std::function<void()> onMessageBox;

    void messageBox(const std::string &prompt) override {
        messages.push_back(prompt);
        journal_.push_back("window.messageBox " + prompt);
        if (onMessageBox)
            onMessageBox();
    }
    void endProgram(int code) override {
        exitCode = code;
        journal_.push_back("window.endProgram");
    }

  private:
    static std::string name(TimerId timer) { return timer == TimerId::Tick ? "Tick" : "AutoMinimize"; }

    Journal &journal_;
};

// One telnet client of the fake socket: what it was sent and what it sends.
struct FakeClient {
    bool open = true;
    std::string sent;                // everything sent to the client, concatenated
    std::vector<std::string> writes; // the same, one entry per send
    std::string incoming;            // what the client has sent and the bridge has not read yet
    std::size_t unsent = 0;          // what the client has not taken yet
    bool failSends = false;
};

class FakeSocket final : public TelnetSocket {
  public:
    explicit FakeSocket(Journal &journal) : journal_(journal) {}

    bool listening = false;
    int32_t port = 4444;
    std::string listenError; // non-empty: listen fails with this reason
    // Every client ever accepted, by id; a closed one stays with `open` false.
    std::map<ClientId, FakeClient> clients;
    std::vector<ClientId> refused;
    std::map<ClientId, std::string> addresses; // where each connection comes from; unknown when absent

    // The client `id` (created empty when it has never been accepted, for a test to prepare).
    FakeClient &client(ClientId id = 1) { return clients[id]; }
    bool connected(ClientId id = 1) const {
        const auto found = clients.find(id);
        return found != clients.end() && found->second.open;
    }

    int32_t localPort() const override { return port; }
    void setLocalPort(int32_t newPort) override { port = newPort; }
    bool isListening() const override { return listening; }
    bool listen(std::string &error) override {
        journal_.push_back("socket.listen " + std::to_string(port));
        if (!listenError.empty()) {
            error = listenError;
            return false;
        }
        listening = true;
        return true;
    }
    void stopListening() override {
        listening = false;
        journal_.push_back("socket.stopListening");
    }
    std::string peerAddress(ClientId id) const override {
        const auto found = addresses.find(id);
        return found == addresses.end() ? std::string() : found->second;
    }
    void accept(ClientId requestId) override {
        FakeClient &accepted = clients[requestId];
        accepted.open = true;
        journal_.push_back("socket.accept " + std::to_string(requestId));
    }
    void refuse(ClientId requestId) override {
        refused.push_back(requestId);
        journal_.push_back("socket.refuse " + std::to_string(requestId));
    }
    // Called from inside a failing send, as Qt may report a connection's end while writing to it.
    std::function<void(ClientId)> onFailedSend;

    bool send(ClientId id, const std::string &bytes) override {
        if (!connected(id))
            return false;
        if (clients[id].failSends) {
            if (onFailedSend)
                onFailedSend(id);
            return false;
        }
        FakeClient &to = clients[id];
        to.sent += bytes;
        to.writes.push_back(bytes);
        to.unsent += bytes.size(); // until a test says the client read it
        journal_.push_back("socket.send " + std::to_string(id));
        return true;
    }
    std::size_t unsentBytes(ClientId id) const override { return connected(id) ? clients.at(id).unsent : 0; }
    std::size_t bytesAvailable(ClientId id) const override {
        return connected(id) ? clients.at(id).incoming.size() : 0;
    }
    std::string read(ClientId id, std::size_t maxBytes) override {
        if (!connected(id))
            return {};
        std::string &incoming = clients[id].incoming;
        std::string taken = incoming.substr(0, maxBytes);
        incoming.erase(0, taken.size());
        return taken;
    }
    void close(ClientId id) override {
        clients[id].open = false;
        journal_.push_back("socket.close " + std::to_string(id));
    }

  private:
    Journal &journal_;
};

// One request the bridge made of the engine.
struct EngineRequest {
    std::string kind; // "connect", "data", "disconnect"
    std::string station;
    std::string data;
    int radioPort = 0;
    std::vector<std::string> digipeaters;
    bool operator==(const EngineRequest &) const = default;
};

inline EngineRequest disconnectRequest(const std::string &station, int radioPort = 0) {
    return {"disconnect", station, "", radioPort, {}};
}

inline EngineRequest connectRequest(const std::string &station, int radioPort = 0,
                                    std::vector<std::string> digipeaters = {}) {
    return {"connect", station, "", radioPort, std::move(digipeaters)};
}

class FakeEngine final : public PacketEngine {
  public:
    explicit FakeEngine(Journal &journal) : journal_(journal) {}

    bool registrationResult = true;
    std::string connectRefusal; // non-empty: connect() refuses with this reason
    bool roomForData = true;
    EngineListener *listener = nullptr;
    std::vector<EngineRequest> requests;
    std::string registeredCall;
    std::string registeredName;

    void setListener(EngineListener *newListener) override { listener = newListener; }
    // Answers at once, with registrationResult, so the bridge's start-up ends within start(); with
    // answerLater, only when the test calls answerRegistration(), as a real engine answers from the event
    // loop.
    void registerCallsign(const std::string &callsign, const std::string &programName) override {
        registeredCall = callsign;
        registeredName = programName;
        journal_.push_back("engine.register");
        if (!answerLater)
            answerRegistration();
    }
    bool answerLater = false;
    void answerRegistration() {
        if (listener != nullptr)
            listener->registrationAnswered(registrationResult);
    }
    std::string connect(const std::string &station, const std::vector<std::string> &digipeaters,
                        int radioPort) override {
        requests.push_back({"connect", station, "", radioPort, digipeaters});
        journal_.push_back("engine.connect " + station);
        if (!engineConnected && connectRefusal.empty())
            return "the packet engine is not connected";
        return connectRefusal;
    }
    // false: the engine is away (lost after the registration): sendData takes nothing, connect is refused.
    bool engineConnected = true;
    bool reachable() const override { return engineConnected; }
    // The words of an AGW engine unless a test gives others.
    std::string failureText = "Can't connect to AGW Packet Engine";
    std::string registrationFailure() const override { return failureText; }
    // The engine comes back and registers again, as a real one tells the bridge.
    void comeBack() {
        engineConnected = true;
        if (listener != nullptr)
            listener->engineBack();
    }
    bool sendData(const std::string &station, const std::string &data, int radioPort) override {
        if (!engineConnected)
            return false;
        requests.push_back({"data", station, data, radioPort, {}});
        journal_.push_back("engine.data " + station);
        return true;
    }
    bool canTakeData() const override { return roomForData; }
    void disconnect(const std::string &station, int radioPort) override {
        requests.push_back({"disconnect", station, "", radioPort, {}});
        journal_.push_back("engine.disconnect " + station);
    }
    // Closed at once.
    void close() override {
        journal_.push_back("engine.close");
        if (listener != nullptr)
            listener->engineClosed();
    }

    // The data requests' texts, in order.
    std::vector<std::string> dataSent() const {
        std::vector<std::string> texts;
        for (const EngineRequest &request : requests)
            if (request.kind == "data")
                texts.push_back(request.data);
        return texts;
    }

  private:
    Journal &journal_;
};

class MemoryStore final : public SettingsStore {
  public:
    explicit MemoryStore(Journal &journal) : journal_(journal) {}

    std::map<std::tuple<std::string, std::string, std::string>, std::string> values;
    std::string failWith; // non-empty: every write fails with this reason

    std::string readSetting(const std::string &app, const std::string &section, const std::string &key,
                            const std::string &defaultText) const override {
        const auto found = values.find({app, section, key});
        return found == values.end() ? defaultText : found->second;
    }
    bool writeSetting(const std::string &app, const std::string &section, const std::string &key,
                      const std::string &text, std::string &error) override {
        journal_.push_back("store.write " + key + "=" + text);
        if (!failWith.empty()) {
            error = failWith;
            return false;
        }
        values[{app, section, key}] = text;
        return true;
    }
    std::string location() const override { return "/fake/settings.ini"; }
    std::string formatProblemMessage() const override { return problemMessage; }
    std::string problemMessage; // non-empty: the store could not be read in full

  private:
    Journal &journal_;
};

// The session log, line by line; warnings marked as such.
struct RecordingLog final : SessionLog {
    std::vector<std::string> lines;
    void note(const std::string &line) override { lines.push_back(line); }
    void warn(const std::string &line) override { lines.push_back("warning: " + line); }
};

} // namespace corvantle::test
