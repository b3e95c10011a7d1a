// What a fake AGW packet engine answers: the one place where the tests' engine (FakeAgwServer) and the
// benchmark's (tools/benchmark/FakeEngine) decide their replies to a client's requests, and count the data
// frames that wait for a radio that does not exist. Plain C++ on the AGW frame codec: each fake brings its
// own sockets and threads.
//
// By default it answers a registration ('X') as told, the version ('R') as Dire Wolf 1.6 does, and nothing
// else: no port list ('G') until it is given one, no count of outstanding frames ('Y', 'y') until told to,
// no link notices until told to (a real engine sends them once the other station has answered).
#pragma once

#include "AgwFrame.h"

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvantle::test {

enum class Registration { Accept, AcceptLowercase, Refuse, Ignore };

class FakeAgwAnswers final {
  public:
    explicit FakeAgwAnswers(Registration registration = Registration::Accept) : registration_(registration) {}

    // The replies to one request, in order; none when the engine says nothing.
    std::vector<agw::Frame> answer(const agw::Frame &request);

    // How registrations are answered from now on, for example by a restarted engine.
    void setRegistration(Registration answer) { registration_ = answer; }
    // The eight bytes that answer 'R'.
    void setVersion(std::string bytes) { version_ = std::move(bytes); }
    // From now on 'G' is answered with `data`, the list as an engine words it (its NUL included).
    void answerPortList(std::string data) { portList_ = std::move(data); }
    // From now on a connect ('C', 'v') and a disconnect ('d') are answered with the link's notice from the
    // station asked for, as if it answered at once.
    void announceLinks() { announcesLinks_ = true; }

    // From now on 'Y' and 'y' are answered with the link's data frames the radio has not sent yet.
    void answerOutstanding() { answersOutstanding_ = true; }
    // The radio has sent every data frame received so far.
    void releaseFrames();
    // From now on the radio keeps up: each question finds every data frame received before it already sent.
    void releaseFramesWhenAsked() { releasesWhenAsked_ = true; }
    // From now on each question is kept unanswered until answerHeldQuestions(), as a busy engine answers
    // late.
    void holdOutstandingAnswers() { holdsAnswers_ = true; }
    // The answers to every held question, with the counts as they are now; the next ones are answered at
    // once.
    std::vector<agw::Frame> answerHeldQuestions();

    // The most data frames that were waiting for the radio on one link at once.
    std::size_t maxOutstanding() const { return maxOutstanding_; }
    // Data frames that were still waiting for the radio when their link's 'd' came: a real engine drops them.
    std::size_t framesDroppedByDisconnect() const { return droppedByDisconnect_; }
    // The data of every 'D' frame, summed.
    std::size_t dataBytes() const { return dataBytes_; }

  private:
    void count(const agw::Frame &request);
    agw::Frame outstandingAnswer(const agw::Frame &question);

    Registration registration_;
    std::string version_ = std::string("\1\0\0\0\6\0\0\0", 8); // 1.6: two little-endian 32-bit numbers
    std::optional<std::string> portList_;
    bool announcesLinks_ = false;
    bool answersOutstanding_ = false;
    bool releasesWhenAsked_ = false;
    bool holdsAnswers_ = false;
    std::vector<agw::Frame> heldQuestions_;
    std::map<std::string, std::size_t> outstanding_; // data frames per remote call, not yet sent by radio
    std::size_t maxOutstanding_ = 0;
    std::size_t droppedByDisconnect_ = 0;
    std::size_t dataBytes_ = 0;
};

} // namespace corvantle::test
