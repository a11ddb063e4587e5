// The request layer over libcurl. One request handle drives one easy handle through its own
// multi handle, so the body can be handed out piece by piece as the reader asks for it.
#include "platform/inet/inet.h"

#include "platform/inet/header_block.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::platform {

struct InetHandle {
  enum class Kind { kInternet, kConnection, kRequest };
  explicit InetHandle(Kind k) : kind(k) {}
  virtual ~InetHandle() = default;
  InetHandle(const InetHandle&) = delete;
  InetHandle& operator=(const InetHandle&) = delete;
  const Kind kind;
};

namespace {

// ---- small text helpers ----------------------------------------------------------------

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IStartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && IEquals(s.substr(0, prefix.size()), prefix);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Splits at any of the separator bytes; empty pieces are dropped.
std::vector<std::string_view> SplitAny(std::string_view s, std::string_view separators) {
  std::vector<std::string_view> parts;
  std::size_t begin = 0;
  while (begin <= s.size()) {
    std::size_t end = s.find_first_of(separators, begin);
    if (end == std::string_view::npos) end = s.size();
    if (end > begin) parts.push_back(s.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

std::optional<int> ParsePort(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  int port = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (port < 1 || port > 65535) return std::nullopt;
  return port;
}

bool IsIpv4(std::string_view s) {
  if (s.size() >= INET_ADDRSTRLEN) return false;
  std::string z(s);
  in_addr a{};
  return inet_pton(AF_INET, z.c_str(), &a) == 1;
}

bool IsIpv6(std::string_view s) {
  if (s.size() >= INET6_ADDRSTRLEN) return false;
  std::string z(s);
  in6_addr a{};
  return inet_pton(AF_INET6, z.c_str(), &a) == 1;
}

// The host as it goes into a URL (IPv6 in brackets), or nothing when it is not a host name,
// an IPv4 address or an IPv6 address.
std::optional<std::string> UrlFormHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    if (!IsIpv6(host.substr(1, host.size() - 2))) return std::nullopt;
    return std::string(host);
  }
  if (host.find(':') != std::string_view::npos) {
    if (!IsIpv6(host)) return std::nullopt;
    return "[" + std::string(host) + "]";
  }
  if (host.empty() || host.size() > 253) return std::nullopt;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.' || c == '_';
    if (!ok) return std::nullopt;
  }
  return std::string(host);
}

bool IsNumericUrlHost(std::string_view urlHost) {
  if (!urlHost.empty() && urlHost.front() == '[') return true;
  return IsIpv4(urlHost);
}

// '*' matches any run of bytes; ASCII letters compare without case.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
  std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// ---- sessions and proxies --------------------------------------------------------------

struct Endpoint {
  std::string host;  // URL form
  int port = 0;
};

struct Session {
  std::string agent;
  std::optional<Endpoint> httpProxy;
  std::optional<Endpoint> httpsProxy;
  std::vector<std::string> bypass;
};

std::optional<Endpoint> ParseEndpoint(std::string_view value) {
  if (IStartsWith(value, "http://")) value.remove_prefix(7);
  while (!value.empty() && value.back() == '/') value.remove_suffix(1);
  std::string_view host = value;
  int port = 80;
  if (!value.empty() && value.front() == '[') {
    const std::size_t close = value.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = value.substr(0, close + 1);
    std::string_view rest = value.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return std::nullopt;
      auto p = ParsePort(rest.substr(1));
      if (!p) return std::nullopt;
      port = *p;
    }
  } else if (const std::size_t colon = value.rfind(':'); colon != std::string_view::npos) {
    host = value.substr(0, colon);
    auto p = ParsePort(value.substr(colon + 1));
    if (!p) return std::nullopt;
    port = *p;
  }
  auto urlHost = UrlFormHost(host);
  if (!urlHost) return std::nullopt;
  return Endpoint{*urlHost, port};
}

// Fills the session's proxies from a proxy text; false when the text cannot be read.
bool ParseProxyText(std::string_view text, Session& session) {
  std::optional<Endpoint> any, http, https;
  const auto entries = SplitAny(text, " \t\r\n;");
  if (entries.empty()) return false;
  for (std::string_view entry : entries) {
    const std::size_t eq = entry.find('=');
    std::string_view scheme;
    if (eq != std::string_view::npos) {
      scheme = entry.substr(0, eq);
      entry.remove_prefix(eq + 1);
    }
    auto endpoint = ParseEndpoint(entry);
    if (!endpoint) return false;
    if (eq == std::string_view::npos) {
      if (!any) any = endpoint;
    } else if (IEquals(scheme, "http")) {
      if (!http) http = endpoint;
    } else if (IEquals(scheme, "https")) {
      if (!https) https = endpoint;
    }  // Entries for other schemes do not concern HTTP.
  }
  session.httpProxy = http ? http : any;
  session.httpsProxy = https ? https : any;
  return true;
}

std::optional<Endpoint> ProxyFor(const Session& session, bool secure, std::string_view urlHost) {
  const auto& proxy = secure ? session.httpsProxy : session.httpProxy;
  if (!proxy) return std::nullopt;
  std::string_view bare = urlHost;
  if (bare.size() >= 2 && bare.front() == '[') bare = bare.substr(1, bare.size() - 2);
  for (const std::string& pattern : session.bypass) {
    if (pattern == "<local>") {
      if (bare.find('.') == std::string_view::npos && bare.find(':') == std::string_view::npos) {
        return std::nullopt;
      }
    } else if (WildcardMatch(pattern, bare) || WildcardMatch(pattern, urlHost)) {
      return std::nullopt;
    }
  }
  return proxy;
}

// ---- process-wide libcurl state ----------------------------------------------------------

struct CurlGlobals {
  CURLSH* share = nullptr;
  std::mutex locks[CURL_LOCK_DATA_LAST];
};

void ShareLock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
  auto* g = static_cast<CurlGlobals*>(user);
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) g->locks[data].lock();
}

void ShareUnlock(CURL*, curl_lock_data data, void* user) {
  auto* g = static_cast<CurlGlobals*>(user);
  if (data >= 0 && data < CURL_LOCK_DATA_LAST) g->locks[data].unlock();
}

// Initialises libcurl once and holds the in-memory cookie store every request shares unless
// it asks for no cookies. Lives until the process ends.
CurlGlobals& Globals() {
  static CurlGlobals* globals = [] {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    auto* g = new CurlGlobals;
    g->share = curl_share_init();
    if (g->share) {
      curl_share_setopt(g->share, CURLSHOPT_LOCKFUNC, ShareLock);
      curl_share_setopt(g->share, CURLSHOPT_UNLOCKFUNC, ShareUnlock);
      curl_share_setopt(g->share, CURLSHOPT_USERDATA, g);
      curl_share_setopt(g->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    return g;
  }();
  return *globals;
}

long StallSeconds() {
  const char* v = std::getenv(kInetStallSecondsVariable);
  if (v && *v) {
    long n = 0;
    auto [end, ec] = std::from_chars(v, v + std::strlen(v), n);
    if (ec == std::errc() && *end == '\0' && n >= 1 && n <= 86400) return n;
  }
  return kInetStallSeconds;
}

// Percent-encodes the bytes that cannot stand in a request target as they are.
std::string EscapeTarget(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size() + 1);
  if (path.empty() || path.front() != '/') out.push_back('/');
  for (unsigned char c : path) {
    const bool escape = c <= 0x20 || c >= 0x7f || c == '"' || c == '<' || c == '>' || c == '\\' ||
                        c == '^' || c == '`' || c == '{' || c == '|' || c == '}';
    if (escape) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xf]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    if (!ok) return false;
  }
  return true;
}

std::string HeaderName(std::string_view line) {
  const std::size_t colon = line.find(':');
  return std::string(Trim(line.substr(0, colon == std::string_view::npos ? 0 : colon)));
}

// ---- handles ---------------------------------------------------------------------------

struct InternetHandle final : InetHandle {
  InternetHandle() : InetHandle(Kind::kInternet) {}
  std::shared_ptr<const Session> session;
};

struct ConnectionHandle final : InetHandle {
  ConnectionHandle() : InetHandle(Kind::kConnection) {}
  std::shared_ptr<const Session> session;
  std::string host;  // URL form
  int port = 0;
};

struct Hop {
  std::string url;
  bool secure = false;
  std::string host;  // URL form, lower case
  int port = 0;
};

class RequestHandle final : public InetHandle {
 public:
  RequestHandle(std::shared_ptr<const Session> session, Hop first, std::string verb,
                long httpVersion, std::uint32_t flags)
      : InetHandle(Kind::kRequest),
        session_(std::move(session)),
        hop_(std::move(first)),
        verb_(std::move(verb)),
        httpVersion_(httpVersion),
        flags_(flags) {}

  ~RequestHandle() override {
    if (multi_ && easy_ && added_) curl_multi_remove_handle(multi_, easy_);
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    curl_slist_free_all(headerList_);
    curl_slist_free_all(resolveList_);
    if (preFd_ >= 0 && !preHanded_) close(preFd_);
  }

  // Opens the TCP connection to the first hop's server or proxy.
  bool Connect() {
    const auto proxy = ProxyFor(*session_, hop_.secure, hop_.host);
    const Endpoint target = proxy ? *proxy : Endpoint{hop_.host, hop_.port};
    CURL* probe = curl_easy_init();
    if (!probe) return false;
    const std::string url = "http://" + target.host + ":" + std::to_string(target.port) + "/";
    curl_easy_setopt(probe, CURLOPT_URL, url.c_str());
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(probe, CURLOPT_PROXY, "");
    curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kInetConnectSeconds));
    curl_easy_setopt(probe, CURLOPT_PROTOCOLS_STR, "http");
    bool ok = curl_easy_perform(probe) == CURLE_OK;
    curl_socket_t fd = CURL_SOCKET_BAD;
    char* ip = nullptr;
    long port = 0;
    ok = ok && curl_easy_getinfo(probe, CURLINFO_ACTIVESOCKET, &fd) == CURLE_OK &&
         fd != CURL_SOCKET_BAD && curl_easy_getinfo(probe, CURLINFO_PRIMARY_IP, &ip) == CURLE_OK &&
         ip && *ip && curl_easy_getinfo(probe, CURLINFO_PRIMARY_PORT, &port) == CURLE_OK;
    if (ok) {
      preFd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
      preIp_ = ip;
      prePort_ = port;
      ok = preFd_ >= 0;
    }
    curl_easy_cleanup(probe);
    if (!ok) return false;
    if (!IsNumericUrlHost(target.host)) {
      const std::string ipForm =
          preIp_.find(':') != std::string::npos ? "[" + preIp_ + "]" : preIp_;
      const std::string entry = target.host + ":" + std::to_string(target.port) + ":" + ipForm;
      resolveList_ = curl_slist_append(nullptr, entry.c_str());
    }
    return true;
  }

  bool Send(std::string_view headerBlock, std::string_view body) {
    if (started_) return false;
    started_ = true;
    for (std::string_view line : SplitAny(headerBlock, "\r\n")) {
      if (line.find(':') == std::string_view::npos || HeaderName(line).empty()) continue;
      lines_.emplace_back(line);
    }
    body_.assign(body.data(), body.size());
    hasBody_ = !body_.empty() || verb_ == "POST" || verb_ == "PUT" || verb_ == "PATCH";
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_) return Fail();
    SetFixedOptions();
    if (!ConfigureHop()) return Fail();
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return Fail();
    added_ = true;
    while (!done_ && !complete_) {
      Pump();
      if (!done_ && !complete_) Wait();
    }
    return complete_;
  }

  std::size_t Read(void* buffer, std::size_t maxBytes) {
    if (!buffer || maxBytes == 0 || !started_) return 0;
    while (pendingPos_ == pending_.size()) {
      pending_.clear();
      pendingPos_ = 0;
      if (done_) return 0;
      Pump();
      if (pending_.empty() && !done_) Wait();
    }
    const std::size_t n = std::min(maxBytes, pending_.size() - pendingPos_);
    std::memcpy(buffer, pending_.data() + pendingPos_, n);
    pendingPos_ += n;
    return n;
  }

  bool QueryHeaders(char* buffer, std::size_t* length) {
    if (!complete_) {
      *length = 0;
      return false;
    }
    const std::string& raw = block_.raw();
    const std::size_t need = raw.size() + 1;
    if (!buffer || *length < need) {
      *length = need;
      return false;
    }
    std::memcpy(buffer, raw.data(), raw.size());
    buffer[raw.size()] = '\0';
    *length = raw.size();
    return true;
  }

 private:
  bool Fail() {
    done_ = true;
    return false;
  }

  void SetFixedOptions() {
    CURL* e = easy_;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, httpVersion_);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, static_cast<long>(kInetConnectSeconds));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, StallSeconds());
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 64L * 1024L);
    curl_easy_setopt(e, CURLOPT_NOPROXY, "");
    if (!session_->agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, session_->agent.c_str());
    if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca) {
      curl_easy_setopt(e, CURLOPT_CAINFO, ca);
    }
    if (!(flags_ & kInetFlagNoCookies)) {
      CurlGlobals& g = Globals();
      if (g.share) curl_easy_setopt(e, CURLOPT_SHARE, g.share);
      curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    }
    if (resolveList_) curl_easy_setopt(e, CURLOPT_RESOLVE, resolveList_);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &RequestHandle::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &RequestHandle::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, &RequestHandle::OnOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &RequestHandle::OnSockopt);
    curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, this);
  }

  // Points the easy handle at the current hop: address, method and body, proxy, header lines.
  bool ConfigureHop() {
    CURL* e = easy_;
    block_.Reset();
    complete_ = false;
    if (curl_easy_setopt(e, CURLOPT_URL, hop_.url.c_str()) != CURLE_OK) return false;
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    if (verb_ == "HEAD") {
      curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (hasBody_) {
      curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
      curl_easy_setopt(e, CURLOPT_POSTFIELDS, body_.data());
      if (verb_ != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    } else if (verb_ != "GET") {
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb_.c_str());
    }
    const auto proxy = ProxyFor(*session_, hop_.secure, hop_.host);
    proxyText_ = proxy ? "http://" + proxy->host + ":" + std::to_string(proxy->port) : "";
    curl_easy_setopt(e, CURLOPT_PROXY, proxyText_.c_str());

    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    bool hasAccept = false, hasExpect = false, hasContentType = false;
    for (const std::string& line : lines_) {
      const std::string name = HeaderName(line);
      if (crossOrigin_ && (IEquals(name, "Cookie") || IEquals(name, "Authorization"))) continue;
      hasAccept = hasAccept || IEquals(name, "Accept");
      hasExpect = hasExpect || IEquals(name, "Expect");
      hasContentType = hasContentType || IEquals(name, "Content-Type");
      const std::string_view value = Trim(std::string_view(line).substr(line.find(':') + 1));
      // A line with an empty value would tell libcurl to drop that header; "Name;" sends it.
      const std::string item = value.empty() ? name + ";" : line;
      if (!Append(item)) return false;
    }
    // Keep out what libcurl would add by itself and the caller did not ask for.
    if (!hasAccept && !Append("Accept:")) return false;
    if (!hasExpect && !Append("Expect:")) return false;
    if (!hasContentType && !Append("Content-Type:")) return false;
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList_);
    return true;
  }

  bool Append(const std::string& item) {
    curl_slist* next = curl_slist_append(headerList_, item.c_str());
    if (!next) return false;
    headerList_ = next;
    return true;
  }

  void Pump() {
    int running = 0;
    if (curl_multi_perform(multi_, &running) != CURLM_OK) {
      done_ = true;
      return;
    }
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &queued)) {
      if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy_) OnTransferDone();
    }
  }

  void Wait() { curl_multi_poll(multi_, nullptr, 0, 1000, nullptr); }

  void OnTransferDone() {
    if (!following_) {
      done_ = true;
      return;
    }
    following_ = false;
    curl_multi_remove_handle(multi_, easy_);
    added_ = false;
    hop_ = std::move(next_);
    ++hops_;
    if (!ConfigureHop() || curl_multi_add_handle(multi_, easy_) != CURLM_OK) {
      done_ = true;
      return;
    }
    added_ = true;
  }

  // Decides, at the end of a final response's headers, whether to follow it; fills next_.
  bool ShouldFollow() {
    if (flags_ & kInetFlagNoAutoRedirect) return false;
    const int status = block_.status();
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308) {
      return false;
    }
    if (block_.location().empty() || hops_ >= kInetMaxRedirects) return false;
    CURLU* u = curl_url();
    if (!u) return false;
    bool ok = curl_url_set(u, CURLUPART_URL, hop_.url.c_str(), 0) == CURLUE_OK &&
              curl_url_set(u, CURLUPART_URL, block_.location().c_str(),
                           CURLU_URLENCODE | CURLU_ALLOW_SPACE | CURLU_PATH_AS_IS) == CURLUE_OK;
    char *url = nullptr, *scheme = nullptr, *host = nullptr, *port = nullptr;
    ok = ok && curl_url_get(u, CURLUPART_URL, &url, 0) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK;
    Hop next;
    if (ok) {
      const std::string s = Lower(scheme);
      next.url = url;
      next.secure = s == "https";
      next.host = Lower(host);
      auto p = ParsePort(port);
      ok = (s == "http" || s == "https") && p.has_value();
      if (p) next.port = *p;
      // Never down to plain http; up to https only when allowed.
      if (hop_.secure && !next.secure) ok = false;
      if (!hop_.secure && next.secure && !(flags_ & kInetFlagIgnoreRedirectToHttps)) ok = false;
    }
    curl_free(url);
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(u);
    if (!ok) return false;
    if (next.secure != hop_.secure || next.host != hop_.host || next.port != hop_.port) {
      crossOrigin_ = true;
    }
    if (status == 303 || ((status == 301 || status == 302) && verb_ == "POST")) {
      if (verb_ != "HEAD") verb_ = "GET";
      hasBody_ = false;
      body_.clear();
    }
    next_ = std::move(next);
    return true;
  }

  std::size_t Header(std::string_view line) {
    const std::size_t size = line.size();
    if (complete_ || following_) return size;  // trailers after the body
    if (block_.Take(line) != HeaderBlockReader::Step::kEnd) return size;
    if (ShouldFollow()) {
      following_ = true;
      return 0;  // ends this transfer; the next hop starts when it is done
    }
    complete_ = true;
    return size;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<RequestHandle*>(self)->Header(std::string_view(data, size * count));
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* r = static_cast<RequestHandle*>(self);
    const std::size_t n = size * count;
    if (!r->following_) r->pending_.append(data, n);
    return n;
  }

  // The first connection of the transfer uses the socket Connect() opened.
  static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address) {
    auto* r = static_cast<RequestHandle*>(self);
    if (purpose == CURLSOCKTYPE_IPCXN && r->preFd_ >= 0 && !r->preHanded_ &&
        r->MatchesPreconnected(address)) {
      r->preHanded_ = true;
      r->handoverPending_ = true;
      return r->preFd_;
    }
    const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
  }

  static int OnSockopt(void* self, curl_socket_t fd, curlsocktype) {
    auto* r = static_cast<RequestHandle*>(self);
    if (r->handoverPending_ && fd == r->preFd_) {
      r->handoverPending_ = false;
      return CURL_SOCKOPT_ALREADY_CONNECTED;
    }
    return CURL_SOCKOPT_OK;
  }

  bool MatchesPreconnected(const curl_sockaddr* address) const {
    sockaddr_storage ss{};
    std::memcpy(&ss, &address->addr, std::min<std::size_t>(address->addrlen, sizeof(ss)));
    char ip[INET6_ADDRSTRLEN] = {};
    int port = 0;
    if (ss.ss_family == AF_INET && address->addrlen >= sizeof(sockaddr_in)) {
      const auto* in = reinterpret_cast<const sockaddr_in*>(&ss);
      if (!inet_ntop(AF_INET, &in->sin_addr, ip, sizeof(ip))) return false;
      port = ntohs(in->sin_port);
    } else if (ss.ss_family == AF_INET6 && address->addrlen >= sizeof(sockaddr_in6)) {
      const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&ss);
      if (!inet_ntop(AF_INET6, &in6->sin6_addr, ip, sizeof(ip))) return false;
      port = ntohs(in6->sin6_port);
    } else {
      return false;
    }
    return preIp_ == ip && prePort_ == port;
  }

  std::shared_ptr<const Session> session_;
  Hop hop_;
  Hop next_;
  std::string verb_;
  long httpVersion_;
  std::uint32_t flags_;

  std::vector<std::string> lines_;
  std::string body_;
  bool hasBody_ = false;
  bool crossOrigin_ = false;
  std::string proxyText_;

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headerList_ = nullptr;
  curl_slist* resolveList_ = nullptr;
  bool added_ = false;

  int preFd_ = -1;
  std::string preIp_;
  long prePort_ = 0;
  bool preHanded_ = false;
  bool handoverPending_ = false;

  bool started_ = false;
  bool done_ = false;
  bool complete_ = false;
  bool following_ = false;
  int hops_ = 0;

  HeaderBlockReader block_;

  std::string pending_;
  std::size_t pendingPos_ = 0;
};

}  // namespace

InetHandle* InetOpen(std::string_view agent, int accessType, std::string_view proxy,
                     std::string_view bypass) {
  auto session = std::make_shared<Session>();
  // The agent goes out in a header line: it ends at the first line break.
  session->agent = std::string(agent.substr(0, agent.find_first_of(std::string_view("\r\n\0", 3))));
  if (accessType == kInetOpenProxy) {
    if (!ParseProxyText(proxy, *session)) return nullptr;
    for (std::string_view entry : SplitAny(bypass, " \t\r\n;")) session->bypass.emplace_back(entry);
  } else if (accessType != kInetOpenDirect) {
    return nullptr;
  }
  Globals();
  auto* handle = new InternetHandle;
  handle->session = std::move(session);
  return handle;
}

InetHandle* InetConnect(InetHandle* internet, std::string_view host, int port) {
  if (!internet || internet->kind != InetHandle::Kind::kInternet) return nullptr;
  if (port < 1 || port > 65535) return nullptr;
  auto urlHost = UrlFormHost(host);
  if (!urlHost) return nullptr;
  auto* handle = new ConnectionHandle;
  handle->session = static_cast<InternetHandle*>(internet)->session;
  handle->host = Lower(*urlHost);
  handle->port = port;
  return handle;
}

InetHandle* InetOpenRequest(InetHandle* connection, std::string_view verb,
                            std::string_view objectPath, std::string_view version,
                            std::uint32_t flags) {
  if (!connection || connection->kind != InetHandle::Kind::kConnection) return nullptr;
  if (!IsToken(verb)) return nullptr;
  auto* c = static_cast<ConnectionHandle*>(connection);
  Hop first;
  first.secure = (flags & kInetFlagSecure) != 0;
  first.host = c->host;
  first.port = c->port;
  first.url = std::string(first.secure ? "https://" : "http://") + c->host + ":" +
              std::to_string(c->port) + EscapeTarget(objectPath);
  const long httpVersion = version == "HTTP/1.0" ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1;
  auto request = std::make_unique<RequestHandle>(c->session, std::move(first), std::string(verb),
                                                 httpVersion, flags);
  if (!request->Connect()) return nullptr;
  return request.release();
}

bool InetSendRequest(InetHandle* request, std::string_view headerBlock, std::string_view body) {
  if (!request || request->kind != InetHandle::Kind::kRequest) return false;
  return static_cast<RequestHandle*>(request)->Send(headerBlock, body);
}

std::size_t InetReadFile(InetHandle* request, void* buffer, std::size_t maxBytes) {
  if (!request || request->kind != InetHandle::Kind::kRequest) return 0;
  return static_cast<RequestHandle*>(request)->Read(buffer, maxBytes);
}

bool InetQueryRawHeaders(InetHandle* request, char* buffer, std::size_t* length) {
  if (!length) return false;
  if (!request || request->kind != InetHandle::Kind::kRequest) {
    *length = 0;
    return false;
  }
  return static_cast<RequestHandle*>(request)->QueryHeaders(buffer, length);
}

void InetCloseHandle(InetHandle* handle) { delete handle; }

void InetClearCookieStore() {
  CurlGlobals& g = Globals();
  if (!g.share) return;
  CURL* e = curl_easy_init();
  if (!e) return;
  curl_easy_setopt(e, CURLOPT_SHARE, g.share);
  curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(e, CURLOPT_COOKIELIST, "ALL");
  curl_easy_cleanup(e);
}

}  // namespace quorvel::platform
