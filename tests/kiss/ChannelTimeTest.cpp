// The link's estimate of the channel: when our frames can have left, and how long the channel was busy.
#include "ChannelTime.h"

#include <gtest/gtest.h>

namespace corvantle::ax25 {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

ChannelTime::TimePoint at(int ms) {
    return ChannelTime::TimePoint{} + milliseconds(ms);
}

int ms(ChannelTime::Duration duration) {
    return static_cast<int>(std::chrono::round<milliseconds>(duration).count());
}

// 1200 bit/s, 300 ms of key-up. A frame of 146 bytes is 150 with checksum and flags: 1025 ms with stuffing.
TEST(ChannelTime, FramesLeaveOneTransmissionAfterTheOther) {
    ChannelTime channel(1200, 300ms);
    EXPECT_EQ(ms(channel.airTime(146)), 1025);
    EXPECT_EQ(channel.transmit(146, at(1000)), at(1000) + 300ms + channel.airTime(146));
    // Handed over while the first waits: same transmission, no second key-up.
    EXPECT_EQ(ms(channel.transmit(146, at(1100)) - at(1000)), 300 + 2 * 1025);
    EXPECT_EQ(ms(channel.busyTotal()), 300 + 2 * 1025);
    // After it has left, the next keys up afresh.
    EXPECT_EQ(ms(channel.transmit(146, at(9000)) - at(9000)), 300 + 1025);
    EXPECT_EQ(channel.clearAt(at(20000)), at(20000));
}

TEST(ChannelTime, FramesHeardAreBusyAndHoldOursBack) {
    ChannelTime channel(1200, 300ms);
    channel.heard(146, at(5000)); // began at 3675 with its key-up
    EXPECT_EQ(ms(channel.busyTotal()), 1325);
    channel.heard(146, at(6025)); // the next of the same transmission: no key-up of its own
    EXPECT_EQ(ms(channel.busyTotal()), 1325 + 1025);

    const ChannelTime::TimePoint left = channel.transmit(146, at(7000));
    EXPECT_EQ(ms(left - at(7000)), 1325);
    // A frame heard that began while ours waited: ours went after it.
    EXPECT_EQ(ms(channel.heard(146, at(7500))), 500);
    EXPECT_EQ(channel.clearAt(at(7500)), left + 500ms);
    // One heard after ours had left holds nothing back.
    EXPECT_EQ(channel.heard(146, at(12000)), ChannelTime::Duration::zero());
}

TEST(ChannelTime, ABitRateOfZeroTakesNoTime) {
    ChannelTime channel(0, 300ms);
    EXPECT_EQ(channel.transmit(146, at(1000)), at(1000));
    channel.heard(146, at(2000));
    EXPECT_EQ(channel.busyTotal(), ChannelTime::Duration::zero());
}

} // namespace
} // namespace corvantle::ax25
