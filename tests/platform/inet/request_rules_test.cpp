// The request rules both backends share: proxy text and bypass list, URL forms of hosts and
// targets, the header lines that go out, and which redirects are followed and how.
#include "platform/inet/request_rules.h"

#include <gtest/gtest.h>

#ifdef _WIN32
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <optional>
#include <string>
#include <vector>

#include "platform/inet/inet.h"

namespace quorvel::platform::inet_shared {
namespace {

// The system's parser, as the backends pass it.
bool SystemIpv6(std::string_view s) {
  if (s.empty() || s.size() >= 46) return false;
  std::string z(s);
  in6_addr a{};
  return inet_pton(AF_INET6, z.c_str(), &a) == 1;
}

std::string Show(const std::optional<Endpoint>& e) {
  return e ? e->host + ":" + std::to_string(e->port) : "none";
}

TEST(ProxyRules, ProxyText) {
  struct Case {
    std::string text;
    std::string http;  // "host:port", "none", or "fail" when the text is refused
    std::string https;
  };
  const Case cases[] = {
      {"proxy:8080", "proxy:8080", "proxy:8080"},
      {"proxy", "proxy:80", "proxy:80"},
      {"HTTP://Proxy.Example:3128/", "Proxy.Example:3128", "Proxy.Example:3128"},
      {"[::1]:8080", "[::1]:8080", "[::1]:8080"},
      {"[::1]", "[::1]:80", "[::1]:80"},
      {"127.0.0.1:1", "127.0.0.1:1", "127.0.0.1:1"},
      // Scheme entries win over entries for any scheme; the first of each kind counts.
      {"http=a:1;https=b:2", "a:1", "b:2"},
      {"any:9 http=a:1", "a:1", "any:9"},
      {"HTTPS=b:2\tfirst:1\r\nsecond:2", "first:1", "b:2"},
      {"http=a:1 http=c:3", "a:1", "none"},
      {"ftp=f:1;socks=s:2 d:3", "d:3", "d:3"},
      {"ftp=f:1", "none", "none"},
      // Refused: nothing, or an entry that is not a host with a port.
      {"", "fail", ""},
      {" ;\t\r\n", "fail", ""},
      {"a:0", "fail", ""},
      {"a:65536", "fail", ""},
      {"a:123456", "fail", ""},
      {"a:8x", "fail", ""},
      {"a:", "fail", ""},
      {"a:+80", "fail", ""},
      {"good:1 bad:port", "fail", ""},
      {"good:1 h\xc3\xa9:1", "fail", ""},
      {"a/b:1", "fail", ""},
      {"[::1", "fail", ""},
      {"[::1]x", "fail", ""},
      {"[zz]:1", "fail", ""},
      {"http=", "fail", ""},
      {std::string(254, 'h') + ":1", "fail", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto rules = ParseProxyRules(c.text, "", SystemIpv6);
    if (c.http == "fail") {
      EXPECT_FALSE(rules.has_value());
      continue;
    }
    ASSERT_TRUE(rules.has_value());
    EXPECT_EQ(Show(rules->httpProxy), c.http);
    EXPECT_EQ(Show(rules->httpsProxy), c.https);
  }
}

TEST(ProxyRules, Bypass) {
  struct Case {
    std::string bypass;
    std::string urlHost;
    bool secure;
    std::string proxy;  // the proxy chosen, or "none" for straight to the server
  };
  const Case cases[] = {
      {"", "example.com", false, "p:1"},
      {"", "example.com", true, "none"},  // no proxy for https in the text
      {"<local>", "intranet", false, "none"},
      {"<local>", "example.com", false, "p:1"},
      {"<local>", "[::1]", false, "p:1"},  // an address is not a local name
      {"*.example.com", "www.example.com", false, "none"},
      {"*.example.com", "example.com", false, "p:1"},
      {"*.EXAMPLE.com", "WWW.example.COM", false, "none"},
      {"other.org; example.com", "example.com", false, "none"},
      {"exam*le.c*m\tx", "example.com", false, "none"},
      {"example.co", "example.com", false, "p:1"},
      {"::1", "[::1]", false, "none"},
      {"[::1]", "[::1]", false, "none"},
      {"127.0.0.*", "127.0.0.1", false, "none"},
      {"*", "anything", false, "none"},
      {"**a**", "a", false, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bypass + " / " + c.urlHost);
    const auto rules = ParseProxyRules("http=p:1", c.bypass, SystemIpv6);
    ASSERT_TRUE(rules.has_value());
    EXPECT_EQ(Show(ProxyFor(*rules, c.secure, c.urlHost)), c.proxy);
  }
}

TEST(RequestRules, UrlFormHost) {
  struct Case {
    std::string host;
    std::optional<std::string> urlForm;
  };
  const Case cases[] = {
      {"example.com", "example.com"},
      {"Host_1-a.b", "Host_1-a.b"},
      {"10.0.0.1", "10.0.0.1"},
      {"::1", "[::1]"},
      {"[::1]", "[::1]"},
      {"[fe80::1:2]", "[fe80::1:2]"},
      {std::string(253, 'a'), std::string(253, 'a')},
      {std::string(254, 'a'), std::nullopt},
      {"", std::nullopt},
      {"[]", std::nullopt},
      {"[example.com]", std::nullopt},
      {"a:b", std::nullopt},
      {"a b", std::nullopt},
      {"a/b", std::nullopt},
      {std::string("a\0b", 3), std::nullopt},
      {"h\xc3\xa9", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(UrlFormHost(c.host, SystemIpv6), c.urlForm);
  }
  EXPECT_EQ(BareHost("[::1]"), "::1");
  EXPECT_EQ(BareHost("example.com"), "example.com");
}

TEST(RequestRules, EscapeTarget) {
  struct Case {
    std::string path;
    std::string target;
  };
  const Case cases[] = {
      {"", "/"},
      {"/", "/"},
      {"a?b=c", "/a?b=c"},
      {"/a b", "/a%20b"},
      {"/%41/~x?q=1&r=*#f", "/%41/~x?q=1&r=*#f"},
      {"/\"<>\\^`{|}", "/%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {std::string("/\0\t\r\n\x7f\xff", 7), "/%00%09%0D%0A%7F%FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(EscapeTarget(c.path), c.target);
  }
}

TEST(RequestRules, HeaderLinesAndAgent) {
  const std::vector<std::string> lines =
      RequestHeaderLines("A: 1\r\n\r\nno colon\r\n: no name\r\n \t: blank name\r\nB:2\nC :  3  \r");
  EXPECT_EQ(lines, (std::vector<std::string>{"A: 1", "B:2", "C :  3  "}));
  EXPECT_TRUE(RequestHeaderLines("").empty());
  EXPECT_EQ(HeaderName("  Content-Type\t: x"), "Content-Type");
  EXPECT_EQ(HeaderName("no colon"), "");

  EXPECT_EQ(AgentLine("agent/1.0"), "agent/1.0");
  EXPECT_EQ(AgentLine("agent\r\nX-Evil: 1"), "agent");
  EXPECT_EQ(AgentLine("agent\nX: 1"), "agent");
  EXPECT_EQ(AgentLine(std::string("a\0b", 3)), "a");

  EXPECT_TRUE(IsToken("GET"));
  EXPECT_TRUE(IsToken("M-SEARCH!#$%&'*+.^_`|~9"));
  EXPECT_FALSE(IsToken(""));
  EXPECT_FALSE(IsToken("GE T"));
  EXPECT_FALSE(IsToken("GET\r\n"));
  EXPECT_FALSE(IsToken("(GET)"));
}

TEST(RequestRules, CopyRawHeaders) {
  const std::string raw = "HTTP/1.1 200 OK\r\n\r\n";
  std::size_t length = 99;
  EXPECT_FALSE(CopyRawHeaders(false, raw, nullptr, &length));
  EXPECT_EQ(length, 0u);  // nothing before the block is complete
  length = 0;
  EXPECT_FALSE(CopyRawHeaders(true, raw, nullptr, &length));
  EXPECT_EQ(length, raw.size() + 1);  // the size asked for counts the zero byte
  std::string buffer(raw.size() + 1, 'x');
  length = raw.size();  // one short: nothing is written
  EXPECT_FALSE(CopyRawHeaders(true, raw, buffer.data(), &length));
  EXPECT_EQ(length, raw.size() + 1);
  EXPECT_EQ(buffer, std::string(raw.size() + 1, 'x'));
  length = buffer.size();
  EXPECT_TRUE(CopyRawHeaders(true, raw, buffer.data(), &length));
  EXPECT_EQ(length, raw.size());
  EXPECT_EQ(buffer, raw + '\0');
}

TEST(RequestRules, Redirects) {
  for (int status : {301, 302, 303, 307, 308}) EXPECT_TRUE(IsFollowedStatus(status)) << status;
  for (int status : {0, 200, 300, 304, 305, 306, 309, 399, 404}) {
    EXPECT_FALSE(IsFollowedStatus(status)) << status;
  }

  EXPECT_TRUE(SchemeChangeAllowed(false, false, 0));
  EXPECT_TRUE(SchemeChangeAllowed(true, true, 0));
  EXPECT_FALSE(SchemeChangeAllowed(false, true, 0));
  EXPECT_TRUE(SchemeChangeAllowed(false, true, kInetFlagIgnoreRedirectToHttps));
  EXPECT_FALSE(SchemeChangeAllowed(true, false, 0));
  EXPECT_FALSE(SchemeChangeAllowed(true, false, kInetFlagIgnoreRedirectToHttps));

  struct Case {
    int status;
    std::string verb;
    bool dropsBody;
  };
  const Case cases[] = {
      {303, "POST", true},  {303, "PUT", true},   {303, "GET", true},   {303, "HEAD", true},
      {301, "POST", true},  {302, "POST", true},  {301, "PUT", false},  {302, "GET", false},
      {307, "POST", false}, {308, "POST", false}, {301, "post", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RedirectDropsBody(c.status, c.verb), c.dropsBody) << c.status << " " << c.verb;
  }
}

}  // namespace
}  // namespace quorvel::platform::inet_shared
