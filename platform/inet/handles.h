// The handles of the request layer and the calls of inet.h that only check handles and pass
// them on: the same for every backend. A backend links handles.cpp and supplies the functions
// declared at the end; its request handle derives from RequestBase. No system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/inet/inet.h"
#include "platform/inet/request_rules.h"

namespace quorvel::platform {

struct InetHandle {
  enum class Kind { kInternet, kConnection, kRequest };
  explicit InetHandle(Kind k) : kind(k) {}
  virtual ~InetHandle() = default;
  InetHandle(const InetHandle&) = delete;
  InetHandle& operator=(const InetHandle&) = delete;
  const Kind kind;
};

namespace inet_shared {

// What an internet handle was opened with; shared by the handles opened from it.
struct Session {
  std::string agent;  // one line
  ProxyRules proxies;
};

struct InternetHandle final : InetHandle {
  InternetHandle() : InetHandle(Kind::kInternet) {}
  std::shared_ptr<const Session> session;
};

struct ConnectionHandle final : InetHandle {
  ConnectionHandle() : InetHandle(Kind::kConnection) {}
  std::shared_ptr<const Session> session;
  std::string host;  // URL form, lower case
  int port = 0;
};

// What every request keeps of the caller's request, and how it is sent and redirected; the
// backend does the transfer.
class RequestBase : public InetHandle {
 public:
  // Sends once: false when already sent; else takes the header lines that go out and lets the
  // backend send them with the body.
  bool Send(std::string_view headerBlock, std::string_view body);
  virtual std::size_t Read(void* buffer, std::size_t maxBytes) = 0;
  virtual bool QueryHeaders(char* buffer, std::size_t* length) const = 0;

 protected:
  explicit RequestBase(std::string verb) : InetHandle(Kind::kRequest), verb_(std::move(verb)) {}
  // Sends lines_ and the body; true once the final response's headers are in.
  virtual bool Transfer(std::string_view body) = 0;
  // Keeps the body; one goes out when it is not empty, and always for POST, PUT and PATCH.
  void TakeBody(std::string_view body);
  // Applies a redirect that is followed: a request that leaves its origin is cross-origin from
  // then on; a 303, or a 301/302 after POST, goes on as a GET (HEAD stays HEAD) without body.
  void FollowRedirect(int status, bool sameOrigin);

  std::string verb_;
  std::vector<std::string> lines_;
  std::string body_;
  bool hasBody_ = false;
  bool crossOrigin_ = false;
  bool started_ = false;
};

// ---- supplied by the backend ---------------------------------------------------------------

// Readies the backend before an internet handle is opened; false when it cannot serve.
bool Start();
// True when the text is an IPv6 address (no brackets), by the system's parser.
bool IsIpv6(std::string_view s);
// A request to open, its verb checked and its target escaped.
struct RequestStart {
  std::shared_ptr<const Session> session;
  std::string verb;  // a token
  bool secure = false;
  std::string host;  // URL form, lower case
  int port = 0;
  std::string target;   // path and query, escaped
  bool http10 = false;  // "HTTP/1.0" was asked for; else 1.1
  std::uint32_t flags = 0;
};

// The request handle, its TCP connection to the server or proxy open; null when that fails.
std::unique_ptr<RequestBase> OpenRequest(RequestStart start);

}  // namespace inet_shared
}  // namespace quorvel::platform
