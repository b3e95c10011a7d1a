// DeliveryWatch: whether the data the cluster station gave its engine for a link has gone out on the air and
// been answered, so that a disconnect does not throw away a goodbye the caller never got.
//
// Asked to disconnect, an engine throws away the link's data it has not sent yet (Dire Wolf empties the
// link's queue), and the engine library keeps its count of outstanding frames to itself. What the station
// does see are the frames the engine reports from the channel: its own transmissions with the information
// they carry, and the caller's frames. A link is settled once its last piece of data has been seen on the
// air and the caller has sent a frame after that, as a rule the acknowledgement. A retransmission of that
// piece means it was not acknowledged: the link waits for the next answer. Pure bookkeeping, no clock.
#pragma once

#include <map>
#include <string>

namespace corvantle::cluster {

class DeliveryWatch final {
  public:
    // `piece` went to the engine as one frame's data for the link to `remote`.
    void handedOver(const std::string &remote, const std::string &piece);
    // The engine transmitted a frame to `remote` carrying `information` (empty for a frame without any).
    void transmitted(const std::string &remote, const std::string &information);
    // A frame from `remote` to the station was heard.
    void heardFrom(const std::string &remote);

    // True when nothing is handed over for `remote` or the last piece went out and was answered.
    bool settled(const std::string &remote) const;
    void forget(const std::string &remote);

  private:
    struct Link {
        std::string lastPiece;
        bool onAir = false;    // lastPiece was seen transmitted
        bool answered = false; // and the caller sent a frame after that
    };
    std::map<std::string, Link> links_;
};

} // namespace corvantle::cluster
