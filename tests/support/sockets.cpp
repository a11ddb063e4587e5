#include "tests/support/sockets.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace quorvel::test {

bool SocketsReady() {
#ifdef _WIN32
  static const bool ready = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
#else
  return true;
#endif
}

SocketFd NewTcpSocket(int family) {
  if (!SocketsReady()) return kNoSocket;
#ifdef _WIN32
  SocketFd s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  return s;
#else
  return socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

SocketFd AcceptConnection(SocketFd listening) {
#ifdef _WIN32
  SocketFd s = accept(listening, nullptr, nullptr);
  if (s != kNoSocket) {
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long blocking = 0;  // an accepted socket takes the listening one's mode: undo it
    ioctlsocket(s, FIONBIO, &blocking);
  }
  return s;
#else
  return accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
#endif
}

void CloseSocket(SocketFd s) {
  if (s == kNoSocket) return;
#ifdef _WIN32
  closesocket(s);
#else
  close(s);
#endif
}

void ShutdownAndClose(SocketFd s) {
  if (s == kNoSocket) return;
#ifdef _WIN32
  shutdown(s, SD_BOTH);
#else
  shutdown(s, SHUT_RDWR);
#endif
  CloseSocket(s);
}

namespace {

bool Wait(SocketFd s, int ms, bool forWrite) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
#ifdef _WIN32
  const int n =
      forWrite ? select(0, nullptr, &set, nullptr, &tv) : select(0, &set, nullptr, nullptr, &tv);
#else
  const int n = forWrite ? select(s + 1, nullptr, &set, nullptr, &tv)
                         : select(s + 1, &set, nullptr, nullptr, &tv);
#endif
  return n > 0;
}

}  // namespace

bool WaitReadable(SocketFd s, int ms) { return Wait(s, ms, false); }
bool WaitWritable(SocketFd s, int ms) { return Wait(s, ms, true); }

long ReceiveSome(SocketFd s, char* buffer, std::size_t size) {
#ifdef _WIN32
  return recv(s, buffer, static_cast<int>(size > (1u << 30) ? (1u << 30) : size), 0);
#else
  return static_cast<long>(recv(s, buffer, size, 0));
#endif
}

long SendSome(SocketFd s, const char* data, std::size_t size) {
#ifdef _WIN32
  return send(s, data, static_cast<int>(size > (1u << 30) ? (1u << 30) : size), 0);
#else
  return static_cast<long>(send(s, data, size, MSG_NOSIGNAL));
#endif
}

bool SendAll(SocketFd s, std::string_view bytes) {
  while (!bytes.empty()) {
    const long n = SendSome(s, bytes.data(), bytes.size());
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

SocketFd ListenOnLoopback(int* port, const char* host, int portWanted) {
  *port = 0;
  SocketFd s = NewTcpSocket(AF_INET);
  if (s == kNoSocket) return kNoSocket;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(portWanted));
  if (inet_pton(AF_INET, host, &a.sin_addr) != 1) {
    CloseSocket(s);
    return kNoSocket;
  }
#ifdef _WIN32
  BOOL exclusive = TRUE;  // no other socket may take the port from under it
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof(exclusive));
  int len = sizeof(a);
#else
  socklen_t len = sizeof(a);
#endif
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(s, 64) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    CloseSocket(s);
    return kNoSocket;
  }
  *port = ntohs(a.sin_port);
  // Non-blocking, so that a server can try accept after each wait whatever select said:
  // Wine's select() was seen to miss a connection waiting on a listening socket for good.
#ifdef _WIN32
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
#else
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
#endif
  return s;
}

}  // namespace quorvel::test
