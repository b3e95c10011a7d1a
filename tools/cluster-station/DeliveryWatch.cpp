// DeliveryWatch: whether a link's last data went out on the air and was answered.
#include "DeliveryWatch.h"

namespace corvantle::cluster {

void DeliveryWatch::handedOver(const std::string &remote, const std::string &piece) {
    links_[remote] = Link{piece};
}

void DeliveryWatch::transmitted(const std::string &remote, const std::string &information) {
    const auto found = links_.find(remote);
    if (found == links_.end() || information != found->second.lastPiece)
        return;
    // Sent again means not acknowledged yet: an answer heard before this one does not count.
    found->second.onAir = true;
    found->second.answered = false;
}

void DeliveryWatch::heardFrom(const std::string &remote) {
    const auto found = links_.find(remote);
    if (found != links_.end() && found->second.onAir)
        found->second.answered = true;
}

bool DeliveryWatch::settled(const std::string &remote) const {
    const auto found = links_.find(remote);
    return found == links_.end() || found->second.answered;
}

void DeliveryWatch::forget(const std::string &remote) {
    links_.erase(remote);
}

} // namespace corvantle::cluster
