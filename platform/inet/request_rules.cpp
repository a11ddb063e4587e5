#include "platform/inet/request_rules.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "platform/inet/inet.h"

namespace quorvel::platform::inet_shared {

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

std::optional<std::string> UrlFormHost(std::string_view host, Ipv6Check isIpv6) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    if (!isIpv6(host.substr(1, host.size() - 2))) return std::nullopt;
    return std::string(host);
  }
  if (host.find(':') != std::string_view::npos) {
    if (!isIpv6(host)) return std::nullopt;
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

std::string BareHost(std::string_view urlHost) {
  if (urlHost.size() >= 2 && urlHost.front() == '[')
    urlHost = urlHost.substr(1, urlHost.size() - 2);
  return std::string(urlHost);
}

std::optional<Endpoint> ParseEndpoint(std::string_view value, Ipv6Check isIpv6) {
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
  auto urlHost = UrlFormHost(host, isIpv6);
  if (!urlHost) return std::nullopt;
  return Endpoint{*urlHost, port};
}

std::optional<ProxyRules> ParseProxyRules(std::string_view proxy, std::string_view bypass,
                                          Ipv6Check isIpv6) {
  std::optional<Endpoint> any, http, https;
  const auto entries = SplitAny(proxy, " \t\r\n;");
  if (entries.empty()) return std::nullopt;
  for (std::string_view entry : entries) {
    const std::size_t eq = entry.find('=');
    std::string_view scheme;
    if (eq != std::string_view::npos) {
      scheme = entry.substr(0, eq);
      entry.remove_prefix(eq + 1);
    }
    auto endpoint = ParseEndpoint(entry, isIpv6);
    if (!endpoint) return std::nullopt;
    if (eq == std::string_view::npos) {
      if (!any) any = endpoint;
    } else if (IEquals(scheme, "http")) {
      if (!http) http = endpoint;
    } else if (IEquals(scheme, "https")) {
      if (!https) https = endpoint;
    }  // Entries for other schemes do not concern HTTP.
  }
  ProxyRules rules;
  rules.httpProxy = http ? http : any;
  rules.httpsProxy = https ? https : any;
  for (std::string_view entry : SplitAny(bypass, " \t\r\n;")) rules.bypass.emplace_back(entry);
  return rules;
}

std::optional<Endpoint> ProxyFor(const ProxyRules& rules, bool secure, std::string_view urlHost) {
  const auto& proxy = secure ? rules.httpsProxy : rules.httpProxy;
  if (!proxy) return std::nullopt;
  const std::string bare = BareHost(urlHost);
  for (const std::string& pattern : rules.bypass) {
    if (pattern == "<local>") {
      if (bare.find('.') == std::string::npos && bare.find(':') == std::string::npos) {
        return std::nullopt;
      }
    } else if (WildcardMatch(pattern, bare) || WildcardMatch(pattern, urlHost)) {
      return std::nullopt;
    }
  }
  return proxy;
}

std::string AgentLine(std::string_view agent) {
  return std::string(agent.substr(0, agent.find_first_of(std::string_view("\r\n\0", 3))));
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

std::vector<std::string> RequestHeaderLines(std::string_view headerBlock) {
  std::vector<std::string> lines;
  for (std::string_view line : SplitAny(headerBlock, "\r\n")) {
    if (line.find(':') == std::string_view::npos || HeaderName(line).empty()) continue;
    lines.emplace_back(line);
  }
  return lines;
}

bool CopyRawHeaders(bool complete, std::string_view raw, char* buffer, std::size_t* length) {
  if (!complete) {
    *length = 0;
    return false;
  }
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

bool IsFollowedStatus(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool SchemeChangeAllowed(bool fromSecure, bool toSecure, std::uint32_t flags) {
  if (fromSecure && !toSecure) return false;
  if (!fromSecure && toSecure && !(flags & kInetFlagIgnoreRedirectToHttps)) return false;
  return true;
}

bool RedirectDropsBody(int status, std::string_view verb) {
  return status == 303 || ((status == 301 || status == 302) && verb == "POST");
}

}  // namespace quorvel::platform::inet_shared
