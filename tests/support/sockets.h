// The few socket calls the test servers make, on Winsock or on POSIX sockets.
#pragma once

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstddef>
#include <string_view>

namespace quorvel::test {

#ifdef _WIN32
using SocketFd = SOCKET;
inline constexpr SocketFd kNoSocket = INVALID_SOCKET;
#else
using SocketFd = int;
inline constexpr SocketFd kNoSocket = -1;
#endif

// Starts the socket library once per process (Winsock); true when sockets can be used.
bool SocketsReady();

// A TCP socket, not inherited by child processes; kNoSocket on failure.
SocketFd NewTcpSocket(int family = AF_INET);
// The next connection of a listening socket (not inherited by child processes), or kNoSocket.
SocketFd AcceptConnection(SocketFd listening);
void CloseSocket(SocketFd s);
// Stops both directions, then closes.
void ShutdownAndClose(SocketFd s);

// True when s has data (or its end, or an error) to read within ms milliseconds.
bool WaitReadable(SocketFd s, int ms);
// True when s can take data within ms milliseconds.
bool WaitWritable(SocketFd s, int ms);

// recv and send; the count, 0 at the end, below 0 on an error. Sending never raises a signal.
long ReceiveSome(SocketFd s, char* buffer, std::size_t size);
long SendSome(SocketFd s, const char* data, std::size_t size);
// Sends everything; false when the peer has gone.
bool SendAll(SocketFd s, std::string_view bytes);

// A socket listening on 127.0.0.1 (or host) at port (0: a free one); its port in *port.
SocketFd ListenOnLoopback(int* port, const char* host = "127.0.0.1", int port_wanted = 0);

}  // namespace quorvel::test
