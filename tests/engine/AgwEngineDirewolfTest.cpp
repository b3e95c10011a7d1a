// AgwEngine against a real Dire Wolf with no radio: registration, monitoring of its own transmissions, the
// bounded wait when all client slots are taken, an engine restart, and an engine that hangs without
// closing its connections. Skipped when direwolf is not installed.
#include "AgwEngine.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace corvantle {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

bool onPath(const std::string &program) {
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string dir; std::getline(path, dir, ':');)
        if (::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// A port nobody listens on, in the range Dire Wolf accepts for AGWPORT (1024..49151; it silently takes 8000
// for anything else) and below the range the system hands out for outgoing connections.
std::string freePort() {
    std::mt19937 pick(std::random_device{}());
    for (;;) {
        const auto port = static_cast<uint16_t>(std::uniform_int_distribution<int>(20000, 32000)(pick));
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
        ::close(fd);
        if (free)
            return std::to_string(port);
    }
}

// One Dire Wolf on a free loopback port, reading silence from a FIFO and transmitting into ALSA's null
// device.
class Direwolf final {
  public:
    Direwolf()
        : dir_(fs::temp_directory_path() / ("corvantle-dw-" + std::to_string(::getpid()))),
          port_(freePort()) {
        fs::create_directories(dir_);
        std::ofstream(dir_ / "dw.conf") << "ADEVICE stdin null\nACHANNELS 1\nCHANNEL 0\nMYCALL N0CALL-9\n"
                                        << "MODEM 1200\nAGWPORT " << port_ << "\nKISSPORT 0\n";
        ::mkfifo((dir_ / "in.fifo").c_str(), 0600);
    }
    ~Direwolf() {
        stop();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Starts the engine and waits until its AGW port listens.
    bool start() {
        fs::remove(dir_ / "dw.log"); // a restart must not find the last run's lines
        pid_ = ::fork();
        if (pid_ == 0) {
            // The FIFO is opened read-write so that the open does not block and stdin never ends.
            ::chdir(dir_.c_str());
            const int in = ::open("in.fifo", O_RDWR);
            const int out = ::open("dw.log", O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(out, 2);
            ::execlp("direwolf", "direwolf", "-c", "dw.conf", "-t", "0", "-", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (log().find("Ready to accept AGW client application 0 on port " + port_) != std::string::npos)
                return true;
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    // The engine stops running, its sockets stay open: a hung engine, or a machine that froze.
    void pause() { ::kill(pid_, SIGSTOP); }
    void resume() { ::kill(pid_, SIGCONT); }

    void stop() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGCONT);
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 100 && ::waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(20ms);
        if (::kill(pid_, SIGKILL) == 0)
            ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    std::string port() const { return port_; }
    std::string log() const {
        std::ifstream file(dir_ / "dw.log");
        return {std::istreambuf_iterator<char>(file), {}};
    }

  private:
    fs::path dir_;
    std::string port_;
    pid_t pid_ = -1;
};

// What the bridge would be told.
class RecordingListener final : public EngineListener {
  public:
    void frameArrived(const EngineFrame &frame) override { frames.push_back(frame); }
    void readyForData() override {}
    void radioPortsKnown(const std::vector<int> &ports) override { portLists.push_back(ports); }
    void registrationAnswered(bool registered) override { answers.push_back(registered); }
    void engineClosed() override {}

    // Registers and waits for the answer, as the bridge does.
    bool registered(AgwEngine &engine, const std::string &call) {
        const std::size_t before = answers.size();
        engine.registerCallsign(call, "Corvantle Test");
        return QTest::qWaitFor([&] { return answers.size() > before; }, 10000) && answers.back();
    }

    bool has(FrameKind kind, const std::string &from, const std::string &to = {}) const {
        return count(kind, from, to) > 0;
    }
    std::size_t count(FrameKind kind, const std::string &from, const std::string &to = {}) const {
        return static_cast<std::size_t>(
            std::count_if(frames.begin(), frames.end(), [&](const EngineFrame &f) {
                return f.kind == kind && f.from == from && (to.empty() || f.to == to);
            }));
    }

    std::vector<EngineFrame> frames;
    std::vector<std::vector<int>> portLists;
    std::vector<bool> answers;
};

class AgwEngineDirewolf : public testing::Test {
  protected:
    void SetUp() override {
        if (!onPath("direwolf"))
            GTEST_SKIP()
                << "direwolf is not on PATH: install Dire Wolf (Debian package direwolf) to run these tests";
        ASSERT_TRUE(direwolf.start()) << direwolf.log();
    }

    static AgwTiming timing() {
        AgwTiming t; // the default answer wait: Dire Wolf looks for a new client's first frame once a second
        t.retryInterval = 300ms;
        t.closeGrace = 200ms;
        return t;
    }

    settings::EngineAddress lookup() const {
        return {"127.0.0.1", static_cast<std::uint16_t>(std::stoi(direwolf.port()))};
    }

    // A connect request makes the engine transmit a SABM, which only a monitoring client hears back as 'T'.
    void expectConnectAttemptMonitored(AgwEngine &engine, RecordingListener &listener) {
        listener.frames.clear();
        ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return listener.has(FrameKind::Transmitted, "N0CALL", "GB7DXC"); }, 10000))
            << direwolf.log();
    }

    Direwolf direwolf;
};

TEST_F(AgwEngineDirewolf, RegistersAndTurnsMonitoringOn) {
    AgwEngine engine(lookup(), timing());
    RecordingListener listener;
    engine.setListener(&listener);
    ASSERT_TRUE(listener.registered(engine, "n0call")) << direwolf.log();
    expectConnectAttemptMonitored(engine, listener);
}

TEST_F(AgwEngineDirewolf, GivesUpWhenAllClientSlotsAreTaken) {
    std::vector<int> holders;
    for (int i = 0; i < 3; ++i) {
        holders.push_back(::socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(direwolf.port())));
        ASSERT_EQ(::connect(holders.back(), reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    }
    const auto attached = [&] {
        std::size_t count = 0;
        for (std::size_t at = 0;
             (at = direwolf.log().find("Attached to AGW client", at)) != std::string::npos; ++at)
            ++count;
        return count;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return attached() >= 3; }, 5000)) << direwolf.log();
    AgwEngine engine(lookup(), timing());
    RecordingListener listener;
    engine.setListener(&listener);
    engine.registerCallsign("N0CALL", "Corvantle Test");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listener.answers.empty(); }, 10000));
    EXPECT_EQ(listener.answers, std::vector<bool>{false});
    for (int fd : holders)
        ::close(fd);
}

TEST_F(AgwEngineDirewolf, ReportsTheLinkDownAndRejoinsAfterARestart) {
    AgwEngine engine(lookup(), timing());
    RecordingListener listener;
    engine.setListener(&listener);
    ASSERT_TRUE(listener.registered(engine, "N0CALL")) << direwolf.log();
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");

    direwolf.stop();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listener.has(FrameKind::LinkDown, "GB7DXC"); }, 2000));
    ASSERT_TRUE(direwolf.start()) << direwolf.log();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.isUp(); }, 10000)) << direwolf.log();
    EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
    expectConnectAttemptMonitored(engine, listener);
}

TEST_F(AgwEngineDirewolf, NoticesAHungEngineAndRejoinsWhenItRuns) {
    AgwTiming t = timing();
    t.quietBeforeProbe = 300ms;
    t.probeAnswerWait = 300ms;
    AgwEngine engine(lookup(), t);
    RecordingListener listener;
    engine.setListener(&listener);
    std::string said;
    int probesAnswered = 0;
    engine.setLog([&](const std::string &line) { said += line + "\n"; },
                  [&](const std::string &line) { probesAnswered += line.rfind("AGW< R ", 0) == 0; });
    ASSERT_TRUE(listener.registered(engine, "N0CALL")) << direwolf.log();
    // Quiet for several probe periods: the engine's answers to the probe keep the connection.
    ASSERT_TRUE(QTest::qWaitFor([&] { return probesAnswered >= 4; }, 10000)) << said;
    EXPECT_EQ(said.find("lost"), std::string::npos) << said;
    ASSERT_TRUE(engine.isUp());
    ASSERT_EQ(engine.connect("GB7DXC", {}, 0), "");

    direwolf.pause();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listener.has(FrameKind::LinkDown, "GB7DXC"); }, 5000));
    EXPECT_FALSE(engine.isUp());
    direwolf.resume();
    ASSERT_TRUE(QTest::qWaitFor([&] { return engine.isUp(); }, 10000)) << direwolf.log();
    EXPECT_EQ(listener.count(FrameKind::LinkDown, "GB7DXC"), 1u);
    expectConnectAttemptMonitored(engine, listener);
}

// Dire Wolf would take a connect on its channel 1, which this configuration does not have, to channel 0.
TEST_F(AgwEngineDirewolf, ListsItsOneRadioChannelAndConnectsKeepToIt) {
    AgwEngine engine(lookup(), timing());
    RecordingListener listener;
    engine.setListener(&listener);
    ASSERT_TRUE(listener.registered(engine, "N0CALL")) << direwolf.log();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listener.portLists.empty(); }, 5000)) << direwolf.log();
    EXPECT_EQ(listener.portLists, std::vector<std::vector<int>>{{0}});
    EXPECT_EQ(engine.connect("GB7DXC", {}, 1),
              "radio port 1 is not one of the packet engine's radio ports (0)");
    expectConnectAttemptMonitored(engine, listener);
}

} // namespace
} // namespace corvantle

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv); // the engine's sockets and timers need an event loop
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
