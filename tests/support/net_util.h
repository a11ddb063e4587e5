// Loopback port helpers for tests.
#pragma once

#include <chrono>

namespace quorvel::test {

// A TCP port on 127.0.0.1 that was free a moment ago (bind to port 0, read it, release it).
// Returns 0 when no port could be had.
int FreeLoopbackPort();

// True once something accepts TCP connections on 127.0.0.1:port, false when the time limit
// passes first.
bool WaitForListener(int port, std::chrono::milliseconds limit);

}  // namespace quorvel::test
