// WebRequest against real loopback servers: the recording HTTP(S) server, a scripted raw
// server, and a real tinyproxy.
#include "web/web_request.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/inet/inet.h"
#include "tests/support/net_util.h"
#include "tests/support/request_layer.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/support/tinyproxy_runner.h"
#include "tests/support/tls_identity.h"

namespace quorvel {
namespace {

using quorvel::test::CallerLines;
using quorvel::test::RecordedRequest;
using quorvel::test::Response;
using quorvel::test::ScopedEnv;
using quorvel::test::ScriptedServer;
using quorvel::test::TempDir;
using quorvel::test::TestServer;
using quorvel::test::TinyproxyRunner;
using quorvel::test::TlsIdentity;
using quorvel::test::TrustedAuthority;

const std::string kForm = "daqu=%E7%94%B5%E4%BF%A1%E4%B8%80&nickname=%E6%B5%8B%E8%AF%95";
const std::string kFourLines =
    "Accept: */*\r\nReferer: {url}\r\nAccept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded";

std::string FourLines(const std::string& url) {
  std::string s = kFourLines;
  s.replace(s.find("{url}"), 5, url);
  return s;
}

std::string Str(const Bytes& b) { return std::string(b.view()); }
std::string Str(const Text& t) { return std::string(t.view()); }

std::vector<std::string> Lines(const std::string& block) {
  std::vector<std::string> out;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = block.find("\r\n", begin);
    out.push_back(block.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return out;
    begin = end + 2;
  }
}

class WebRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InetClearCookieStore();
    ASSERT_TRUE(server_.ok());
    server_.Route("*", "/echo", [](const RecordedRequest& r, Response& res) {
      res.set_content(r.Method() + " [" + r.body + "]", "text/plain");
    });
    server_.Route("GET", "/cookies", [](const RecordedRequest&, Response& res) {
      res.headers.emplace("Set-Cookie", "a=1; Path=/");
      res.headers.emplace("set-cookie", "b=2");
      res.set_content("with cookies", "text/plain");
    });
  }
  TestServer server_;
};

// ---- the query's call and the header block ------------------------------------------------

TEST_F(WebRequestTest, TheQuerysCallSendsExactlyTheFourDefaultLinesAndTheForm) {
  const std::string url = server_.Url("/rank/rank.php");
  server_.Route("POST", "/rank/rank.php", [](const RecordedRequest&, Response& res) {
    res.set_content("<html>page</html>", "text/html");
  });
  const Bytes page = WebRequest(Text(url), 1, Text(kForm));
  EXPECT_EQ(Str(page), "<html>page</html>");
  const RecordedRequest r = server_.Last();
  EXPECT_EQ(r.requestLine, "POST /rank/rank.php HTTP/1.1");
  // The four lines in order, and of the request layer's own lines only those HTTP needs.
  EXPECT_EQ(CallerLines(r), Lines(FourLines(url)));
  EXPECT_EQ(r.Values("Host"), std::vector<std::string>{server_.HostPort()});
  EXPECT_EQ(r.Values("User-Agent"), std::vector<std::string>{kDefaultUserAgent});
  EXPECT_EQ(r.Values("Content-Length"), std::vector<std::string>{std::to_string(kForm.size())});
  EXPECT_EQ(r.body, kForm);
  EXPECT_EQ(WebRequestFlags(Text(url), false, false), 0x80004010u);
}

TEST_F(WebRequestTest, AnAddressWithoutPortGoesToPort80) {
  // Seen by a recording proxy, which needs no privileged port: the absolute target and the
  // Host line carry no port, which in HTTP means port 80 (any other port would be written).
  ScriptedServer proxy([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nseen");
  });
  ASSERT_TRUE(proxy.ok());
  const Text proxyText("127.0.0.1:" + std::to_string(proxy.port()));
  EXPECT_EQ(Str(WebRequest(Text("http://rank.example/rank/rank.php"), 1, Text(kForm), nullptr,
                           nullptr, nullptr, nullptr, false, nullptr, proxyText)),
            "seen");
  ASSERT_EQ(proxy.Requests().size(), 1u);
  // Port 80 either way: unwritten, or written as the default it is.
  const std::string line = proxy.Requests()[0].requestLine;
  EXPECT_TRUE(line == "POST http://rank.example/rank/rank.php HTTP/1.1" ||
              line == "POST http://rank.example:80/rank/rank.php HTTP/1.1")
      << line;
  EXPECT_EQ(proxy.Requests()[0].Value("Host"), "rank.example");

  // And at a real server on port 80, where that port can be bound. A loopback address of this
  // process's own, so port 80 is not contended by other tests.
  const std::string host = "127.0." + std::to_string(getpid() % 250 + 2) + ".8";
  TestServer on80(80, host);
  if (!on80.ok()) GTEST_SKIP() << "port 80 on " << host << " cannot be bound here";
  on80.Route("POST", "/rank/rank.php",
             [](const RecordedRequest&, Response& res) { res.set_content("eighty", "text/html"); });
  const std::string url = "http://" + host + "/rank/rank.php";
  EXPECT_EQ(Str(WebRequest(Text(url), 1, Text(kForm))), "eighty");
  EXPECT_EQ(on80.Last().Value("Host"), host);
  EXPECT_EQ(on80.Last().Value("Referer"), url);
}

TEST(WebRequestFlagsTest, FlagsFollowTheSchemeTheCookieTextAndTheRedirectChoice) {
  struct Case {
    const char* url;
    bool cookies;
    bool noRedirect;
    std::uint32_t flags;
  };
  const std::vector<Case> cases = {
      {"http://h/p", false, false, 0x80004010u}, {"https://h/p", false, false, 0x80800010u},
      {"http://h/p", true, false, 0x80084010u},  {"https://h/p", true, false, 0x80880010u},
      {"http://h/p", false, true, 0x80204010u},  {"https://h/p", false, true, 0x80A00010u},
      {"http://h/p", true, true, 0x80284010u},   {"HTTPS://h/p", true, true, 0x80A80010u},
      {"ftp://h/p", false, false, 0x80004010u},  {"", false, false, 0x80004010u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WebRequestFlags(Text(c.url), c.cookies, c.noRedirect), c.flags)
        << c.url << " " << c.cookies << " " << c.noRedirect;
  }
}

TEST_F(WebRequestTest, TheHeaderBlockKeepsTheCallersLinesAndAddsOnlyMissingDefaults) {
  const std::string url = server_.Url("/echo");
  struct Case {
    std::string given;
    std::string sent;
  };
  const std::vector<Case> cases = {
      {"", FourLines(url)},
      {"Accept: text/html",
       "Accept: text/html\r\nReferer: " + url +
           "\r\nAccept-Language: zh-cn\r\nContent-Type: application/x-www-form-urlencoded"},
      {"accept: text/html", "accept: text/html\r\n" + FourLines(url)},
      {"Referer: http://elsewhere/\r\nAccept-Language: en\r\nContent-Type: text/plain",
       "Referer: http://elsewhere/\r\nAccept-Language: en\r\nContent-Type: text/plain\r\n"
       "Accept: */*"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.given);
    Text headers(c.given);
    EXPECT_EQ(Str(WebRequest(Text(url), 0, Text(), nullptr, nullptr, &headers)), "GET []");
    EXPECT_EQ(Str(headers), c.sent);
    // The block went out line by line, beside the lines HTTP itself needs.
    EXPECT_EQ(CallerLines(server_.Last()), Lines(c.sent));
  }
}

TEST_F(WebRequestTest, TheCookieLineIsAddedWheneverTheCookieTextIsNotEmpty) {
  Text cookies("y=2");
  Text headers("Cookie: x=1");
  WebRequest(Text(server_.Url("/echo")), 0, Text(), &cookies, nullptr, &headers);
  EXPECT_EQ(server_.Last().Values("Cookie"), (std::vector<std::string>{"x=1", "y=2"}));
  EXPECT_EQ(Lines(Str(headers)).back(), "Cookie: y=2");

  Text empty;
  headers = Text();
  WebRequest(Text(server_.Url("/echo")), 0, Text(), &empty, nullptr, &headers);
  EXPECT_FALSE(server_.Last().Has("Cookie"));
  EXPECT_EQ(Str(headers), FourLines(server_.Url("/echo")));
}

// ---- agent --------------------------------------------------------------------------------

// The agent shows where the caller's header lines do not reach: in the CONNECT request a
// proxy receives for an https address. This "proxy" records that request and refuses it.
TEST(WebRequestAgent, TheAgentComesFromTheCallersUserAgentLineOrIsTheDefault) {
  ScriptedServer proxy([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n");
  });
  ASSERT_TRUE(proxy.ok());
  const Text proxyText("127.0.0.1:" + std::to_string(proxy.port()));
  struct Case {
    std::string headers;
    std::string agent;
  };
  const std::vector<Case> cases = {
      {"", kDefaultUserAgent},
      {"User-Agent: Foo/1.0", "Foo/1.0"},
      {"User-Agent: Foo/1.0\r\nX-Other: 1", "Foo/1.0"},
      {"user-agent: Foo/1.0", "Foo/1.0"},
      {"X-Other: 1", kDefaultUserAgent},
      // The fallback reads behind the first colon of the whole text; the line break ends it.
      // Where the tunnel request carries the request's own User-Agent line, that line shows.
      {"X-Other: 1\r\nUser-Agent: Foo/1.0",
       quorvel::test::TunnelCarriesTheRequestsAgentLine() ? "Foo/1.0" : "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.headers);
    Text headers(c.headers);
    const Bytes body = WebRequest(Text("https://127.0.0.1:9/p"), 0, Text(), nullptr, nullptr,
                                  &headers, nullptr, false, nullptr, proxyText);
    EXPECT_TRUE(body.empty());
    const RecordedRequest connect = proxy.Requests().back();
    EXPECT_EQ(connect.requestLine, "CONNECT 127.0.0.1:9 HTTP/1.1");
    EXPECT_EQ(connect.Values("User-Agent"), std::vector<std::string>{c.agent});
  }
}

TEST_F(WebRequestTest, AUserAgentLineGoesOutAsGivenWhateverTheAgent) {
  Text headers("X-Other: 1\r\nUser-Agent: Foo/1.0");
  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/echo")), 0, Text(), nullptr, nullptr, &headers)),
            "GET []");
  EXPECT_EQ(server_.Last().Values("User-Agent"), std::vector<std::string>{"Foo/1.0"});
}

// ---- bodies -------------------------------------------------------------------------------

TEST_F(WebRequestTest, TheMethodDecidesVerbAndBody) {
  struct Case {
    int method;
    std::string postText;
    std::string postBytes;
    std::string reply;
    std::string postBytesAfter;
    const char* contentLength;  // nullptr: no Content-Length line
  };
  const std::vector<Case> cases = {
      {0, "ignored", "", "GET []", "", nullptr},
      {0, "", "also ignored", "GET []", "also ignored", nullptr},
      {1, "", "", "POST []", "", "0"},
      {1, "t=1", "", "POST [t=1]", "t=1", "3"},
      {1, "t=1", "b=2", "POST [b=2]", "b=2", "3"},
      {2, "g=1", "", "GET [g=1]", "g=1", "3"},
      {-7, "", "raw", "GET [raw]", "raw", "3"},
      {2, "", "", "GET []", "", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("method " + std::to_string(c.method) + " text '" + c.postText + "' bytes '" +
                 c.postBytes + "'");
    Bytes postBytes(c.postBytes);
    const Bytes reply = WebRequest(Text(server_.Url("/echo")), c.method, Text(c.postText), nullptr,
                                   nullptr, nullptr, nullptr, false, &postBytes);
    EXPECT_EQ(Str(reply), c.reply);
    EXPECT_EQ(Str(postBytes), c.postBytesAfter);
    const RecordedRequest r = server_.Last();
    if (c.contentLength) {
      EXPECT_EQ(r.Value("Content-Length"), c.contentLength);
    } else {
      EXPECT_FALSE(r.Has("Content-Length"));
    }
  }
}

TEST_F(WebRequestTest, BodyBytesGoOutExactly) {
  const std::string binary("\x00\x01\xff\r\n\x80=&", 8);
  Bytes postBytes(binary);
  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/echo")), 1, Text(), nullptr, nullptr, nullptr,
                           nullptr, false, &postBytes)),
            "POST [" + binary + "]");
  EXPECT_EQ(server_.Last().body, binary);
}

// ---- response headers and cookies ---------------------------------------------------------

TEST_F(WebRequestTest, SetCookieLinesOfAnyCaseGiveTheReceivedCookies) {
  Text received("junk");
  Text responseHeaders("junk");
  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/cookies")), 0, Text(), nullptr, &received, nullptr,
                           &responseHeaders)),
            "with cookies");
  EXPECT_EQ(Str(received), "a=1; b=2");
  const std::string raw = Str(responseHeaders);
  EXPECT_NE(raw.find("\r\nSet-Cookie: a=1; Path=/\r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("\r\nSet-Cookie: b=2\r\n"), std::string::npos) << raw;
  EXPECT_EQ(raw.find("set-cookie"), std::string::npos);
  EXPECT_EQ(raw.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");

  // Without a cookie text the process-wide store took them and sends them on (below the
  // path that set them, which every reading of a cookie's default path covers).
  WebRequest(Text(server_.Url("/cookies/next")));
  const std::string sent = server_.Last().Value("Cookie");
  EXPECT_NE(sent.find("a=1"), std::string::npos) << sent;
  EXPECT_NE(sent.find("b=2"), std::string::npos) << sent;
}

TEST_F(WebRequestTest, AGivenCookieTextIsMergedAndKeepsTheStoreOut) {
  Text cookies("a=0; c=3");
  Text received;
  WebRequest(Text(server_.Url("/cookies")), 0, Text(), &cookies, &received);
  EXPECT_EQ(server_.Last().Value("Cookie"), "a=0; c=3");
  EXPECT_EQ(Str(cookies), "a=1; b=2; c=3");
  EXPECT_EQ(Str(received), "a=1;b=2");

  Text empty;
  WebRequest(Text(server_.Url("/cookies")), 0, Text(), &empty, &received);
  EXPECT_EQ(Str(empty), "a=1; b=2");

  // Neither response reached the store.
  WebRequest(Text(server_.Url("/echo")));
  EXPECT_FALSE(server_.Last().Has("Cookie"));
}

TEST_F(WebRequestTest, AResponseWithoutCookiesGivesEmptyReceivedCookies) {
  Text received("junk");
  Text cookies("k=1");
  WebRequest(Text(server_.Url("/echo")), 0, Text(), &cookies, &received);
  EXPECT_EQ(Str(received), "");
  EXPECT_EQ(Str(cookies), "k=1");
}

TEST_F(WebRequestTest, ResponseHeadersThatFitComeBackExactly) {
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write(
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nsEt-CoOkIe: q=1\r\nX-Note: Set-Cookie\r\n\r\nok");
  });
  ASSERT_TRUE(raw.ok());
  Text responseHeaders;
  Text received;
  EXPECT_EQ(
      Str(WebRequest(Text(raw.Url("/")), 0, Text(), nullptr, &received, nullptr, &responseHeaders)),
      "ok");
  EXPECT_EQ(
      Str(responseHeaders),
      "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nSet-Cookie: q=1\r\nX-Note: Set-Cookie\r\n\r\n");
  // Every line naming Set-Cookie is read as one, as the routine always has.
  EXPECT_EQ(Str(received), "q=1; X-Note: Set-Cookie");
}

// Around the 5000-byte buffer: a block that fits with its terminating zero (4999 bytes) and
// the ones that just do not (5000, 5001) all come back exactly, the cookie at the end too.
// The padding is spread over lines of under a kilobyte each, as real headers are.
TEST_F(WebRequestTest, HeaderBlocksAroundTheBufferSizeComeBackExactly) {
  for (const std::size_t size : {4999u, 5000u, 5001u}) {
    SCOPED_TRACE(size);
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
    for (int i = 0; i < 4; ++i)
      head += "X-Pad-" + std::to_string(i) + ": " + std::string(1000, 'p') + "\r\n";
    head += "X-Pad: ";
    const std::string tail = "\r\nSet-Cookie: z=1; Path=/\r\n\r\n";
    const std::string block = head + std::string(size - head.size() - tail.size(), 'p') + tail;
    ASSERT_EQ(block.size(), size);
    ScriptedServer raw([&block](ScriptedServer::Connection& c) { c.Write(block + "ok"); });
    ASSERT_TRUE(raw.ok());
    Text responseHeaders;
    Text received;
    EXPECT_EQ(Str(WebRequest(Text(raw.Url("/")), 0, Text(), nullptr, &received, nullptr,
                             &responseHeaders)),
              "ok");
    EXPECT_EQ(Str(responseHeaders), block);
    EXPECT_EQ(Str(received), "z=1");
  }
}

TEST_F(WebRequestTest, HeaderBlocksLargerThan5000BytesComeBackWholeWithTheirCookies) {
  server_.Route("GET", "/big-head", [](const RecordedRequest&, Response& res) {
    for (int i = 0; i < 80; ++i) {
      res.set_header("Filler-" + std::to_string(100 + i), std::string(90, 'f'));
    }
    res.headers.emplace("Set-Cookie", "late1=x; Path=/big-head");
    res.headers.emplace("Set-Cookie", "late2=y");
    res.set_content("big", "text/plain");
  });
  Text responseHeaders;
  Text received;
  Text cookies("early=0");
  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/big-head")), 0, Text(), &cookies, &received, nullptr,
                           &responseHeaders)),
            "big");
  const std::string raw = Str(responseHeaders);
  EXPECT_GT(raw.size(), 8000u);
  EXPECT_NE(raw.find("Filler-179: " + std::string(90, 'f') + "\r\n"), std::string::npos);
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
  EXPECT_EQ(Str(received), "late1=x;late2=y");
  EXPECT_EQ(Str(cookies), "late1=x; late2=y; early=0");
}

TEST_F(WebRequestTest, AHeaderLineBeginningWithHttpKeepsTheStatusLineAndTheCookieBeforeIt) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nHTTP/Foo: bar\r\nContent-Length: 2\r\n\r\n";
  ScriptedServer raw([&head](ScriptedServer::Connection& c) { c.Write(head + "ok"); });
  ASSERT_TRUE(raw.ok());
  Text responseHeaders;
  Text received;
  EXPECT_EQ(
      Str(WebRequest(Text(raw.Url("/")), 0, Text(), nullptr, &received, nullptr, &responseHeaders)),
      "ok");
  EXPECT_EQ(Str(responseHeaders), head);
  EXPECT_EQ(Str(received), "a=1");

  Text cookies("b=2");
  EXPECT_EQ(Str(WebRequest(Text(raw.Url("/")), 0, Text(), &cookies, &received)), "ok");
  EXPECT_EQ(Str(cookies), "a=1; b=2");
}

// A response whose head holds a cookie, padded with "X: ppp..." lines of the given sizes (line
// ends included), then the body "ok".
std::string PaddedResponse(const std::vector<std::size_t>& padLines) {
  std::string r = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nSet-Cookie: z=1; Path=/\r\n";
  for (std::size_t size : padLines) r += "X: " + std::string(size - 5, 'p') + "\r\n";
  return r + "\r\nok";
}

// Pad lines that bring PaddedResponse's head (63 bytes without them, its empty line included) to
// total bytes.
std::vector<std::size_t> PadTo(std::size_t total) {
  std::vector<std::size_t> sizes;
  for (std::size_t rest = total - 63; rest > 0; rest -= sizes.back()) {
    sizes.push_back(rest >= 2000 ? 1000 : (rest >= 1000 ? rest / 2 : rest));
  }
  return sizes;
}

TEST_F(WebRequestTest, ResponseHeadsUpToTheLayersLimitsComeBackWholeAndPastThemNothingDoes) {
  if (!quorvel::test::HasLibcurlSizeLimits()) {
    GTEST_SKIP() << "these are the libcurl backend's size limits; WinInet has its own";
  }
  using platform::kInetMaxHeaderBytes;
  using platform::kInetMaxHeaderLineBytes;
  ASSERT_EQ(PaddedResponse({}).size(), 63u + 2u);
  struct Case {
    const char* what;
    std::string response;
    bool whole;
  };
  const Case cases[] = {
      {"longest line", PaddedResponse({kInetMaxHeaderLineBytes}), true},
      {"line one byte over", PaddedResponse({kInetMaxHeaderLineBytes + 1}), false},
      {"largest head", PaddedResponse(PadTo(kInetMaxHeaderBytes)), true},
      {"head one byte over", PaddedResponse(PadTo(kInetMaxHeaderBytes + 1)), false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ScriptedServer raw([&k](ScriptedServer::Connection& c) { c.Write(k.response); });
    ASSERT_TRUE(raw.ok());
    Text responseHeaders;
    Text received("junk");
    Text cookies("k=0");
    const Bytes body =
        WebRequest(Text(raw.Url("/")), 0, Text(), &cookies, &received, nullptr, &responseHeaders);
    const std::string head = k.response.substr(0, k.response.size() - 2);
    if (k.whole) {
      EXPECT_EQ(Str(body), "ok");
      EXPECT_TRUE(Str(responseHeaders) == head) << responseHeaders.size() << " bytes";
      EXPECT_EQ(Str(received), "z=1");
      EXPECT_EQ(Str(cookies), "z=1; k=0");
    } else {
      EXPECT_EQ(Str(body), "");
      EXPECT_EQ(Str(responseHeaders), std::string(5000, ' '));
      EXPECT_EQ(Str(received), "");
      EXPECT_EQ(Str(cookies), "k=0");
    }
  }
}

// ---- redirects ----------------------------------------------------------------------------

TEST_F(WebRequestTest, RedirectsAreFollowedUnlessNoRedirect) {
  server_.Route("GET", "/moved", [](const RecordedRequest&, Response& res) {
    res.status = 301;
    res.set_header("Location", "/echo");
    res.set_content("moved away", "text/plain");
  });
  Text responseHeaders;
  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/moved")), 0, Text(), nullptr, nullptr, nullptr,
                           &responseHeaders)),
            "GET []");
  EXPECT_EQ(Str(responseHeaders).rfind("HTTP/1.1 200 OK", 0), 0u);

  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/moved")), 0, Text(), nullptr, nullptr, nullptr,
                           &responseHeaders, true)),
            "moved away");
  EXPECT_EQ(Str(responseHeaders).rfind("HTTP/1.1 301", 0), 0u);
}

// ---- large and broken responses -----------------------------------------------------------

TEST_F(WebRequestTest, A64MegabyteBodyComesBackWhole) {
  constexpr std::size_t kSize = 64u * 1024u * 1024u;
  auto byteAt = [](std::size_t i) { return static_cast<char>((i * 7u + (i >> 16)) & 0xff); };
  server_.RouteGeneratedBody("/large", kSize, byteAt);
  const Bytes body = WebRequest(Text(server_.Url("/large")));
  ASSERT_EQ(body.size(), kSize);
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < kSize; ++i) mismatches += body.view()[i] != byteAt(i);
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(WebRequestTest, AServerThatClosesMidBodyGivesTheBytesReadBeforeIt) {
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 50000\r\nSet-Cookie: part=1\r\n\r\n" +
            std::string(3000, 'z'));
  });
  ASSERT_TRUE(raw.ok());
  Text received;
  EXPECT_EQ(Str(WebRequest(Text(raw.Url("/")), 0, Text(), nullptr, &received)),
            std::string(3000, 'z'));
  EXPECT_EQ(Str(received), "part=1");
}

TEST_F(WebRequestTest, ASilentServerEndsTheCallAfterTheStallLimitWithTheBlockKept) {
  ScopedEnv stall(platform::kInetStallSecondsVariable, "2");
  ScriptedServer raw([](ScriptedServer::Connection& c) { c.Hold(); });
  ASSERT_TRUE(raw.ok());
  const std::string url = raw.Url("/slow");
  Text cookies("a=0 ; c=3");
  Text received("junk");
  Text headers;
  Text responseHeaders("junk");
  Bytes postBytes;
  const Bytes body = WebRequest(Text(url), 1, Text("p=1"), &cookies, &received, &headers,
                                &responseHeaders, false, &postBytes);
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(Str(headers), FourLines(url) + "\r\nCookie: a=0 ; c=3");
  EXPECT_EQ(Str(postBytes), "p=1");
  EXPECT_EQ(Str(responseHeaders), std::string(5000, ' '));
  EXPECT_EQ(Str(received), "");
  EXPECT_EQ(Str(cookies), "a=0; c=3");  // merged with no new cookies
  const std::vector<RecordedRequest> requests = raw.WaitForRequests(1, std::chrono::seconds(30));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].body, "p=1");
}

TEST_F(WebRequestTest, AStallMidBodyEndsTheCallAtTheLimitWithTheBytesReadBeforeIt) {
  constexpr int kLimit = 2;
  ScopedEnv stall(platform::kInetStallSecondsVariable, std::to_string(kLimit));
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 50000\r\nSet-Cookie: part=1\r\n\r\n" +
            std::string(3000, 'z'));
    c.Hold();
  });
  ASSERT_TRUE(raw.ok());
  Text received;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Str(WebRequest(Text(raw.Url("/")), 0, Text(), nullptr, &received)),
            std::string(3000, 'z'));
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(Str(received), "part=1");
  // At the limit, give or take scheduling on a busy machine (an averaged speed took 6 s more).
  EXPECT_GE(elapsed.count(), kLimit - 0.1);
  EXPECT_LT(elapsed.count(), kLimit + 2.5);
}

// ---- failures to open ---------------------------------------------------------------------

TEST(WebRequestFailure, AnUnopenedRequestLeavesEveryParameterAsItWas) {
  const std::vector<std::string> urls = {
      "http://127.0.0.1:" + std::to_string(quorvel::test::FreeLoopbackPort()) + "/p",  // refused
      "http://" + std::string(64, 'a') + ".invalid/p",  // refused by the resolver itself
      "http://bad host/p",
      "http://127.0.0.1:/p",  // port 0
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    Text cookies("c=1");
    Text received("r");
    Text headers("X-Mine: 1");
    Text responseHeaders("h");
    Bytes postBytes;
    const Bytes body = WebRequest(Text(url), 1, Text("p=1"), &cookies, &received, &headers,
                                  &responseHeaders, false, &postBytes);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(Str(cookies), "c=1");
    EXPECT_EQ(Str(received), "r");
    EXPECT_EQ(Str(headers), "X-Mine: 1");
    EXPECT_EQ(Str(responseHeaders), "h");
    EXPECT_TRUE(postBytes.empty());
  }
}

// ---- TLS and proxies ----------------------------------------------------------------------

class SecureWebRequestTest : public WebRequestTest {
 protected:
  void SetUp() override {
    WebRequestTest::SetUp();
    identity_ = quorvel::test::SharedTlsIdentity();
    ASSERT_FALSE(identity_.caCertPem.empty());
    secure_ = std::make_unique<TestServer>(identity_);
    ASSERT_TRUE(secure_->ok());
    secure_->Route("*", "/s", [](const RecordedRequest& r, Response& res) {
      res.set_content("secure " + r.Method() + " [" + r.body + "]", "text/plain");
    });
  }
  TlsIdentity identity_;
  std::unique_ptr<TestServer> secure_;
};

TEST_F(SecureWebRequestTest, HttpsWorksWithATrustedAuthorityAndNotWithAnother) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  EXPECT_EQ(Str(WebRequest(Text(secure_->Url("/s")), 1, Text("x=1"))), "secure POST [x=1]");
  EXPECT_EQ(secure_->Last().Value("Referer"), secure_->Url("/s"));

  // A server whose certificate an authority signed that is not trusted.
  const TlsIdentity stranger = quorvel::test::MakeTlsIdentity("Another Authority");
  ASSERT_FALSE(stranger.caCertPem.empty());
  TestServer other(stranger);
  ASSERT_TRUE(other.ok());
  Text responseHeaders;
  EXPECT_TRUE(
      WebRequest(Text(other.Url("/s")), 0, Text(), nullptr, nullptr, nullptr, &responseHeaders)
          .empty());
  EXPECT_EQ(Str(responseHeaders), std::string(5000, ' '));
  EXPECT_EQ(other.RequestCount(), 0u);
}

TEST_F(SecureWebRequestTest, AnHttpAddressMayBeRedirectedToHttps) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  server_.Route("GET", "/up", [this](const RecordedRequest&, Response& res) {
    res.status = 302;
    res.set_header("Location", secure_->Url("/s"));
  });
  EXPECT_EQ(Str(WebRequest(Text(server_.Url("/up")))), "secure GET []");
}

class ProxiedWebRequestTest : public SecureWebRequestTest {
 protected:
  void SetUp() override {
    SecureWebRequestTest::SetUp();
    ASSERT_TRUE(proxy_.ok()) << proxy_.error();
  }
  TinyproxyRunner proxy_;
};

TEST_F(ProxiedWebRequestTest, HttpAddressesGoThroughTheProxyAsAnHttpProxy) {
  const Bytes body = WebRequest(Text(server_.Url("/echo?q=1")), 1, Text("f=1"), nullptr, nullptr,
                                nullptr, nullptr, false, nullptr, Text(proxy_.HostPort()));
  EXPECT_EQ(Str(body), "POST [f=1]");
  const RecordedRequest r = server_.Last();
  EXPECT_NE(r.Value("Via").find("tinyproxy"), std::string::npos);
  EXPECT_EQ(r.Value("Referer"), server_.Url("/echo?q=1"));
  EXPECT_NE(proxy_.Log().find("POST " + server_.Url("/echo?q=1")), std::string::npos)
      << proxy_.Log();
}

TEST_F(ProxiedWebRequestTest, HttpsAddressesTunnelThroughTheSameProxy) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  const Bytes body = WebRequest(Text(secure_->Url("/s")), 0, Text(), nullptr, nullptr, nullptr,
                                nullptr, false, nullptr, Text(proxy_.HostPort()));
  EXPECT_EQ(Str(body), "secure GET []");
  EXPECT_NE(proxy_.Log().find("CONNECT " + secure_->HostPort()), std::string::npos) << proxy_.Log();
}

}  // namespace
}  // namespace quorvel
