// corvantle-benchmark: how fast the engine library and the frame pump handle received frames.
//
// An in-process engine on loopback answers the registration and then sends a burst of connected-data
// frames. The benchmark times (1) the engine library alone, draining the burst through AGWGetData, and
// (2) the bridge's frame pump, one Timer1_Timer tick per frame, forwarding each to a telnet socket that
// only counts bytes. Run: build/tools/benchmark/corvantle-benchmark [frames]
#include "AgwEngine.h"
#include "AgwFrame.h"
#include "Bridge.h"
#include "SettingsStore.h"
#include "TelnetSocket.h"
#include "WindowOps.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace corvantle;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kSpot = "DX de K1ABC:     14025.0  JA1XYZ       CW 599                         1234Z\r";

// Listens on a loopback port; for each client, answers 'X' and sends `frames` connected-data frames.
class BurstEngine {
public:
    explicit BurstEngine(int frames) : frames_(frames) {
        listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
        listen(listenFd_, 4);
        socklen_t length = sizeof address;
        getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~BurstEngine() {
        shutdown(listenFd_, SHUT_RDWR);
        close(listenFd_);
        thread_.join();
    }
    int port() const { return port_; }

private:
    void serve() {
        for (int client; (client = accept(listenFd_, nullptr, nullptr)) >= 0;) {
            char header[agw::kHeaderBytes];
            if (recv(client, header, sizeof header, MSG_WAITALL) == static_cast<ssize_t>(sizeof header)) {
                std::string burst = agw::encode({0, 'X', 0, "N0CALL", "", std::string(1, '\1')});
                for (int i = 0; i < frames_; ++i)
                    burst += agw::encode({0, 'D', 0xF0, "GB7DXC", "N0CALL", kSpot});
                for (std::size_t sent = 0; sent < burst.size();) {
                    const ssize_t n = send(client, burst.data() + sent, burst.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += static_cast<std::size_t>(n);
                }
            }
            char drain[4096];
            while (recv(client, drain, sizeof drain, 0) > 0) {
            }
            close(client);
        }
    }

    int frames_;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
};

class NullWindow final : public WindowOps {
public:
    void setStatusText(const std::string &) override {}
    void setCounterText(const std::string &) override {}
    int windowState() const override { return kWindowNormal; }
    void setWindowState(int) override {}
    void setTimerInterval(TimerId, int32_t) override {}
    void setTimerEnabled(TimerId, bool) override {}
    void messageBox(const std::string &prompt) override { std::fprintf(stderr, "%s\n", prompt.c_str()); }
    void endProgram(int) override {}
};

class CountingSocket final : public TelnetSocket {
public:
    std::size_t bytesSent = 0;
    SocketState state() const override { return state_; }
    int32_t localPort() const override { return 4444; }
    void setLocalPort(int32_t) override {}
    bool listen(std::string &) override {
        state_ = SocketState::Connected; // as if a client were already there
        return true;
    }
    void accept(int32_t) override {}
    bool send(const std::string &bytes) override {
        bytesSent += bytes.size();
        return true;
    }
    std::string readAll() override { return {}; }
    void close() override { state_ = SocketState::Closed; }

private:
    SocketState state_ = SocketState::Closed;
};

class EngineAtPort final : public SettingsStore {
public:
    explicit EngineAtPort(int port) : port_(std::to_string(port)) {}
    std::string readSetting(const std::string &, const std::string &section, const std::string &key,
                            const std::string &defaultText) const override {
        if (section == "Engine" && key == "Port")
            return port_;
        if (key == "MyCallsign")
            return "N0CALL";
        if (key == "Cluster")
            return "GB7DXC";
        return defaultText;
    }
    bool writeSetting(const std::string &, const std::string &, const std::string &, const std::string &,
                      std::string &) override {
        return true;
    }
    std::string location() const override { return "memory"; }

private:
    std::string port_;
};

AgwEngine engineFor(const SettingsStore &store) {
    return AgwEngine([&store](const std::string &app, const std::string &section, const std::string &key,
                              const std::string &defaultText) {
        return store.readSetting(app, section, key, defaultText);
    });
}

void report(const char *what, int frames, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::printf("%-44s %8d frames  %8.3f s  %10.0f frames/s  %7.2f us/frame\n", what, frames, seconds,
                frames / seconds, seconds * 1e6 / frames);
}

} // namespace

int main(int argc, char **argv) {
    const int frames = argc > 1 ? std::atoi(argv[1]) : 100000;
    BurstEngine burst(frames);
    EngineAtPort store(burst.port());

    {
        AgwEngine engine = engineFor(store);
        if (engine.AGWStartPoll("N0CALL", kProgramName) == 0)
            return 1;
        std::string header(kHeaderFieldChars, '\0'), buffer(kReceiveBufferChars, '\0');
        int32_t kind = 0, length = 0, port = 0;
        const auto start = Clock::now();
        for (int got = 0; got < frames;)
            got += engine.AGWGetData(header, buffer, kind, length, port) != 0 && kind == 'D';
        report("engine library: AGWGetData", frames, Clock::now() - start);
    }
    {
        AgwEngine engine = engineFor(store);
        NullWindow window;
        CountingSocket socket;
        EngineAtPort bridgeStore(burst.port());
        Bridge bridge(window, socket, engine, bridgeStore);
        if (!bridge.Form_Load())
            return 1;
        // Wait for the burst to be in the engine's socket, so the pump's cost is measured, not the network.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto start = Clock::now();
        for (int tick = 0; tick < frames; ++tick)
            bridge.Timer1_Timer();
        const auto elapsed = Clock::now() - start;
        report("frame pump: Timer1_Timer, frame forwarded", frames, elapsed);
        std::printf("%-44s %zu bytes to the client, %lld bytes counted\n", "", socket.bytesSent,
                    static_cast<long long>(bridge.state().TransferredBytes));
        bridge.Form_Unload();
    }
    return 0;
}
