#include "web/url_parts.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <string>

#include "text/convert.h"

namespace quorvel {
namespace {

struct HostCase {
  const char* address;
  bool domainOnly;
  bool keepPort;
  std::optional<int> suffixDots;
  const char* host;
};

TEST(UrlHost, EveryMode) {
  const char* deep = "http://a.b.c.d.e:8080/p";
  const HostCase cases[] = {
      // plain mode
      {"http://a.B.c:8080/p/q?x=1", false, false, {}, "a.b.c"},
      {"http://a.B.c:8080/p/q?x=1", false, true, {}, "a.b.c:8080"},
      {"http://a.B.c:8080/p/q?x=1", true, false, {}, "b.c"},
      {"http://a.B.c:8080/p/q?x=1", true, true, {}, "b.c:8080"},
      {"a.b.c", false, false, {}, "a.b.c"},
      {"HTTPS://Q.B.C", false, false, {}, "q.b.c"},
      {"http://q:81", false, false, {}, "q"},
      {"http://a.b.c.d.e/p", true, false, {}, "d.e"},
      {"localhost", true, false, {}, "localhost"},
      {"", false, false, {}, ""},
      // suffix-count mode: the presence of the count selects it, 0 included
      {deep, false, false, 2, "b.c.d.e"},
      {deep, true, false, 2, "c.d.e"},
      {deep, false, false, 1, "c.d.e"},
      {deep, true, false, 1, "d.e"},
      {deep, false, false, 0, "d.e"},
      {deep, true, false, 0, "e"},
      {deep, false, true, 0, "d.e:8080"},
      {deep, false, false, 4, "a.b.c.d.e"},
      {deep, true, false, 4, "a.b.c.d.e"},
      {deep, true, false, -3, "e"},
      {deep, true, false, INT_MAX, "a.b.c.d.e"},
      {"http://x.y.b.c/p", false, false, 1, "y.b.c"},
      {"http://x.y.b.c/p", true, false, 1, "b.c"},
      {"b.c", false, false, 1, "b.c"},
      {"b.c", true, false, 1, "b.c"},
      {"HTTPS://WWW.Sub.Example.com.cn:8443/x", false, false, 2, "sub.example.com.cn"},
      {"HTTPS://WWW.Sub.Example.com.cn:8443/x", true, true, 2, "example.com.cn:8443"},
      // a full address inside the query of an address without a scheme is not the host
      {"a.com/login?next=http://b.com/x", false, false, {}, "a.com"},
      {"a.com/login?next=http://b.com/x", false, false, 1, "a.com"},
      // nor behind "?" or "#": the host runs up to the first "/" as for any address without a
      // scheme ("a.com?x=1" below), never into the address the query or fragment carries
      {"a.com?x=1", false, false, {}, "a.com?x=1"},
      {"a.com?u=http://b.com/", false, false, {}, "a.com?u=http"},
      {"a.com?u=http://b.com:81/", false, true, {}, "a.com?u=http:"},
      {"a.com#http://b.com/", false, false, {}, "a.com#http"},
      {"A.com#x?http://B.com/", true, false, {}, "a.com#x?http"},
      {"a.com?u=http://b.com/", false, false, 1, "a.com?u=b.com"},
      // a scheme with nothing of "/", "?" or "#" before it is still the scheme
      {"http://b.com/?u=http://c.com/", false, false, {}, "b.com"},
      {"http://b.com?u=http://c.com/", false, false, {}, "b.com?u=http"},
      // an IPv6 literal keeps its colons; only a colon behind "]" starts the port
      {"http://[::1]:8080/x", false, false, {}, "[::1]"},
      {"http://[::1]:8080/x", false, true, {}, "[::1]:8080"},
      {"https://[::1]/x", false, false, 0, "[::1]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlHost(Text(c.address), c.domainOnly, c.keepPort, c.suffixDots).str(), c.host)
        << c.address << " domainOnly=" << c.domainOnly << " keepPort=" << c.keepPort
        << " suffixDots=" << (c.suffixDots ? std::to_string(*c.suffixDots) : "none");
  }
}

// Suffix-count mode as a plain sequence of reverse searches for ".", one per step.
std::string SuffixHostModel(const std::string& address, bool domainOnly, int n) {
  Text t = ReplaceText(ReplaceText(ToLower(Text(address)), Text("http://")), Text("https://"));
  if (const int slash = FindText(t, Text("/")); slash != -1) t = TextLeft(t, slash - 1);
  const int length = TextLength(t);
  int d = length;
  for (int i = 0; i < n; ++i) d = FindTextReverse(t, Text("."), d);
  const int x = FindTextReverse(t, Text("."), d);
  if (domainOnly) {
    t = TextRight(t, length - x);
  } else if (x != -1) {
    const int y = FindTextReverse(t, Text("."), x);
    if (y != -1) t = TextRight(t, length - y);
  }
  if (const int colon = FindText(t, Text(":")); colon != -1) t = TextLeft(t, colon - 1);
  return t.str();
}

// Dots that are second bytes of two-byte characters, dots at either end and runs of dots:
// every count steps back over the dots a reverse search sees, and no others.
TEST(UrlHost, SuffixCountAgreesWithReverseSearches) {
  std::mt19937 rng(3);
  const char* pieces[] = {".", ".", "a", "B", "\x81", "\xA1\xA1", ":8", "/", "http://"};
  for (int round = 0; round < 4000; ++round) {
    std::string s;
    for (int k = rng() % 12; k > 0; --k) s += pieces[rng() % std::size(pieces)];
    const int n = static_cast<int>(rng() % 8) - 1;
    for (bool domainOnly : {false, true}) {
      ASSERT_EQ(UrlHost(Text(s), domainOnly, false, n).str(), SuffixHostModel(s, domainOnly, n))
          << testing::PrintToString(s) << " n=" << n << " domainOnly=" << domainOnly;
    }
  }
}

// A host of many labels costs time in proportion to its length, whatever the count.
TEST(UrlHost, SuffixCountOnAHostOfManyLabels) {
  std::string host;
  for (int i = 0; i < 200000; ++i) host += "a.";
  host += "cn";
  const std::string address = "http://" + host + ":81/x";
  EXPECT_EQ(UrlHost(Text(address), false, false, INT_MAX).str(), host);
  EXPECT_EQ(UrlHost(Text(address), true, false, INT_MAX).str(), host);
  EXPECT_EQ(UrlHost(Text(address), false, true, 2).str(), "a.a.a.cn:81");
  EXPECT_EQ(UrlHost(Text(address), true, false, 199999).str(), host.substr(2));
}

struct PortPathCase {
  const char* address;
  int port;
  const char* path;
};

TEST(UrlPortAndPath, Table) {
  const PortPathCase cases[] = {
      {"http://a.B.c:8080/p/q?x=1", 8080, "/p/q?x=1"},
      {"http://a.b.c/P/Q?X=Y#Frag", 80, "/P/Q?X=Y#Frag"},
      {"a.b.c", 80, "/"},
      {"HTTPS://Q.B.C", 443, "/"},
      {"https://q.b.c:8443/Login", 8443, "/Login"},
      {"http://q:81", 81, "/"},
      {"http://q:/", 0, "/"},
      {"", 80, "/"},
      // a host that also occurs inside the scheme: the path still starts behind the host
      {"http://t/x", 80, "/x"},
      {"http://h:8080/p", 8080, "/p"},
      {"https://s/a/b", 443, "/a/b"},
      {"a.com/login?next=http://b.com/x", 80, "/login?next=http://b.com/x"},
      // "http://" in a query or fragment of an address without a scheme gives no port: the
      // host text ends with the colon of that "http:", so the port is empty (0, as for "q:")
      {"a.com?u=http://b.com:81/", 0, "//b.com:81/"},
      {"a.com#http://b.com:81/", 0, "//b.com:81/"},
      {"a.com?u=x:81", 81, "/"},
      {"http://[::1]:8080/x", 8080, "/x"},
      {"http://[::1]/x", 80, "/x"},
      {"https://[::1]", 443, "/"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UrlPort(Text(c.address)), c.port) << c.address;
    EXPECT_EQ(UrlPath(Text(c.address)).str(), c.path) << c.address;
  }
}

struct BetweenCase {
  const char* text;
  const char* start;
  const char* end;
  int startPos;
  bool ignoreCase;
  const char* out;
};

TEST(TextBetween, Table) {
  const BetweenCase cases[] = {
      {"Set-Cookie: sid=1; path=/", "Set-Cookie:", ";", 0, false, " sid=1"},
      {"a;b=", "b=", ";", 0, false, ""},
      {"a=1;", "x=", ";", 0, false, ""},
      {"ab", "a", "b", 0, false, ""},
      {";a=1;", "a=", ";", 0, false, "1"},
      {"x=1;x=2;", "x=", ";", 4, false, "2"},
      {"x=1;x=2;", "x=", ";", -5, false, "1"},
      {"x=1;", "x=", ";", 9, false, ""},
      {"SID=9;", "sid=", ";", 0, true, "9"},
      {"SID=9;", "sid=", ";", 0, false, ""},
      {"abc", "c", "", 0, false, ""},
      // "@" as the second byte of a two-byte character is no match
      {"\x81@x@y;", "@", ";", 0, false, "y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextBetween(Text(c.text), Text(c.start), Text(c.end), c.startPos, c.ignoreCase).str(),
              c.out)
        << c.text << " [" << c.start << "] [" << c.end << "]";
  }
}

TEST(TextBetween, QuoteMarkerStandsForDoubleQuote) {
  const Text quote = Gbk("#引号");
  ASSERT_EQ(quote.str(), "#\xD2\xFD\xBA\xC5");
  const Text page("<input id=\"7\" name=\"n\">");
  EXPECT_EQ(TextBetween(page, ConcatText(Text("id="), quote), quote).str(), "7");
  EXPECT_EQ(TextBetween(page, ConcatText(Text("name="), quote), quote).str(), "n");
  // Only the markers are rewritten, never the text searched.
  EXPECT_EQ(TextBetween(ConcatText(Text("k="), quote, Text("v;")), Text("k="), Text(";")),
            ConcatText(quote, Text("v")));
}

TEST(HeaderValue, Table) {
  const char* cases[][2] = {
      {"User-Agent:  Foo/1.0 ", "Foo/1.0"},
      {"no colon here", ""},
      {"Host: a:81", "a:81"},
      {"X:", ""},
      {"X:\xA1\xA1v\xA1\xA1 ", "v"},
      {"X: \tv\r", "\tv\r"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(HeaderValue(Text(c[0])).str(), c[1]) << c[0];
}

// Random addresses and header lines built from the bytes these routines look at: nothing
// reads past the input (the sanitizer build checks) and the results keep their shape.
TEST(UrlParts, AnyBytes) {
  std::mt19937 rng(11);
  const char* pieces[] = {"http://", "https://", "HTTP://", "/",        ":", ".",
                          "[",       "]",        "a",       "B",        "8", "?",
                          "=",       " ",        "\x81",    "\xA1\xA1", "#", "\""};
  for (int n = 0; n < 3000; ++n) {
    std::string s;
    for (int k = rng() % 10; k > 0; --k) s += pieces[rng() % std::size(pieces)];
    const Text a(s);
    const Text path = UrlPath(a);
    EXPECT_EQ(TextLeft(path, 1).str(), "/") << s;
    for (std::optional<int> dots : {std::optional<int>(), std::optional<int>(0),
                                    std::optional<int>(1), std::optional<int>(3)}) {
      for (bool domainOnly : {false, true}) {
        const Text host = UrlHost(a, domainOnly, true, dots);
        EXPECT_EQ(host, ToLower(host)) << s;
        EXPECT_EQ(FindText(host, Text("/")), -1) << s;
      }
    }
    UrlPort(a);
    HeaderValue(a);
    TextBetween(a, Text("a"), Text("."), static_cast<int>(rng() % 12) - 2, true);
  }
}

}  // namespace
}  // namespace quorvel
