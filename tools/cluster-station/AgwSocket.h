// AgwSocket: the cluster station's TCP connection to an AGW packet engine.
//
// Writes each frame with one send, as engines that read a frame per receive need, and reads everything that
// is waiting whenever it reads, because an engine that cannot write to us stalls all its other clients.
#pragma once

#include "AgwFrame.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace corvantle::cluster {

class AgwSocket final {
  public:
    AgwSocket() = default;
    ~AgwSocket();
    AgwSocket(const AgwSocket &) = delete;
    AgwSocket &operator=(const AgwSocket &) = delete;

    bool open(const std::string &host, std::uint16_t port, std::chrono::milliseconds wait,
              std::string &error);
    void close();
    int fd() const { return fd_; }

    bool send(const agw::Frame &frame, std::string &error);
    // Appends every whole frame now readable; false once the engine has closed or sent garbage.
    bool readAvailable(std::vector<agw::Frame> &frames, std::string &error);

  private:
    int fd_ = -1;
    std::string received_; // bytes of a frame not yet complete
};

} // namespace corvantle::cluster
