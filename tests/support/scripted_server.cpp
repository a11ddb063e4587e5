#include "tests/support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorvel::test {
namespace {

constexpr int kSliceMs = 100;
constexpr int kReadLimitMs = 10000;

bool WaitIn(int fd, const std::atomic<bool>& stopping, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += kSliceMs) {
    if (stopping) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kSliceMs) > 0) return true;
  }
  return false;
}

}  // namespace

bool ScriptedServer::Connection::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ScriptedServer::Connection::Hold() {
  for (;;) {
    if (stopping_) return;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, kSliceMs) > 0) {
      char buf[4096];
      if (recv(fd_, buf, sizeof(buf), 0) <= 0) return;  // the client closed
    }
  }
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      listen(listenFd_, 64) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return;
  }
  port_ = ntohs(a.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Stop() {
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& t : workers) t.join();
  if (listenFd_ >= 0) {
    close(listenFd_);
    listenFd_ = -1;
  }
}

std::string ScriptedServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<RecordedRequest> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> ScriptedServer::WaitForRequests(
    std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> lock(mutex_);
  recorded_.wait_for(lock, limit, [&] { return requests_.size() >= count; });
  return requests_;
}

void ScriptedServer::AcceptLoop() {
  while (!stopping_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, kSliceMs) <= 0) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++accepted_;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void ScriptedServer::Serve(int fd) {
  Connection conn(fd, stopping_);
  std::string data;
  std::size_t headEnd = std::string::npos;
  char buf[16384];
  while (headEnd == std::string::npos) {
    if (!WaitIn(fd, stopping_, kReadLimitMs)) break;
    const ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    headEnd = data.find("\r\n\r\n");
  }
  if (headEnd != std::string::npos) {
    conn.request_ = ParseRequestHead(std::string_view(data).substr(0, headEnd + 4));
    const std::size_t length = ContentLengthOf(conn.request_);
    while (data.size() < headEnd + 4 + length && WaitIn(fd, stopping_, kReadLimitMs)) {
      const ssize_t n = recv(fd, buf, sizeof(buf), 0);
      if (n <= 0) break;
      data.append(buf, static_cast<std::size_t>(n));
    }
    conn.request_.body = data.substr(headEnd + 4, length);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(conn.request_);
    }
    recorded_.notify_all();
    script_(conn);
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace quorvel::test
