#include "tests/support/net_util.h"

#include <thread>

#include "tests/support/sockets.h"

namespace quorvel::test {

int FreeLoopbackPort() {
  int port = 0;
  SocketFd s = ListenOnLoopback(&port);
  CloseSocket(s);
  return port;
}

bool WaitForListener(int port, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const SocketFd s = NewTcpSocket(AF_INET);
    if (s == kNoSocket) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    CloseSocket(s);
    if (up) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    // Nothing to wait on but the other process; poll again shortly.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace quorvel::test
