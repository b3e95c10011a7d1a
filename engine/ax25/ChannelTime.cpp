#include "ChannelTime.h"

#include <algorithm>

namespace corvantle::ax25 {
namespace {

// Two bytes of checksum and an opening and a closing flag go with every frame; bit stuffing adds about one
// bit in forty to text.
constexpr std::size_t kFramingBytes = 4;
constexpr double kStuffing = 1.025;

} // namespace

ChannelTime::ChannelTime(int bitRate, std::chrono::milliseconds keyUp)
    : bitRate_(std::max(bitRate, 0)), keyUp_(bitRate > 0 ? Duration(keyUp) : Duration::zero()) {}

ChannelTime::Duration ChannelTime::airTime(std::size_t bytes) const {
    if (bitRate_ == 0)
        return Duration::zero();
    const double seconds = static_cast<double>((bytes + kFramingBytes) * 8) * kStuffing / bitRate_;
    return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
}

ChannelTime::TimePoint ChannelTime::transmit(std::size_t bytes, TimePoint now) {
    const Duration air = airTime(bytes);
    if (ourEnd_ > now) {
        ourEnd_ += air;
        busyTotal_ += air;
    } else {
        ourStart_ = now;
        ourEnd_ = now + keyUp_ + air;
        busyTotal_ += keyUp_ + air;
    }
    return ourEnd_;
}

ChannelTime::Duration ChannelTime::heard(std::size_t bytes, TimePoint now) {
    // A frame that follows another of the same transmission had no key-up of its own.
    const TimePoint start = std::max(startOfHeard(bytes, now), heardEnd_);
    if (now > start)
        busyTotal_ += now - start;
    heardEnd_ = std::max(heardEnd_, now);
    // Ours were still waiting when this one began: the TNC held them until it ended.
    if (ourEnd_ <= start || ourStart_ >= now)
        return Duration::zero();
    const Duration shift = now - ourStart_;
    ourStart_ += shift;
    ourEnd_ += shift;
    return shift;
}

} // namespace corvantle::ax25
