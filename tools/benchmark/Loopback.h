// Small POSIX socket helpers for TCP on 127.0.0.1, shared by the fake engine and the benchmark driver.
//
// Every wait takes a deadline on the monotonic clock, so a peer that stops reading cannot hang a caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvantle::bench {

// A listening socket on 127.0.0.1 with a port the system chose, or -1 with `error` set.
int listenOnLoopback(int &port, std::string &error);

// A port on 127.0.0.1 that nothing listened on a moment ago.
int freeLoopbackPort();

// A connected socket, or -1 (refused, or nothing listening yet).
int connectToLoopback(int port);

bool setNonBlocking(int fd);

// Sends all of `bytes` before `deadlineNs`; false when the peer went away or the deadline passed.
bool sendAllBefore(int fd, std::string_view bytes, std::int64_t deadlineNs);

// Waits for `events` on `fd` until `deadlineNs` (looks once when it has passed); true when they came.
bool waitForFd(int fd, short events, std::int64_t deadlineNs);

} // namespace corvantle::bench
