#include "tests/support/scripted_server.h"

namespace quorvel::test {
namespace {

constexpr int kSliceMs = 100;
constexpr int kReadLimitMs = 10000;

bool WaitIn(SocketFd fd, const std::atomic<bool>& stopping, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += kSliceMs) {
    if (stopping) return false;
    if (WaitReadable(fd, kSliceMs)) return true;
  }
  return false;
}

}  // namespace

bool ScriptedServer::Connection::Write(std::string_view bytes) { return SendAll(fd_, bytes); }

void ScriptedServer::Connection::Hold() {
  for (;;) {
    if (stopping_) return;
    if (WaitReadable(fd_, kSliceMs)) {
      char buf[4096];
      if (ReceiveSome(fd_, buf, sizeof(buf)) <= 0) return;  // the client closed
    }
  }
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  listenFd_ = ListenOnLoopback(&port_);
  if (listenFd_ == kNoSocket) return;
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
  if (listenFd_ != kNoSocket) {
    CloseSocket(listenFd_);
    listenFd_ = kNoSocket;
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
    WaitReadable(listenFd_, kSliceMs);  // a wait at most: accept is tried either way
    const SocketFd fd = AcceptConnection(listenFd_);
    if (fd == kNoSocket) continue;
    ++accepted_;
    std::lock_guard<std::mutex> lock(mutex_);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void ScriptedServer::Serve(SocketFd fd) {
  Connection conn(fd, stopping_);
  std::string data;
  std::size_t headEnd = std::string::npos;
  char buf[16384];
  while (headEnd == std::string::npos) {
    if (!WaitIn(fd, stopping_, kReadLimitMs)) break;
    const long n = ReceiveSome(fd, buf, sizeof(buf));
    if (n <= 0) break;
    data.append(buf, static_cast<std::size_t>(n));
    headEnd = data.find("\r\n\r\n");
  }
  if (headEnd != std::string::npos) {
    conn.request_ = ParseRequestHead(std::string_view(data).substr(0, headEnd + 4));
    const std::size_t length = ContentLengthOf(conn.request_);
    while (data.size() < headEnd + 4 + length && WaitIn(fd, stopping_, kReadLimitMs)) {
      const long n = ReceiveSome(fd, buf, sizeof(buf));
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
  ShutdownAndClose(fd);
}

}  // namespace quorvel::test
