// The request layer over WinInet. wininet.dll is loaded and its functions are looked up by name
// on first use, so the program does not import it. Each request handle owns the WinInet
// internet, connection and request handles of its current hop; the handles of this layer's
// internet and connection level only keep what a request needs (agent, proxy choice, host).
// Redirects are followed here, not by WinInet, so that the layer's redirect rules hold.
#include "platform/inet/inet.h"

#include "platform/inet/handles.h"
#include "platform/inet/request_rules.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>
// clang-format on

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::platform {

namespace inet_shared {

bool IsIpv6(std::string_view s) {
  if (s.empty() || s.size() >= 46) return false;
  std::string z(s);
  in6_addr a{};
  return inet_pton(AF_INET6, z.c_str(), &a) == 1;
}

namespace {

// Keeps cookies of the process-wide store in memory only (the option of that name).
constexpr DWORD kSuppressCookiePersist = 3;

// ---- wininet.dll, looked up by name --------------------------------------------------------

struct WinInet {
  decltype(&::InternetOpenA) InternetOpenA = nullptr;
  decltype(&::InternetConnectA) InternetConnectA = nullptr;
  decltype(&::HttpOpenRequestA) HttpOpenRequestA = nullptr;
  decltype(&::HttpSendRequestA) HttpSendRequestA = nullptr;
  decltype(&::HttpAddRequestHeadersA) HttpAddRequestHeadersA = nullptr;
  decltype(&::InternetReadFile) InternetReadFile = nullptr;
  decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable = nullptr;
  decltype(&::HttpQueryInfoA) HttpQueryInfoA = nullptr;
  decltype(&::InternetCloseHandle) InternetCloseHandle = nullptr;
  decltype(&::InternetSetOptionA) InternetSetOptionA = nullptr;
  decltype(&::InternetCombineUrlA) InternetCombineUrlA = nullptr;
  decltype(&::InternetCrackUrlA) InternetCrackUrlA = nullptr;
  bool ok = false;
};

template <typename F>
bool Find(HMODULE module, const char* name, F& slot) {
  slot = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return slot != nullptr;
}

// The functions, or ok == false when wininet.dll or one of them is missing. Loaded once; the
// library stays loaded for the life of the process.
const WinInet& Api() {
  static const WinInet api = [] {
    WinInet w;
    HMODULE m = LoadLibraryW(L"wininet.dll");
    if (!m) return w;
    w.ok = Find(m, "InternetOpenA", w.InternetOpenA) &&
           Find(m, "InternetConnectA", w.InternetConnectA) &&
           Find(m, "HttpOpenRequestA", w.HttpOpenRequestA) &&
           Find(m, "HttpSendRequestA", w.HttpSendRequestA) &&
           Find(m, "HttpAddRequestHeadersA", w.HttpAddRequestHeadersA) &&
           Find(m, "InternetReadFile", w.InternetReadFile) &&
           Find(m, "InternetQueryDataAvailable", w.InternetQueryDataAvailable) &&
           Find(m, "HttpQueryInfoA", w.HttpQueryInfoA) &&
           Find(m, "InternetCloseHandle", w.InternetCloseHandle) &&
           Find(m, "InternetSetOptionA", w.InternetSetOptionA) &&
           Find(m, "InternetCombineUrlA", w.InternetCombineUrlA) &&
           Find(m, "InternetCrackUrlA", w.InternetCrackUrlA);
    if (w.ok) {
      // Cookies the server marks persistent stay in memory like the others.
      DWORD suppress = kSuppressCookiePersist;
      w.InternetSetOptionA(nullptr, INTERNET_OPTION_SUPPRESS_BEHAVIOR, &suppress, sizeof(suppress));
    }
    return w;
  }();
  return api;
}

struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  bool ok = false;
};

bool Winsock() {
  static const WinsockUser user;  // never cleaned up: the layer may be used until exit
  return user.ok;
}

// ---- hosts and sessions ------------------------------------------------------------------

DWORD StallMilliseconds() { return static_cast<DWORD>(StallSeconds()) * 1000u; }

// Opens a TCP connection to host:port within the connect limit and closes it again: the
// check that the server (or proxy) is there before a request is opened.
bool Reachable(const std::string& urlHost, int port) {
  if (!Winsock()) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(BareHost(urlHost).c_str(), service.c_str(), &hints, &found) != 0 || !found) {
    return false;
  }
  const ULONGLONG deadline = GetTickCount64() + kInetConnectSeconds * 1000ull;
  bool reached = false;
  for (addrinfo* a = found; a && !reached; a = a->ai_next) {
    SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      reached = true;
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      const ULONGLONG now = GetTickCount64();
      const long long left = now < deadline ? static_cast<long long>(deadline - now) : 0;
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
      if (select(0, nullptr, &writable, &failed, &tv) > 0 && FD_ISSET(s, &writable)) {
        int error = 0;
        int size = sizeof(error);
        reached =
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
            error == 0;
      }
    }
    closesocket(s);
  }
  freeaddrinfo(found);
  return reached;
}

// ---- handles ---------------------------------------------------------------------------

struct Hop {
  bool secure = false;
  std::string host;  // URL form, lower case
  int port = 0;
  std::string target;  // path and query, escaped
  std::string Url() const {
    return std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(port) +
           target;
  }
};

class RequestHandle final : public RequestBase {
 public:
  RequestHandle(std::shared_ptr<const Session> session, Hop first, std::string verb,
                std::string version, std::uint32_t flags)
      : RequestBase(std::move(verb)),
        session_(std::move(session)),
        hop_(std::move(first)),
        version_(std::move(version)),
        flags_(flags) {}

  ~RequestHandle() override { CloseHop(); }

  // The server, or the proxy that serves the first hop, accepts connections.
  bool CheckReachable() const {
    const auto proxy = ProxyFor(session_->proxies, hop_.secure, hop_.host);
    return proxy ? Reachable(proxy->host, proxy->port) : Reachable(hop_.host, hop_.port);
  }

  bool Transfer(std::string_view body) override {
    if (body.size() > 0xffffffffu) return Fail();
    TakeBody(body);
    for (int hops = 0;; ++hops) {
      if (!SendHop()) return Fail();
      if (hops >= kInetMaxRedirects || !ShouldFollow()) break;
    }
    complete_ = FetchRawHeaders();
    if (!complete_) return Fail();
    return true;
  }

  std::size_t Read(void* buffer, std::size_t maxBytes) override {
    if (!buffer || maxBytes == 0 || !complete_ || done_) return 0;
    // Wait for what has arrived, then take no more than that, so that a read returns as soon
    // as the network delivers (InternetReadFile alone waits to fill the whole buffer).
    const WinInet& w = Api();
    DWORD available = 0;
    const ULONGLONG start = GetTickCount64();
    const bool ready = w.InternetQueryDataAvailable(request_, &available, 0, 0) != FALSE;
    const ULONGLONG waited = GetTickCount64() - start;
    DWORD got = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(
        {maxBytes, std::size_t{1} << 30, std::max<std::size_t>(available, 1)}));
    const bool read = ready && w.InternetReadFile(request_, buffer, ask, &got) != FALSE;
    if (!read || got == 0 || Stalled(waited, got)) {
      CloseHop();  // a stalled body is given up: the server may go on trickling
      done_ = true;
      return 0;
    }
    return std::min<std::size_t>(got, maxBytes);
  }

  // Counts a read that waited waitedMs for got bytes. The body stalls once the time spent
  // waiting for it reaches the stall limit with fewer bytes than one per second of it; each
  // such span of waiting starts the count anew. (WinInet's own receive time-out only ends a
  // single wait that gets nothing; this also ends a server that trickles.)
  bool Stalled(ULONGLONG waitedMs, DWORD got) {
    spanWaitedMs_ += waitedMs;
    spanBytes_ += got;
    const ULONGLONG limitMs = StallMilliseconds();
    if (spanWaitedMs_ < limitMs) return false;
    const bool stalled = spanBytes_ * 1000u < spanWaitedMs_;
    spanWaitedMs_ = 0;
    spanBytes_ = 0;
    return stalled;
  }

  bool QueryHeaders(char* buffer, std::size_t* length) const override {
    return CopyRawHeaders(complete_, raw_, buffer, length);
  }

 private:
  bool Fail() {
    done_ = true;
    complete_ = false;
    CloseHop();
    return false;
  }

  void CloseHop() {
    const WinInet& w = Api();
    if (!w.ok) return;
    if (request_) w.InternetCloseHandle(request_);
    if (connection_) w.InternetCloseHandle(connection_);
    if (internet_) w.InternetCloseHandle(internet_);
    request_ = connection_ = internet_ = nullptr;
  }

  void SetTimeouts(HINTERNET h) const {
    const WinInet& w = Api();
    DWORD connect = kInetConnectSeconds * 1000u;
    DWORD stall = StallMilliseconds();
    DWORD retries = 1;
    w.InternetSetOptionA(h, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof(connect));
    w.InternetSetOptionA(h, INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof(retries));
    w.InternetSetOptionA(h, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof(stall));
    w.InternetSetOptionA(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof(stall));
  }

  // Opens WinInet's handles for the current hop and sends it; true once a response's headers
  // have arrived.
  bool SendHop() {
    const WinInet& w = Api();
    CloseHop();
    const auto proxy = ProxyFor(session_->proxies, hop_.secure, hop_.host);
    if (proxy) {
      // The proxy is chosen here for this hop; WinInet gets it for every scheme, and the
      // loopback addresses are not left out of it.
      const std::string text = proxy->host + ":" + std::to_string(proxy->port);
      internet_ = w.InternetOpenA(session_->agent.c_str(), INTERNET_OPEN_TYPE_PROXY, text.c_str(),
                                  "<-loopback>", 0);
    } else {
      internet_ =
          w.InternetOpenA(session_->agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    }
    if (!internet_) return false;
    SetTimeouts(internet_);
    connection_ = w.InternetConnectA(internet_, BareHost(hop_.host).c_str(),
                                     static_cast<INTERNET_PORT>(hop_.port), nullptr, nullptr,
                                     INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection_) return false;
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                  INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTH |
                  INTERNET_FLAG_KEEP_CONNECTION;
    if (flags_ & kInetFlagNoCookies) flags |= INTERNET_FLAG_NO_COOKIES;
    if (hop_.secure) flags |= INTERNET_FLAG_SECURE;
    request_ = w.HttpOpenRequestA(connection_, verb_.c_str(), hop_.target.c_str(), version_.c_str(),
                                  nullptr, nullptr, flags, 0);
    if (!request_) return false;
    SetTimeouts(request_);
    // Line by line, so that lines of the same name all go out; a User-Agent line takes the
    // place of the agent's.
    for (const std::string& line : lines_) {
      const std::string name = HeaderName(line);
      if (crossOrigin_ && (IEquals(name, "Cookie") || IEquals(name, "Authorization"))) continue;
      const DWORD how = IEquals(name, "User-Agent")
                            ? HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE
                            : HTTP_ADDREQ_FLAG_ADD;
      if (!w.HttpAddRequestHeadersA(request_, line.c_str(), static_cast<DWORD>(line.size()), how)) {
        return false;
      }
    }
    const bool withBody = hasBody_ && verb_ != "HEAD";
    return w.HttpSendRequestA(request_, nullptr, 0,
                              withBody && !body_.empty() ? body_.data() : nullptr,
                              withBody ? static_cast<DWORD>(body_.size()) : 0) != FALSE;
  }

  std::string QueryText(DWORD info) const {
    std::string value(256, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
      DWORD size = static_cast<DWORD>(value.size());
      if (Api().HttpQueryInfoA(request_, info, value.data(), &size, nullptr)) {
        value.resize(std::min<std::size_t>(size, value.size()));
        return value;
      }
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= value.size()) return "";
      value.assign(static_cast<std::size_t>(size) + 1, '\0');
    }
    return "";
  }

  int Status() const {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!Api().HttpQueryInfoA(request_, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                              &size, nullptr)) {
      return 0;
    }
    return static_cast<int>(status);
  }

  // The raw headers of the response in hand: each line ended by CR LF, then an empty line.
  bool FetchRawHeaders() {
    std::string raw = QueryText(HTTP_QUERY_RAW_HEADERS_CRLF);
    const std::size_t zero = raw.find('\0');
    if (zero != std::string::npos) raw.resize(zero);
    while (!raw.empty() && (raw.back() == '\r' || raw.back() == '\n')) raw.pop_back();
    if (raw.empty()) return false;
    raw_ = raw + "\r\n\r\n";
    return true;
  }

  // Decides, with the response of the current hop in hand, whether to follow it; on yes the
  // next hop is set up.
  bool ShouldFollow() {
    if (flags_ & kInetFlagNoAutoRedirect) return false;
    const int status = Status();
    if (!IsFollowedStatus(status)) return false;
    std::string location(Trim(QueryText(HTTP_QUERY_LOCATION).c_str()));
    if (location.empty()) return false;
    const WinInet& w = Api();
    const std::string base = hop_.Url();
    std::string combined(base.size() + location.size() * 3 + 64, '\0');
    DWORD size = static_cast<DWORD>(combined.size());
    if (!w.InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &size, 0)) {
      // Too small a buffer: size now tells what it needs.
      if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= combined.size()) return false;
      combined.assign(static_cast<std::size_t>(size) + 1, '\0');
      size = static_cast<DWORD>(combined.size());
      if (!w.InternetCombineUrlA(base.c_str(), location.c_str(), combined.data(), &size, 0)) {
        return false;
      }
    }
    combined.resize(std::min<std::size_t>(size, combined.size()));
    std::vector<char> host(combined.size() + 1), path(combined.size() + 1),
        extra(combined.size() + 1);
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host.data();
    parts.dwHostNameLength = static_cast<DWORD>(host.size());
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!w.InternetCrackUrlA(combined.c_str(), static_cast<DWORD>(combined.size()), 0, &parts)) {
      return false;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
      return false;
    }
    Hop next;
    next.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    auto urlHost = UrlFormHost(std::string_view(host.data(), parts.dwHostNameLength), IsIpv6);
    if (!urlHost || parts.nPort < 1) return false;
    next.host = Lower(*urlHost);
    next.port = parts.nPort;
    next.target = EscapeTarget(std::string(path.data(), parts.dwUrlPathLength) +
                               std::string(extra.data(), parts.dwExtraInfoLength));
    if (!SchemeChangeAllowed(hop_.secure, next.secure, flags_)) return false;
    FollowRedirect(status,
                   next.secure == hop_.secure && next.host == hop_.host && next.port == hop_.port);
    hop_ = std::move(next);
    return true;
  }

  std::shared_ptr<const Session> session_;
  Hop hop_;
  std::string version_;
  std::uint32_t flags_;

  HINTERNET internet_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;

  bool complete_ = false;
  bool done_ = false;
  ULONGLONG spanWaitedMs_ = 0;
  ULONGLONG spanBytes_ = 0;
  std::string raw_;
};

}  // namespace

bool Start() { return Api().ok; }

std::unique_ptr<RequestBase> OpenRequest(RequestStart start) {
  auto request = std::make_unique<RequestHandle>(
      std::move(start.session), Hop{start.secure, start.host, start.port, start.target},
      std::move(start.verb), std::string(start.http10 ? "HTTP/1.0" : "HTTP/1.1"), start.flags);
  if (!request->CheckReachable()) return nullptr;
  return request;
}

}  // namespace inet_shared

void InetClearCookieStore() {
  const inet_shared::WinInet& w = inet_shared::Api();
  if (!w.ok) return;
  // Every cookie of the store is a session cookie (persistence is suppressed), so ending the
  // browsing session forgets them all.
  w.InternetSetOptionA(nullptr, INTERNET_OPTION_END_BROWSER_SESSION, nullptr, 0);
}

}  // namespace quorvel::platform
