// A fake AGW packet engine for the engine library's tests.
//
// It listens on 127.0.0.1 on a port the system picks, answers as FakeAgwAnswers decides (registrations as
// told, version requests as every engine does, 'Y' and the port list only once the test asks for them),
// records every frame a client sends and lets the test push raw bytes back, split or joined however the
// test needs. On request it stalls: stops reading and writing without closing, as a hung engine or a
// half-open connection does.
#pragma once

#include "AgwFrame.h"
#include "FakeAgwAnswers.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace corvantle::test {

class FakeAgwServer final {
  public:
    explicit FakeAgwServer(Registration answer = Registration::Accept);
    ~FakeAgwServer();
    FakeAgwServer(const FakeAgwServer &) = delete;
    FakeAgwServer &operator=(const FakeAgwServer &) = delete;

    std::string port() const { return std::to_string(port_); }

    // Every frame received so far, over all connections, once at least `count` are there or `wait` passed.
    std::vector<agw::Frame> frames(std::size_t count = 0,
                                   std::chrono::milliseconds wait = std::chrono::milliseconds(2000));
    std::size_t frameCount();
    std::size_t dataBytesReceived(); // the data of every 'D' frame, summed
    int connections();
    bool waitForConnections(int count, std::chrono::milliseconds wait);
    // True once the current client has closed its side.
    bool waitForClientGone(std::chrono::milliseconds wait);

    void send(const std::string &bytes);
    void send(const agw::Frame &frame) { send(agw::encode(frame)); }
    // Ends the current client's connection, as an engine restart does.
    void dropClient();
    // How registrations are answered from now on, for example by a restarted engine.
    void setRegistration(Registration answer);

    // From now on 'Y' is answered with the link's data frames the radio has not sent yet. Without this the
    // fake never answers 'Y', as some engines do not.
    void answerOutstanding();
    // The radio has sent every data frame received so far.
    void releaseFrames();
    // From now on the radio keeps up: each 'Y' finds every data frame received before it already sent, as
    // with a fast engine that still counts what the client hands it between two questions.
    void releaseFramesWhenAsked();
    // From now on each 'Y' is kept unanswered until answerHeldQuestions(), as a busy engine answers late.
    void holdOutstandingAnswers();
    // Answers every held 'Y' with the count as it is now, and answers the next ones at once again.
    void answerHeldQuestions();
    // The most data frames that were waiting for the radio on one link at once.
    std::size_t maxOutstanding();
    // Data frames that were still waiting for the radio when their link's 'd' came: a real engine drops them.
    std::size_t framesDroppedByDisconnect();

    // From now on 'G' is answered with `data`, the list as an engine words it (its NUL included). Without
    // this the fake never answers 'G', as Dire Wolf does not answer a fourth client.
    void answerPortList(std::string data);

    // The current client is neither read nor answered any more, and its connection stays open. The next
    // client is served normally.
    void stallClient();

  private:
    void run();
    void acceptClient();
    void readClient();
    void reply(const agw::Frame &frame);

    FakeAgwAnswers answers_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    unsigned short port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<agw::Frame> frames_;
    std::string inBytes_;
    int connections_ = 0;
    bool clientGone_ = false;
    bool stalled_ = false;
    std::thread thread_;
};

} // namespace corvantle::test
