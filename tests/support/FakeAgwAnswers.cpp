#include "FakeAgwAnswers.h"

#include <algorithm>
#include <utility>

namespace corvantle::test {
namespace {

agw::Frame replyTo(const agw::Frame &request, std::string data) {
    agw::Frame out = request;
    out.pid = 0;
    out.data = std::move(data);
    return out;
}

// The notice an engine gives its client when a link comes up or goes down.
agw::Frame linkNotice(const agw::Frame &request, bool up) {
    const std::string station = request.callTo;
    const std::string text =
        up ? "*** CONNECTED With Station " + station : "*** DISCONNECTED From Station " + station;
    return {request.port, up ? 'C' : 'd', 0, station, request.callFrom, text + "\r" + std::string(1, '\0')};
}

} // namespace

std::vector<agw::Frame> FakeAgwAnswers::answer(const agw::Frame &request) {
    count(request);
    switch (request.kind) {
    case 'X': {
        if (registration_ == Registration::Ignore)
            return {};
        agw::Frame out =
            replyTo(request, std::string(1, registration_ == Registration::Refuse ? '\0' : '\1'));
        out.kind = registration_ == Registration::AcceptLowercase ? 'x' : 'X';
        return {out};
    }
    case 'R':
        return {replyTo(request, version_)};
    case 'G':
        if (!portList_)
            return {};
        return {replyTo(request, *portList_)};
    case 'Y':
    case 'y':
        if (!answersOutstanding_)
            return {};
        if (holdsAnswers_) {
            heldQuestions_.push_back(request);
            return {};
        }
        return {outstandingAnswer(request)};
    case 'C':
    case 'v':
        if (!announcesLinks_)
            return {};
        return {linkNotice(request, true)};
    case 'd':
        if (!announcesLinks_)
            return {};
        return {linkNotice(request, false)};
    default:
        return {};
    }
}

void FakeAgwAnswers::count(const agw::Frame &request) {
    if (request.kind == 'd')
        droppedByDisconnect_ += std::exchange(outstanding_[request.callTo], 0);
    if (request.kind != 'D')
        return;
    dataBytes_ += request.data.size();
    maxOutstanding_ = std::max(maxOutstanding_, ++outstanding_[request.callTo]);
}

void FakeAgwAnswers::releaseFrames() {
    for (auto &[call, count] : outstanding_)
        count = 0;
}

std::vector<agw::Frame> FakeAgwAnswers::answerHeldQuestions() {
    holdsAnswers_ = false;
    std::vector<agw::Frame> answers;
    for (const agw::Frame &question : std::exchange(heldQuestions_, {}))
        answers.push_back(outstandingAnswer(question));
    return answers;
}

agw::Frame FakeAgwAnswers::outstandingAnswer(const agw::Frame &question) {
    if (releasesWhenAsked_)
        outstanding_[question.callTo] = 0;
    const std::size_t count = outstanding_[question.callTo];
    std::string data;
    for (int i = 0; i < 4; ++i)
        data += static_cast<char>((count >> (8 * i)) & 0xFF);
    return replyTo(question, data);
}

} // namespace corvantle::test
