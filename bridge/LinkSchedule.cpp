#include "LinkSchedule.h"

#include "Ticks.h"

#include <algorithm>
#include <utility>

namespace corvantle {
namespace {

// Counts a countdown down by one tick; true when it has just reached zero.
bool countDown(int &ticksLeft) {
    return ticksLeft != 0 && --ticksLeft == 0;
}

} // namespace

int LinkSchedule::scheduleRelink() {
    const int seconds = relinkPauseSeconds_;
    relinkPauseSeconds_ = std::min(seconds * 2, kLongestRelinkPauseSeconds);
    relinking_ = true;
    relinkTicksLeft_ = seconds * kTicksPerSecond;
    return seconds;
}

int LinkSchedule::secondsUntilRelink() const {
    return (relinkTicksLeft_ + kTicksPerSecond - 1) / kTicksPerSecond;
}

bool LinkSchedule::relinkDue() {
    return countDown(relinkTicksLeft_);
}

bool LinkSchedule::stopRelinking() {
    relinkTicksLeft_ = 0;
    relinkPauseSeconds_ = kFirstRelinkPauseSeconds;
    return std::exchange(relinking_, false);
}

void LinkSchedule::linkCameUp() {
    relinking_ = false;
    relinkTicksLeft_ = 0;
    ticksLinkUp_ = 0;
}

void LinkSchedule::linkUpTick() {
    constexpr int kStableTicks = kStableLinkSeconds * kTicksPerSecond;
    if (ticksLinkUp_ < kStableTicks && ++ticksLinkUp_ == kStableTicks)
        relinkPauseSeconds_ = kFirstRelinkPauseSeconds; // this link worked: the next drop starts afresh
}

void LinkSchedule::keepLink(int seconds) {
    keepTicksLeft_ = seconds * kTicksPerSecond;
}

bool LinkSchedule::keepOver() {
    return countDown(keepTicksLeft_);
}

bool LinkSchedule::connectDue() {
    return countDown(connectTicksLeft_);
}

bool LinkSchedule::waitForPreviousLink() {
    if (connectAfterPreviousLink_)
        return false;
    connectAfterPreviousLink_ = true;
    previousLinkTicksLeft_ = kPreviousLinkCloseWaitSeconds * kTicksPerSecond;
    return true;
}

bool LinkSchedule::previousLinkEnded() {
    previousLinkTicksLeft_ = 0;
    return std::exchange(connectAfterPreviousLink_, false);
}

bool LinkSchedule::previousLinkOverdue() {
    return countDown(previousLinkTicksLeft_) && std::exchange(connectAfterPreviousLink_, false);
}

} // namespace corvantle
