#include "Traffic.h"

#include "Ticks.h"

namespace corvantle {

void Traffic::fromRadio(std::size_t bytes) {
    transferredBytes_ += static_cast<int64_t>(bytes);
    bytesFromRadio_ += static_cast<int64_t>(bytes);
    allFromRadio_ += static_cast<int64_t>(bytes);
}

void Traffic::toRadio(std::size_t bytes) {
    transferredBytes_ += static_cast<int64_t>(bytes);
    bytesToRadio_ += static_cast<int64_t>(bytes);
    allToRadio_ += static_cast<int64_t>(bytes);
}

void Traffic::keepaliveKeptOff() {
    ++keepalivesKeptOff_;
    ++allKeepalivesKeptOff_;
}

std::string Traffic::counterText() const {
    return "Bytes Transferred: " + std::to_string(transferredBytes_ / 1024) + "K";
}

// What a user compares with the radio's own rate, and how many keepalives stayed off the air.
void Traffic::tick() {
    if (++ticksSinceNote_ < kTicksPerMinute)
        return;
    ticksSinceNote_ = 0;
    if (bytesFromRadio_ != 0 || bytesToRadio_ != 0)
        log_.note("Relayed in the last minute: " + std::to_string(bytesFromRadio_) +
                  " bytes from the radio, " + std::to_string(bytesToRadio_) + " bytes to the radio");
    if (keepalivesKeptOff_ != 0)
        log_.note("Kept off the air in the last minute: " + std::to_string(keepalivesKeptOff_) +
                  " empty lines from the clients (" + std::to_string(allKeepalivesKeptOff_) +
                  " since start-up)");
    bytesFromRadio_ = bytesToRadio_ = 0;
    keepalivesKeptOff_ = 0;
}

} // namespace corvantle
