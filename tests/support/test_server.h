// A loopback HTTP or HTTPS server for tests that records every request it receives: the
// request line, every header line in order and the body, as they arrived. On Linux it runs
// over cpp-httplib and OpenSSL; on Windows over Winsock, with TLS ended by a socat relay
// running beside it as a Linux process (under Wine).
//
// Handlers are registered per method and exact path (the target without its query); "*"
// as method matches any. A request no route takes gets 404. The request is recorded before
// its handler runs, so a test that has its response can read the record. Any method is read
// with its body (a GET with a Content-Length body too).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/recorded_request.h"
#include "tests/support/tls_identity.h"

namespace quorvel::test {

// Compares header names without regard to ASCII letter case.
struct HeaderNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// What a handler answers: status, header lines (same-named lines keep their order) and body.
// Content-Length (and Content-Type, when set_content gave one) are written by the server.
struct Response {
  int status = 200;
  std::multimap<std::string, std::string, HeaderNameLess> headers;
  std::string body;
  // A body made while it is sent: generatedSize bytes, byte i being byteAt(i).
  std::size_t generatedSize = 0;
  std::function<char(std::size_t)> byteAt;

  void set_content(const std::string& content, const std::string& contentType);
  // Replaces every line of that name with one.
  void set_header(const std::string& name, const std::string& value);
};

// The reason phrase written after a status code ("OK", "Found", ...).
const char* ReasonPhrase(int status);

class TestServer {
 public:
  using Handler = std::function<void(const RecordedRequest&, Response&)>;

  // Plain HTTP on host (a loopback address); port 0 picks a free one.
  explicit TestServer(int port = 0, const std::string& host = "127.0.0.1");
  // HTTPS with identity's server certificate (made for 127.0.0.1, ::1 and localhost).
  explicit TestServer(const TlsIdentity& identity, int port = 0,
                      const std::string& host = "127.0.0.1");
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  bool ok() const { return port_ > 0; }
  int port() const { return port_; }
  // "http://<host>:<port>" (or https) followed by path.
  std::string Url(const std::string& path = "/") const;
  // "<host>:<port>"
  std::string HostPort() const;

  void Route(const std::string& method, const std::string& path, Handler handler);
  // GET path answers size bytes, byte i being byteAt(i), made while they are sent so that
  // large bodies are never held whole on the server's side.
  void RouteGeneratedBody(const std::string& path, std::size_t size,
                          std::function<char(std::size_t)> byteAt);

  std::vector<RecordedRequest> Requests() const;
  std::size_t RequestCount() const;
  // The last request received (empty when there is none).
  RecordedRequest Last() const;

  void Stop();

  class Engine;  // the server with the recording connection loop

  // Records the request and runs the handler its route names (404 when there is none).
  void Dispatch(const RecordedRequest& record, const std::string& method, const std::string& path,
                Response& res);

 private:
  void Start(int port, const TlsIdentity* identity);

  std::unique_ptr<Engine> engine_;
  int port_ = 0;
  std::string host_;
  bool tls_ = false;
  mutable std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::map<std::pair<std::string, std::string>, Handler> routes_;
};

}  // namespace quorvel::test
