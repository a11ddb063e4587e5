#include "platform/inet/handles.h"

#include <utility>

namespace quorvel::platform {

using inet_shared::ConnectionHandle;
using inet_shared::InternetHandle;
using inet_shared::RequestBase;
using inet_shared::Session;

namespace inet_shared {

bool RequestBase::Send(std::string_view headerBlock, std::string_view body) {
  if (started_) return false;
  started_ = true;
  lines_ = RequestHeaderLines(headerBlock);
  return Transfer(body);
}

void RequestBase::TakeBody(std::string_view body) {
  body_.assign(body.data(), body.size());
  hasBody_ = !body_.empty() || verb_ == "POST" || verb_ == "PUT" || verb_ == "PATCH";
}

void RequestBase::FollowRedirect(int status, bool sameOrigin) {
  if (!sameOrigin) crossOrigin_ = true;
  if (RedirectDropsBody(status, verb_)) {
    if (verb_ != "HEAD") verb_ = "GET";
    hasBody_ = false;
    body_.clear();
  }
}

}  // namespace inet_shared

InetHandle* InetOpen(std::string_view agent, int accessType, std::string_view proxy,
                     std::string_view bypass) {
  if (!inet_shared::Start()) return nullptr;
  auto session = std::make_shared<Session>();
  // The agent goes out in a header line: it ends at the first line break.
  session->agent = inet_shared::AgentLine(agent);
  if (accessType == kInetOpenProxy) {
    auto proxies = inet_shared::ParseProxyRules(proxy, bypass, inet_shared::IsIpv6);
    if (!proxies) return nullptr;
    session->proxies = std::move(*proxies);
  } else if (accessType != kInetOpenDirect) {
    return nullptr;
  }
  auto* handle = new InternetHandle;
  handle->session = std::move(session);
  return handle;
}

InetHandle* InetConnect(InetHandle* internet, std::string_view host, int port) {
  if (!internet || internet->kind != InetHandle::Kind::kInternet) return nullptr;
  if (port < 1 || port > 65535) return nullptr;
  auto urlHost = inet_shared::UrlFormHost(host, inet_shared::IsIpv6);
  if (!urlHost) return nullptr;
  auto* handle = new ConnectionHandle;
  handle->session = static_cast<InternetHandle*>(internet)->session;
  handle->host = inet_shared::Lower(*urlHost);
  handle->port = port;
  return handle;
}

InetHandle* InetOpenRequest(InetHandle* connection, std::string_view verb,
                            std::string_view objectPath, std::string_view version,
                            std::uint32_t flags) {
  if (!connection || connection->kind != InetHandle::Kind::kConnection) return nullptr;
  if (!inet_shared::IsToken(verb)) return nullptr;
  const auto* c = static_cast<ConnectionHandle*>(connection);
  inet_shared::RequestStart start;
  start.session = c->session;
  start.verb = std::string(verb);
  start.secure = (flags & kInetFlagSecure) != 0;
  start.host = c->host;
  start.port = c->port;
  start.target = inet_shared::EscapeTarget(objectPath);
  start.http10 = version == "HTTP/1.0";
  start.flags = flags;
  return inet_shared::OpenRequest(std::move(start)).release();
}

bool InetSendRequest(InetHandle* request, std::string_view headerBlock, std::string_view body) {
  if (!request || request->kind != InetHandle::Kind::kRequest) return false;
  return static_cast<RequestBase*>(request)->Send(headerBlock, body);
}

std::size_t InetReadFile(InetHandle* request, void* buffer, std::size_t maxBytes) {
  if (!request || request->kind != InetHandle::Kind::kRequest) return 0;
  return static_cast<RequestBase*>(request)->Read(buffer, maxBytes);
}

bool InetQueryRawHeaders(InetHandle* request, char* buffer, std::size_t* length) {
  if (!length) return false;
  if (!request || request->kind != InetHandle::Kind::kRequest) {
    *length = 0;
    return false;
  }
  return static_cast<RequestBase*>(request)->QueryHeaders(buffer, length);
}

void InetCloseHandle(InetHandle* handle) { delete handle; }

}  // namespace quorvel::platform
