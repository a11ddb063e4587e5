// The recording test server over cpp-httplib, with TLS by OpenSSL (Linux).
#include <httplib.h>

#include "tests/support/test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace quorvel::test {
namespace {

constexpr int kSliceMs = 100;        // how often waiting threads look at the stop flag
constexpr int kReadLimitMs = 10000;  // a client silent this long inside a request is dropped
constexpr int kKeepAliveMs = 5000;

void AddressOf(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage ss{};
  socklen_t len = sizeof(ss);
  const int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len)
                      : getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
  if (rc != 0) return;
  char buf[INET6_ADDRSTRLEN] = {};
  if (ss.ss_family == AF_INET) {
    auto* a = reinterpret_cast<sockaddr_in*>(&ss);
    inet_ntop(AF_INET, &a->sin_addr, buf, sizeof(buf));
    port = ntohs(a->sin_port);
  } else if (ss.ss_family == AF_INET6) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
    inet_ntop(AF_INET6, &a->sin6_addr, buf, sizeof(buf));
    port = ntohs(a->sin6_port);
  }
  ip = buf;
}

// The connection stream handed to httplib: it keeps every byte read from the client, so the
// request can be recorded exactly as it arrived.
class RecordingStream final : public httplib::Stream {
 public:
  RecordingStream(int fd, SSL* ssl, const std::atomic<bool>& stopping)
      : fd_(fd), ssl_(ssl), stopping_(stopping) {}

  bool is_readable() const override { return Buffered() || PollIn(kReadLimitMs); }

  bool is_writable() const override {
    pollfd p{fd_, POLLOUT, 0};
    return poll(&p, 1, kReadLimitMs) > 0;
  }

  ssize_t read(char* ptr, size_t size) override {
    if (given_ == log_.size() && !Fill()) return -1;
    const std::size_t n = std::min(size, log_.size() - given_);
    std::memcpy(ptr, log_.data() + given_, n);
    given_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (size == 0) return 0;
    if (ssl_) {
      const int n = SSL_write(ssl_, ptr, static_cast<int>(std::min<size_t>(size, 1 << 30)));
      return n > 0 ? n : -1;
    }
    const ssize_t n = send(fd_, ptr, size, MSG_NOSIGNAL);
    return n >= 0 ? n : -1;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(fd_, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    AddressOf(fd_, false, ip, port);
  }
  socket_t socket() const override { return fd_; }

  // Waits for the next request on the connection (data or the client's close).
  bool WaitForRequest() {
    if (Buffered()) return true;
    for (int waited = 0; waited < kKeepAliveMs; waited += kSliceMs) {
      if (stopping_) return false;
      if (PollIn(kSliceMs)) return true;
    }
    return false;
  }

  // Marks where the next request begins and forgets the bytes before it.
  void BeginRequest() {
    log_.erase(0, given_);
    given_ = 0;
  }

  // The current request as received. Reads a body httplib would leave unread (a GET with a
  // body) and takes it off the stream, so the next request starts where it should.
  RecordedRequest Capture(const httplib::Request& req) {
    std::size_t headEnd = log_.find("\r\n\r\n");
    if (headEnd != std::string::npos) {
      headEnd += 4;
    } else if ((headEnd = log_.find("\n\n")) != std::string::npos) {
      headEnd += 2;
    } else {
      headEnd = given_;
    }
    RecordedRequest r = ParseRequestHead(std::string_view(log_).substr(0, headEnd));
    const std::string te = r.Value("Transfer-Encoding");
    if (te.find("chunked") != std::string::npos) {
      r.body = req.body;
      return r;
    }
    const std::size_t length = ContentLengthOf(r);
    while (log_.size() < headEnd + length && Fill()) {
    }
    const std::size_t have = std::min(length, log_.size() - std::min(log_.size(), headEnd));
    r.body = log_.substr(headEnd, have);
    given_ = std::max(given_, headEnd + have);
    return r;
  }

 private:
  bool Buffered() const { return given_ < log_.size() || (ssl_ && SSL_pending(ssl_) > 0); }

  bool PollIn(int ms) const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
  }

  // Reads what the client has sent next onto the log; false at its end, on an error, when
  // the client stays silent too long, or when the server stops.
  bool Fill() {
    if (!(ssl_ && SSL_pending(ssl_) > 0)) {
      int waited = 0;
      while (!PollIn(kSliceMs)) {
        waited += kSliceMs;
        if (stopping_ || waited >= kReadLimitMs) return false;
      }
    }
    char buf[16384];
    ssize_t n = 0;
    if (ssl_) {
      n = SSL_read(ssl_, buf, sizeof(buf));
    } else {
      n = recv(fd_, buf, sizeof(buf), 0);
    }
    if (n <= 0) return false;
    log_.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  int fd_;
  SSL* ssl_;
  const std::atomic<bool>& stopping_;
  std::string log_;
  std::size_t given_ = 0;
};

thread_local RecordingStream* tl_stream = nullptr;

}  // namespace

class TestServer::Engine final : public httplib::Server {
 public:
  explicit Engine(SSL_CTX* ctx) : ctx_(ctx) {}
  ~Engine() override {
    if (ctx_) SSL_CTX_free(ctx_);
  }

  std::atomic<bool> stopping{false};
  std::thread thread;

 private:
  bool process_and_close_socket(socket_t sock) override {
    timeval tv{5, 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
    SSL* ssl = nullptr;
    bool ok = true;
    if (ctx_) {
      ssl = SSL_new(ctx_);
      ok = ssl && SSL_set_fd(ssl, sock) == 1 && SSL_accept(ssl) == 1;
    }
    if (ok) {
      RecordingStream stream(sock, ssl, stopping);
      tl_stream = &stream;
      for (std::size_t left = keep_alive_max_count_; left > 0 && !stopping; --left) {
        if (!stream.WaitForRequest()) break;
        stream.BeginRequest();
        bool closed = false;
        if (!process_request(stream, left == 1, closed, [](httplib::Request&) {}) || closed) {
          break;
        }
      }
      tl_stream = nullptr;
    }
    if (ssl) {
      if (ok) SSL_shutdown(ssl);
      SSL_free(ssl);
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return ok;
  }

  SSL_CTX* ctx_;
};

namespace {

// Hands a handler's answer to httplib.
void ToHttplib(const Response& r, httplib::Response& res) {
  res.status = r.status;
  std::string type;
  for (const auto& [name, value] : r.headers) {
    if (HeaderNameLess{}(name, "Content-Type") || HeaderNameLess{}("Content-Type", name)) {
      res.headers.emplace(name, value);
    } else {
      type = value;
    }
  }
  if (r.byteAt) {
    auto byteAt = r.byteAt;
    res.set_content_provider(
        r.generatedSize, type,
        [byteAt](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
          std::string chunk(std::min<std::size_t>(length, 65536), '\0');
          for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = byteAt(offset + i);
          return sink.write(chunk.data(), chunk.size());
        });
  } else if (!r.body.empty() || !type.empty()) {
    res.set_content(r.body, type);
  }
}

}  // namespace

TestServer::TestServer(int port, const std::string& host) : host_(host) { Start(port, nullptr); }

TestServer::TestServer(const TlsIdentity& identity, int port, const std::string& host)
    : host_(host), tls_(true) {
  Start(port, &identity);
}

TestServer::~TestServer() { Stop(); }

void TestServer::Start(int port, const TlsIdentity* identity) {
  SSL_CTX* ctx = nullptr;
  if (identity) {
    ctx = MakeServerContext(*identity);
    if (!ctx) return;
  }
  engine_ = std::make_unique<Engine>(ctx);
  auto dispatch = [this](const httplib::Request& req, httplib::Response& res) {
    RecordedRequest record;
    if (tl_stream) {
      record = tl_stream->Capture(req);
    } else {
      record.requestLine = req.method + " " + req.target + " " + req.version;
      record.body = req.body;
    }
    Response answer;
    Dispatch(record, req.method, req.path, answer);
    ToHttplib(answer, res);
  };
  engine_->Get(".*", dispatch);
  engine_->Post(".*", dispatch);
  engine_->Put(".*", dispatch);
  engine_->Patch(".*", dispatch);
  engine_->Delete(".*", dispatch);
  engine_->Options(".*", dispatch);
  if (port == 0) {
    port_ = engine_->bind_to_any_port(host_);
  } else {
    port_ = engine_->bind_to_port(host_, port) ? port : 0;
  }
  if (port_ <= 0) {
    port_ = 0;
    return;
  }
  Engine* e = engine_.get();
  e->thread = std::thread([e] { e->listen_after_bind(); });
  // stop() only takes effect once the accept loop runs; wait for it to start.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!e->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void TestServer::Stop() {
  if (!engine_) return;
  engine_->stopping = true;
  engine_->stop();
  if (engine_->thread.joinable()) engine_->thread.join();
}

}  // namespace quorvel::test
