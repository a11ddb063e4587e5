// A loopback TCP server for the cases a real HTTP server library will not produce: it reads
// one request per connection (head and Content-Length body), records it, then runs the
// test's script on the connection, which writes raw bytes, holds the connection open without
// answering, or closes it halfway through a body.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tests/support/recorded_request.h"
#include "tests/support/sockets.h"

namespace quorvel::test {

class ScriptedServer {
 public:
  class Connection {
   public:
    const RecordedRequest& request() const { return request_; }
    // Writes all bytes; false when the client has gone.
    bool Write(std::string_view bytes);
    // Holds the connection open without a word until the client closes it or the server
    // stops.
    void Hold();

   private:
    friend class ScriptedServer;
    Connection(SocketFd fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}
    SocketFd fd_;
    const std::atomic<bool>& stopping_;
    RecordedRequest request_;
  };
  using Script = std::function<void(Connection&)>;

  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  std::string Url(const std::string& path = "/") const;
  std::vector<RecordedRequest> Requests() const;
  // The requests recorded once there are at least count of them, or all there are when the
  // limit passes first. For a client that gives up without an answer: its request may still
  // be on its way into the record when the client returns.
  std::vector<RecordedRequest> WaitForRequests(std::size_t count,
                                               std::chrono::milliseconds limit) const;
  std::size_t Accepted() const { return accepted_; }
  void Stop();

 private:
  void AcceptLoop();
  void Serve(SocketFd fd);

  Script script_;
  SocketFd listenFd_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> accepted_{0};
  std::thread acceptThread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable recorded_;
  std::vector<std::thread> workers_;
  std::vector<RecordedRequest> requests_;
};

}  // namespace quorvel::test
