// The request layer over libcurl. One request handle drives one easy handle through its own
// multi handle, so the body can be handed out piece by piece as the reader asks for it.
#include "platform/inet/inet.h"

#include "platform/inet/handles.h"
#include "platform/inet/header_block.h"
#include "platform/inet/request_rules.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace quorvel::platform {

namespace inet_shared {

bool IsIpv6(std::string_view s) {
  if (s.size() >= INET6_ADDRSTRLEN) return false;
  std::string z(s);
  in6_addr a{};
  return inet_pton(AF_INET6, z.c_str(), &a) == 1;
}

namespace {

// ---- hosts and sessions ------------------------------------------------------------------

bool IsIpv4(std::string_view s) {
  if (s.size() >= INET_ADDRSTRLEN) return false;
  std::string z(s);
  in_addr a{};
  return inet_pton(AF_INET, z.c_str(), &a) == 1;
}

bool IsNumericUrlHost(std::string_view urlHost) {
  if (!urlHost.empty() && urlHost.front() == '[') return true;
  return IsIpv4(urlHost);
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

// ---- handles ---------------------------------------------------------------------------

struct Hop {
  std::string url;
  bool secure = false;
  std::string host;  // URL form, lower case
  int port = 0;
};

class RequestHandle final : public RequestBase {
 public:
  RequestHandle(std::shared_ptr<const Session> session, Hop first, std::string verb,
                long httpVersion, std::uint32_t flags)
      : RequestBase(std::move(verb)),
        session_(std::move(session)),
        hop_(std::move(first)),
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
    const auto proxy = ProxyFor(session_->proxies, hop_.secure, hop_.host);
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

  bool Transfer(std::string_view body) override {
    TakeBody(body);
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (!easy_ || !multi_) return Fail();
    SetFixedOptions();
    if (!ConfigureHop()) return Fail();
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return Fail();
    added_ = true;
    stallLimit_ = std::chrono::seconds(StallSeconds());
    lastByte_ = Clock::now();
    while (!done_ && !complete_) {
      Pump();
      if (!done_ && !complete_) Wait();
    }
    return complete_;
  }

  std::size_t Read(void* buffer, std::size_t maxBytes) override {
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

  bool QueryHeaders(char* buffer, std::size_t* length) const override {
    return CopyRawHeaders(complete_, block_.raw(), buffer, length);
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
    const auto proxy = ProxyFor(session_->proxies, hop_.secure, hop_.host);
    proxyText_ = proxy ? "http://" + proxy->host + ":" + std::to_string(proxy->port) : "";
    curl_easy_setopt(e, CURLOPT_PROXY, proxyText_.c_str());

    curl_slist_free_all(headerList_);
    headerList_ = nullptr;
    headerTail_ = nullptr;
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

  // Appends at the tail kept here: curl_slist_append walks the list it is given to its end,
  // so handing it the tail keeps a block of many lines linear.
  bool Append(const std::string& item) {
    curl_slist* grown = curl_slist_append(headerTail_, item.c_str());
    if (!grown) return false;
    if (!headerList_) headerList_ = grown;
    headerTail_ = headerTail_ ? headerTail_->next : grown;
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
    if (!done_) CheckStall();
  }

  // Ends the exchange once no byte has come in (header lines, body) and none of the request
  // has gone out for the stall limit in a row. Bytes are counted as they pass, not averaged,
  // so a stall ends at the limit, wherever it starts.
  void CheckStall() {
    curl_off_t sent = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_SIZE_UPLOAD_T, &sent) == CURLE_OK && sent != sentSeen_) {
      sentSeen_ = sent;
      lastByte_ = Clock::now();
    }
    if (Clock::now() - lastByte_ >= stallLimit_) done_ = true;
  }

  // Waits for the network, at most a second and never past the stall limit.
  void Wait() {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(stallLimit_ - (Clock::now() - lastByte_));
    const int ms =
        static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 1, 1000));
    curl_multi_poll(multi_, nullptr, 0, ms, nullptr);
  }

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
    if (!IsFollowedStatus(status)) return false;
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
      if (!SchemeChangeAllowed(hop_.secure, next.secure, flags_)) ok = false;
    }
    curl_free(url);
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(u);
    if (!ok) return false;
    FollowRedirect(status,
                   next.secure == hop_.secure && next.host == hop_.host && next.port == hop_.port);
    next_ = std::move(next);
    return true;
  }

  std::size_t Header(std::string_view line) {
    const std::size_t size = line.size();
    lastByte_ = Clock::now();
    if (complete_ || following_) return size;  // trailers after the body
    // libcurl gives up on a header section (tunnel answer and interim blocks included) that
    // passes kInetMaxHeaderBytes, checking at each line end after this callback: the line
    // that ends the block would reach the caller before the failure. Failing here keeps the
    // rule whole: a section over the limit is lost, whichever line passes it.
    long before = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_HEADER_SIZE, &before) == CURLE_OK && before >= 0 &&
        static_cast<std::size_t>(before) + size > kInetMaxHeaderBytes) {
      return 0;
    }
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
    r->lastByte_ = Clock::now();
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
  long httpVersion_;
  std::uint32_t flags_;

  std::string proxyText_;

  CURL* easy_ = nullptr;
  CURLM* multi_ = nullptr;
  curl_slist* headerList_ = nullptr;
  curl_slist* headerTail_ = nullptr;
  curl_slist* resolveList_ = nullptr;
  bool added_ = false;

  int preFd_ = -1;
  std::string preIp_;
  long prePort_ = 0;
  bool preHanded_ = false;
  bool handoverPending_ = false;

  bool done_ = false;
  bool complete_ = false;
  bool following_ = false;
  int hops_ = 0;

  HeaderBlockReader block_;

  std::string pending_;
  std::size_t pendingPos_ = 0;

  using Clock = std::chrono::steady_clock;
  Clock::duration stallLimit_{};
  Clock::time_point lastByte_;
  curl_off_t sentSeen_ = 0;
};

}  // namespace

bool Start() {
  Globals();
  return true;
}

std::unique_ptr<RequestBase> OpenRequest(RequestStart start) {
  const std::string url = std::string(start.secure ? "https://" : "http://") + start.host + ":" +
                          std::to_string(start.port) + start.target;
  auto request = std::make_unique<RequestHandle>(
      std::move(start.session), Hop{url, start.secure, start.host, start.port},
      std::move(start.verb), start.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1,
      start.flags);
  if (!request->Connect()) return nullptr;
  return request;
}

}  // namespace inet_shared

void InetClearCookieStore() {
  inet_shared::CurlGlobals& g = inet_shared::Globals();
  if (!g.share) return;
  CURL* e = curl_easy_init();
  if (!e) return;
  curl_easy_setopt(e, CURLOPT_SHARE, g.share);
  curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
  curl_easy_setopt(e, CURLOPT_COOKIELIST, "ALL");
  curl_easy_cleanup(e);
}

}  // namespace quorvel::platform
