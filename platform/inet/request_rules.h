// The rules of the request layer that do not depend on the backend: reading the proxy text and
// the bypass list, choosing the proxy for a host, the host and target forms that go into a URL,
// which redirects are followed, and the small text helpers these need. No system header is
// needed, so every backend (and a test) uses the same code; the IPv6 address check comes from
// the backend, which has the system's parser.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::platform::inet_shared {

// ---- text ----------------------------------------------------------------------------------

char LowerAscii(char c);
std::string Lower(std::string_view s);
// Compares without case for ASCII letters.
bool IEquals(std::string_view a, std::string_view b);
bool IStartsWith(std::string_view s, std::string_view prefix);
// Without the blanks (space, tab) at both ends.
std::string_view Trim(std::string_view s);
// Splits at any of the separator bytes; empty pieces are dropped.
std::vector<std::string_view> SplitAny(std::string_view s, std::string_view separators);
// 1 to 65535 written in at most five decimal digits, nothing else; otherwise nothing.
std::optional<int> ParsePort(std::string_view digits);
// '*' matches any run of bytes; ASCII letters compare without case.
bool WildcardMatch(std::string_view pattern, std::string_view text);

// ---- hosts ---------------------------------------------------------------------------------

// True when the text is an IPv6 address (no brackets). Supplied by the backend.
using Ipv6Check = bool (*)(std::string_view);

// The host as it goes into a URL (IPv6 in brackets), or nothing when it is not a host name
// (ASCII letters, digits, '-', '.', '_'; 1 to 253 bytes), an IPv4 address or an IPv6 address.
std::optional<std::string> UrlFormHost(std::string_view host, Ipv6Check isIpv6);
// The host without the brackets of an IPv6 address, as name resolution takes it.
std::string BareHost(std::string_view urlHost);

// ---- proxies -------------------------------------------------------------------------------

struct Endpoint {
  std::string host;  // URL form
  int port = 0;
};

struct ProxyRules {
  std::optional<Endpoint> httpProxy;
  std::optional<Endpoint> httpsProxy;
  std::vector<std::string> bypass;  // patterns; "<local>" stands for hosts without '.' or ':'
};

// "[http://]host[:port][/...]", the port 80 when left out; nothing when it cannot be read.
std::optional<Endpoint> ParseEndpoint(std::string_view value, Ipv6Check isIpv6);

// The proxies from a proxy text (entries "host:port", "http=host:port", "https=host:port"
// apart by blanks, line breaks or ';'; the first of each kind counts, a scheme entry before one
// for any scheme, entries for other schemes are ignored) and the bypass list (patterns apart by
// the same separators). Nothing when the proxy text is empty or an entry cannot be read.
std::optional<ProxyRules> ParseProxyRules(std::string_view proxy, std::string_view bypass,
                                          Ipv6Check isIpv6);

// The proxy a request to urlHost goes through, or nothing when it goes straight to the server.
std::optional<Endpoint> ProxyFor(const ProxyRules& rules, bool secure, std::string_view urlHost);

// ---- requests ------------------------------------------------------------------------------

// The agent as it goes out in a header line: up to its first CR, LF or NUL.
std::string AgentLine(std::string_view agent);
// The stall limit in seconds: the variable kInetStallSecondsVariable when it holds a whole
// number from 1 to 86400, else kInetStallSeconds.
long StallSeconds();
// Percent-encodes the bytes that cannot stand in a request target as they are; the target
// starts with '/'.
std::string EscapeTarget(std::string_view path);
// A method name: one or more token bytes.
bool IsToken(std::string_view s);
// The name of a header line (before its ':'), blanks around it removed.
std::string HeaderName(std::string_view line);
// The lines of a caller's header block that go out: those with a ':' and a name.
std::vector<std::string> RequestHeaderLines(std::string_view headerBlock);

// Hands out a raw header block as InetQueryRawHeaders does: nothing (length 0) before the
// block is complete; the size it needs, zero byte included, when buffer is null or too small;
// else the block and a zero byte, and its length without that byte.
bool CopyRawHeaders(bool complete, std::string_view raw, char* buffer, std::size_t* length);

// ---- redirects -----------------------------------------------------------------------------

// 301, 302, 303, 307 and 308 are followed (unless the request asks for none).
bool IsFollowedStatus(int status);
// Never down to plain http; up to https only with kInetFlagIgnoreRedirectToHttps.
bool SchemeChangeAllowed(bool fromSecure, bool toSecure, std::uint32_t flags);
// True when the next hop goes without the body: a 303, or a 301/302 after POST. The method
// then becomes GET (HEAD stays HEAD).
bool RedirectDropsBody(int status, std::string_view verb);

}  // namespace quorvel::platform::inet_shared
