// The few blocking-with-a-limit socket operations the engine library needs, on POSIX sockets.
#pragma once

#include <chrono>
#include <string>

namespace corvantle {

// Waits until `fd` is ready for `events` (poll flags), at most `wait`.
bool waitFor(int fd, short events, std::chrono::milliseconds wait);

// A non-blocking TCP connection to host:port, given up after `wait`; -1 when none.
int connectWithin(const std::string &host, const std::string &port, std::chrono::milliseconds wait);

// Writes all of `bytes`; false when the connection failed.
bool sendAll(int fd, const std::string &bytes);

} // namespace corvantle
