// The recording test server over Winsock (Windows). One thread accepts; each connection gets
// its own thread, which reads requests (head and Content-Length body), records them exactly
// as they arrived, answers and closes. HTTPS is ended by a socat relay beside the Wine
// process, which forwards the plain exchange to this server.
#include <algorithm>
#include <chrono>
#include <optional>

#include "tests/support/linux_process.h"
#include "tests/support/net_util.h"
#include "tests/support/sockets.h"
#include "tests/support/test_server.h"

namespace quorvel::test {
namespace {

constexpr int kSliceMs = 100;        // how often waiting threads look at the stop flag
constexpr int kReadLimitMs = 10000;  // a client silent this long inside a request is dropped

std::string Path(const std::string& target) { return target.substr(0, target.find('?')); }

}  // namespace

class TestServer::Engine {
 public:
  explicit Engine(TestServer* owner) : owner_(owner) {}
  ~Engine() { Stop(); }

  // Listens on host:port (0: any free port); the port, or 0.
  int Listen(const std::string& host, int port) {
    int bound = 0;
    listen_ = ListenOnLoopback(&bound, host.c_str(), port);
    if (listen_ == kNoSocket) return 0;
    accept_ = std::thread([this] { AcceptLoop(); });
    return bound;
  }

  // Puts a TLS relay in front: the port clients use, or 0.
  int StartRelay(const TlsIdentity& identity, int plainPort, int port) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      const int relayPort = port ? port : FreeLoopbackPort();
      if (relayPort <= 0) return 0;
      relay_.emplace(
          "exec socat OPENSSL-LISTEN:" + std::to_string(relayPort) +
              ",bind=127.0.0.1,reuseaddr,fork,cert=server.pem,key=server.key,verify=0 "
              "TCP:127.0.0.1:" +
              std::to_string(plainPort),
          std::vector<std::pair<std::string, std::string>>{{"server.pem", identity.serverCertPem},
                                                           {"server.key", identity.serverKeyPem}});
      if (!relay_->ok()) return 0;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!relay_->Ended() && std::chrono::steady_clock::now() < deadline) {
        if (WaitForListener(relayPort, std::chrono::milliseconds(200))) return relayPort;
      }
      relay_.reset();
      if (port) return 0;
    }
    return 0;
  }

  void Stop() {
    stopping_ = true;
    if (accept_.joinable()) accept_.join();
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    if (listen_ != kNoSocket) {
      CloseSocket(listen_);
      listen_ = kNoSocket;
    }
    relay_.reset();
  }

 private:
  void AcceptLoop() {
    while (!stopping_) {
      WaitReadable(listen_, kSliceMs);  // a wait at most: accept is tried either way
      const SocketFd s = AcceptConnection(listen_);
      if (s == kNoSocket) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      workers_.emplace_back([this, s] { Serve(s); });
    }
  }

  // Reads more of the connection onto data; false at its end, on an error, after a long
  // silence, or when the server stops.
  bool Fill(SocketFd s, std::string& data) {
    for (int waited = 0; !WaitReadable(s, kSliceMs); waited += kSliceMs) {
      if (stopping_ || waited >= kReadLimitMs) return false;
    }
    char buf[16384];
    const long n = ReceiveSome(s, buf, sizeof(buf));
    if (n <= 0) return false;
    data.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  void Serve(SocketFd s) {
    std::string data;
    std::size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
      if (!Fill(s, data)) {
        ShutdownAndClose(s);
        return;
      }
    }
    RecordedRequest record = ParseRequestHead(std::string_view(data).substr(0, headEnd + 4));
    const std::size_t length = ContentLengthOf(record);
    while (data.size() < headEnd + 4 + length && Fill(s, data)) {
    }
    record.body = data.substr(headEnd + 4, length);

    Response res;
    owner_->Dispatch(record, record.Method(), Path(record.Target()), res);
    std::string head =
        "HTTP/1.1 " + std::to_string(res.status) + " " + ReasonPhrase(res.status) + "\r\n";
    for (const auto& [name, value] : res.headers) head += name + ": " + value + "\r\n";
    const std::size_t size = res.byteAt ? res.generatedSize : res.body.size();
    head += "Content-Length: " + std::to_string(size) + "\r\nConnection: close\r\n\r\n";
    bool ok = SendAll(s, head);
    if (record.Method() != "HEAD") {
      if (res.byteAt) {
        std::string chunk;
        for (std::size_t offset = 0; ok && offset < size; offset += chunk.size()) {
          chunk.assign(std::min<std::size_t>(size - offset, 65536), '\0');
          for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = res.byteAt(offset + i);
          ok = SendAll(s, chunk);
        }
      } else {
        ok = ok && SendAll(s, res.body);
      }
    }
    ShutdownAndClose(s);
  }

  TestServer* owner_;
  SocketFd listen_ = kNoSocket;
  std::atomic<bool> stopping_{false};
  std::thread accept_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;
  std::optional<LinuxProcess> relay_;
};

TestServer::TestServer(int port, const std::string& host) : host_(host) { Start(port, nullptr); }

TestServer::TestServer(const TlsIdentity& identity, int port, const std::string& host)
    : host_(host), tls_(true) {
  Start(port, &identity);
}

TestServer::~TestServer() { Stop(); }

void TestServer::Start(int port, const TlsIdentity* identity) {
  engine_ = std::make_unique<Engine>(this);
  const int plain = engine_->Listen(identity ? "127.0.0.1" : host_, identity ? 0 : port);
  port_ = identity && plain ? engine_->StartRelay(*identity, plain, port) : plain;
}

void TestServer::Stop() {
  if (engine_) engine_->Stop();
}

}  // namespace quorvel::test
