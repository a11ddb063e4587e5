// The request layer against real loopback servers: a recording HTTP(S) server, a scripted raw
// server, and a real tinyproxy.
#include "platform/inet/inet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/wine.h"
#include "tests/support/net_util.h"
#include "tests/support/request_layer.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_server.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_server.h"
#include "tests/support/tinyproxy_runner.h"
#include "tests/support/tls_identity.h"

namespace quorvel::platform {
namespace {

using quorvel::test::AsSent;
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

constexpr char kAgent[] = "QuorvelTest/1.0";
constexpr std::uint32_t kPlain = kInetFlagReload | kInetFlagNeedFile | kInetFlagNoCookies;

struct Closer {
  void operator()(InetHandle* h) const { InetCloseHandle(h); }
};
using Handle = std::unique_ptr<InetHandle, Closer>;

struct Call {
  std::string host = "127.0.0.1";
  int port = 0;
  std::string verb = "GET";
  std::string path = "/";
  std::string version = "HTTP/1.1";
  std::uint32_t flags = kPlain;
  std::string headers;
  std::string body;
  int access = kInetOpenDirect;
  std::string proxy;
  std::string bypass;
};

struct Outcome {
  bool opened = false;
  bool sent = false;
  std::string body;
  std::string headers;
};

std::string RawHeaders(InetHandle* request) {
  std::size_t length = 0;
  if (InetQueryRawHeaders(request, nullptr, &length) || length == 0) return "";
  std::string buffer(length, '\xff');
  if (!InetQueryRawHeaders(request, buffer.data(), &length)) return "";
  buffer.resize(length);
  return buffer;
}

Outcome Perform(const Call& c) {
  Outcome out;
  Handle internet(InetOpen(kAgent, c.access, c.proxy, c.bypass));
  Handle connection(InetConnect(internet.get(), c.host, c.port));
  Handle request(InetOpenRequest(connection.get(), c.verb, c.path, c.version, c.flags));
  if (!request) return out;
  out.opened = true;
  out.sent = InetSendRequest(request.get(), c.headers, c.body);
  char buffer[1024];
  while (std::size_t n = InetReadFile(request.get(), buffer, sizeof(buffer))) {
    out.body.append(buffer, n);
  }
  out.headers = RawHeaders(request.get());
  return out;
}

Call To(const TestServer& server, const std::string& path) {
  Call c;
  c.port = server.port();
  c.path = path;
  return c;
}

void Reply(Response& res, const std::string& body) { res.set_content(body, "text/plain"); }

class InetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InetClearCookieStore();
    ASSERT_TRUE(server_.ok());
    server_.Route("*", "/echo", [](const RecordedRequest&, Response& res) { Reply(res, "hello"); });
  }
  TestServer server_;
};

// ---- what goes out ----------------------------------------------------------------------

TEST_F(InetTest, SendsTheCallersLinesAsGivenAndOnlyWhatHttpRequires) {
  Call c = To(server_, "/echo");
  c.headers = "X-One: 1\r\nAccept: text/html\r\nx-lower: Mixed Case\r\nX-Two:  2 ";
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "hello");
  const RecordedRequest r = server_.Last();
  EXPECT_EQ(r.requestLine, "GET /echo HTTP/1.1");
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server_.port());
  const std::string agent = std::string("User-Agent: ") + kAgent;
  std::vector<std::string> callers = {"X-One: 1", "Accept: text/html", "x-lower: Mixed Case",
                                      AsSent("X-Two:  2 ")};
#ifdef _WIN32
  // WinInet places its own lines where it likes and adds Connection (see inet.h).
  EXPECT_EQ(CallerLines(r), callers);
  EXPECT_EQ(r.Values("Host"), std::vector<std::string>{host.substr(6)});
  EXPECT_EQ(r.Values("User-Agent"), std::vector<std::string>{kAgent});
  EXPECT_FALSE(r.Has("Content-Length"));
#else
  callers.insert(callers.begin(), {host, agent});
  EXPECT_EQ(r.headerLines, callers);
#endif
  EXPECT_EQ(r.body, "");
}

TEST_F(InetTest, NoHeaderLinesMeansOnlyHostAndAgent) {
  const Outcome out = Perform(To(server_, "/echo"));
  ASSERT_TRUE(out.sent);
  const RecordedRequest r = server_.Last();
#ifdef _WIN32
  EXPECT_EQ(CallerLines(r), std::vector<std::string>{});
  EXPECT_EQ(r.Values("Host"),
            std::vector<std::string>{"127.0.0.1:" + std::to_string(server_.port())});
  EXPECT_EQ(r.Values("User-Agent"), std::vector<std::string>{kAgent});
#else
  const std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server_.port()),
                                             std::string("User-Agent: ") + kAgent};
  EXPECT_EQ(r.headerLines, expected);
#endif
}

TEST_F(InetTest, ACallersUserAgentLineReplacesTheAgent) {
  Call c = To(server_, "/echo");
  c.headers = "User-Agent: Foo/1.0";
  ASSERT_TRUE(Perform(c).sent);
  EXPECT_EQ(server_.Last().Values("User-Agent"), std::vector<std::string>{"Foo/1.0"});
}

TEST_F(InetTest, TheAgentEndsAtItsFirstLineBreak) {
  for (const char* agent : {"Agent/2\r\nX-Injected: 1", "Agent/2\nX-Injected: 1"}) {
    Handle internet(InetOpen(agent, kInetOpenDirect));
    Handle connection(InetConnect(internet.get(), "127.0.0.1", server_.port()));
    Handle request(InetOpenRequest(connection.get(), "GET", "/echo", "HTTP/1.1", kPlain));
    ASSERT_TRUE(request);
    ASSERT_TRUE(InetSendRequest(request.get(), "", ""));
    const RecordedRequest r = server_.Last();
    EXPECT_EQ(r.Values("User-Agent"), std::vector<std::string>{"Agent/2"});
    EXPECT_FALSE(r.Has("X-Injected"));
  }
}

TEST_F(InetTest, LineEndsOfAnyKindSplitLinesAndEmptyValuesGoOutAsNameColon) {
  Call c = To(server_, "/echo");
  c.headers = "X-A: 1\nX-B: 2\rX-Empty:\r\n\r\nX-Blank:   \r\nno colon here\r\n";
  ASSERT_TRUE(Perform(c).sent);
  const std::vector<std::string> expected = {"X-A: 1", "X-B: 2", AsSent("X-Empty:"),
                                             AsSent("X-Blank:")};
  EXPECT_EQ(CallerLines(server_.Last()), expected);
}

struct BodyCase {
  const char* verb;
  std::string body;
  bool expectLength;  // a Content-Length line goes out
};

TEST_F(InetTest, BodiesGoOutExactlyWithContentLengthAndNoExpectOrContentType) {
  const std::string binary("a\0b\xff\r\n=&%", 9);
  const std::string big(3 * 1024 * 1024 + 17, 'x');  // past the size where Expect would be used
  const std::vector<BodyCase> cases = {
      {"POST", "daqu=1&nickname=%E4", true},
      {"POST", binary, true},
      {"POST", big, true},
      {"POST", "", true},  // Content-Length: 0
      {"GET", "get-with-body", true},
      {"GET", "", false},
      {"PUT", "", true},
      {"DELETE", "x", true},
  };
  for (const BodyCase& bc : cases) {
    SCOPED_TRACE(std::string(bc.verb) + " with " + std::to_string(bc.body.size()) + " bytes");
    Call c = To(server_, "/echo");
    c.verb = bc.verb;
    c.body = bc.body;
    const Outcome out = Perform(c);
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body, "hello");
    const RecordedRequest r = server_.Last();
    EXPECT_EQ(r.Method(), bc.verb);
    EXPECT_EQ(r.body, bc.body);
    if (bc.expectLength) {
      EXPECT_EQ(r.Values("Content-Length"),
                std::vector<std::string>{std::to_string(bc.body.size())});
    } else {
      EXPECT_FALSE(r.Has("Content-Length"));
    }
    EXPECT_FALSE(r.Has("Expect"));
    EXPECT_FALSE(r.Has("Content-Type"));
    EXPECT_FALSE(r.Has("Accept"));
    EXPECT_FALSE(r.Has("Accept-Encoding"));
    EXPECT_FALSE(r.Has("Transfer-Encoding"));
  }
}

TEST_F(InetTest, TheCallersContentTypeIsSentWithABody) {
  Call c = To(server_, "/echo");
  c.verb = "POST";
  c.body = "a=1";
  c.headers = "Content-Type: application/x-www-form-urlencoded";
  ASSERT_TRUE(Perform(c).sent);
  EXPECT_EQ(server_.Last().Values("Content-Type"),
            std::vector<std::string>{"application/x-www-form-urlencoded"});
}

TEST_F(InetTest, ObjectPathIsSentAsGivenWithUnsafeBytesEncoded) {
  struct PathCase {
    std::string path;
    std::string target;
  };
  const std::vector<PathCase> cases = {
      {"/echo?daqu=%E7%94%B5&nickname=a+b", "/echo?daqu=%E7%94%B5&nickname=a+b"},
      {"", "/"},
      {"/a b/\xd6\xd0?x=\"1\"", "/a%20b/%D6%D0?x=%221%22"},
#ifdef _WIN32
      {"/x/../echo", "/echo"},  // WinInet resolves dot segments (see inet.h)
#else
      {"/x/../echo", "/x/../echo"},
#endif
      {"echo", "/echo"},
  };
  for (const PathCase& pc : cases) {
    SCOPED_TRACE(pc.path);
    Call c = To(server_, pc.path);
    ASSERT_TRUE(Perform(c).sent);
    EXPECT_EQ(server_.Last().Target(), pc.target);
  }
}

TEST_F(InetTest, VersionTextSelectsTheProtocolVersion) {
  Call c = To(server_, "/echo");
  c.version = "HTTP/1.0";
  ASSERT_TRUE(Perform(c).sent);
  EXPECT_EQ(server_.Last().requestLine, "GET /echo HTTP/1.0");
}

// ---- what comes back --------------------------------------------------------------------

TEST_F(InetTest, RawHeadersAreTheStatusAndHeaderLinesEndedByAnEmptyLine) {
  server_.Route("GET", "/h", [](const RecordedRequest&, Response& res) {
    res.set_header("X-Custom", "v 1");
    Reply(res, "body");
  });
  Handle internet(InetOpen(kAgent, kInetOpenDirect));
  Handle connection(InetConnect(internet.get(), "127.0.0.1", server_.port()));
  Handle request(InetOpenRequest(connection.get(), "GET", "/h", "HTTP/1.1", kPlain));
  ASSERT_TRUE(request);
  ASSERT_TRUE(InetSendRequest(request.get(), "", ""));

  std::size_t need = 0;
  EXPECT_FALSE(InetQueryRawHeaders(request.get(), nullptr, &need));
  ASSERT_GT(need, 20u);
  std::string small(need - 1, '#');
  std::size_t length = small.size();
  EXPECT_FALSE(InetQueryRawHeaders(request.get(), small.data(), &length));
  EXPECT_EQ(length, need);
  EXPECT_EQ(small, std::string(need - 1, '#'));  // nothing written when it does not fit

  std::string exact(need, '#');
  length = exact.size();
  ASSERT_TRUE(InetQueryRawHeaders(request.get(), exact.data(), &length));
  EXPECT_EQ(length, need - 1);
  EXPECT_EQ(exact[need - 1], '\0');
  const std::string raw = exact.substr(0, length);
  EXPECT_EQ(raw.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << raw;
  EXPECT_NE(raw.find("\r\nX-Custom: v 1\r\n"), std::string::npos) << raw;
  EXPECT_NE(raw.find("\r\nContent-Length: 4\r\n"), std::string::npos) << raw;
  EXPECT_EQ(raw.substr(raw.size() - 4), "\r\n\r\n");
  EXPECT_EQ(raw.find("\r\n\r\n"), raw.size() - 4);

  char buffer[1024];
  EXPECT_EQ(InetReadFile(request.get(), buffer, sizeof(buffer)), 4u);
  EXPECT_EQ(std::string(buffer, 4), "body");
  EXPECT_EQ(InetReadFile(request.get(), buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(InetReadFile(request.get(), buffer, sizeof(buffer)), 0u);
}

TEST_F(InetTest, LargeHeaderBlocksComeBackWhole) {
  server_.Route("GET", "/big-head", [](const RecordedRequest&, Response& res) {
    for (int i = 0; i < 200; ++i) {
      res.set_header("Filler-" + std::to_string(1000 + i), std::string(100, 'f'));
    }
    res.set_header("Set-Cookie", "last=1; Path=/big-head");
    Reply(res, "ok");
  });
  const Outcome out = Perform(To(server_, "/big-head"));
  ASSERT_TRUE(out.sent);
  EXPECT_GT(out.headers.size(), 20000u);
  EXPECT_NE(out.headers.find("Filler-1199: " + std::string(100, 'f') + "\r\n"), std::string::npos);
  EXPECT_NE(out.headers.find("Set-Cookie: last=1; Path=/big-head\r\n"), std::string::npos);
  EXPECT_EQ(out.headers.substr(out.headers.size() - 4), "\r\n\r\n");
}

// One header line longer than any buffer a line might be read into comes back whole.
TEST_F(InetTest, ALongHeaderLineComesBackWhole) {
  if (quorvel::test::UnderWine()) {
    GTEST_SKIP() << "Wine's WinInet cuts a response header line after about 4 KB (its line "
                    "buffer); Windows reads long lines whole";
  }
  const std::string value(6000, 'v');
  server_.Route("GET", "/long", [&value](const RecordedRequest&, Response& res) {
    res.set_header("X-Long", value);
    Reply(res, "ok");
  });
  const Outcome out = Perform(To(server_, "/long"));
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "ok");
  EXPECT_NE(out.headers.find("\r\nX-Long: " + value + "\r\n"), std::string::npos);
}

TEST_F(InetTest, InterimResponsesAreNotTheHeaders) {
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write(
        "HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\n"
        "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Final: yes\r\n\r\nok");
  });
  ASSERT_TRUE(raw.ok());
  Call c;
  c.port = raw.port();
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "ok");
  EXPECT_EQ(out.headers, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nX-Final: yes\r\n\r\n");
}

TEST_F(InetTest, OnlyTheFirstLineOfAHeaderBlockIsItsStatusLine) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nHTTP/Foo: bar\r\nContent-Length: 2\r\n\r\n";
  ScriptedServer raw([&head](ScriptedServer::Connection& c) { c.Write(head + "ok"); });
  ASSERT_TRUE(raw.ok());
  Call c;
  c.port = raw.port();
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "ok");
  EXPECT_EQ(out.headers, head);
}

// A response of a status line, a Content-Length line, then header lines "X: aaa..." of the
// given sizes (each with its CR LF), the empty line and the body "ok". Sizes below 5 are
// raised to 5.
std::string ResponseWithLines(const std::vector<std::size_t>& lineSizes,
                              const std::string& interim = "") {
  std::string r = interim + "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n";
  for (std::size_t size : lineSizes) {
    r += "X: " + std::string(std::max<std::size_t>(size, 5) - 5, 'a') + "\r\n";
  }
  return r + "\r\nok";
}

// Line sizes that bring a response's header section (the status line and Content-Length line
// of ResponseWithLines, 36 bytes, and its empty line included) to total bytes.
std::vector<std::size_t> LinesForSection(std::size_t total) {
  std::vector<std::size_t> sizes;
  std::size_t rest = total - 36 - 2;
  while (rest > 0) {  // lines of 1000 bytes, the last two sharing what is left
    const std::size_t size = rest >= 2000 ? 1000 : (rest >= 1000 ? rest / 2 : rest);
    sizes.push_back(size);
    rest -= size;
  }
  return sizes;
}

TEST_F(InetTest, ResponseHeadsUpToTheSizeLimitsComeBackWholeAndBeyondThemFailTheSend) {
  if (!quorvel::test::HasLibcurlSizeLimits()) {
    GTEST_SKIP() << "these are the libcurl backend's size limits; WinInet has its own";
  }
  const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
  struct Case {
    const char* what;
    std::string response;
    bool whole;
  };
  const Case cases[] = {
      {"longest line", ResponseWithLines({kInetMaxHeaderLineBytes}), true},
      {"line one byte over", ResponseWithLines({kInetMaxHeaderLineBytes + 1}), false},
      {"largest section", ResponseWithLines(LinesForSection(kInetMaxHeaderBytes)), true},
      {"section one byte over", ResponseWithLines(LinesForSection(kInetMaxHeaderBytes + 1)), false},
      {"largest section with an interim block",
       ResponseWithLines(LinesForSection(kInetMaxHeaderBytes - interim.size()), interim), true},
      {"interim block and section one byte over",
       ResponseWithLines(LinesForSection(kInetMaxHeaderBytes - interim.size() + 1), interim),
       false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ScriptedServer raw([&k](ScriptedServer::Connection& c) { c.Write(k.response); });
    ASSERT_TRUE(raw.ok());
    Call c;
    c.port = raw.port();
    const Outcome out = Perform(c);
    EXPECT_TRUE(out.opened);
    EXPECT_EQ(out.sent, k.whole);
    if (k.whole) {
      std::string expected = k.response.substr(0, k.response.size() - 2);
      if (expected.rfind(interim, 0) == 0) expected.erase(0, interim.size());
      EXPECT_TRUE(out.headers == expected) << out.headers.size() << " bytes of headers";
      EXPECT_EQ(out.body, "ok");
    } else {
      EXPECT_TRUE(out.headers.empty()) << out.headers.size() << " bytes of headers";
      EXPECT_EQ(out.body, "");
    }
  }
}

// Caller's lines that bring the request head of c to headBytes: its request line ("GET / " or
// "PUT / HTTP/1.1"), Host, User-Agent, Content-Length when there is a body, these lines (of
// 1000 bytes, the last two sharing what is left), the empty line.
std::string CallerLinesForHead(const Call& c, std::size_t headBytes) {
  std::size_t fixed = std::string("GET / HTTP/1.1\r\n").size() +
                      ("Host: 127.0.0.1:" + std::to_string(c.port) + "\r\n").size() +
                      (std::string("User-Agent: ") + kAgent + "\r\n").size() + 2;
  if (!c.body.empty())
    fixed += ("Content-Length: " + std::to_string(c.body.size()) + "\r\n").size();
  std::string lines;
  std::size_t rest = headBytes - fixed;
  for (int i = 0; rest > 0; ++i) {
    const std::size_t size = rest >= 2000 ? 1000 : (rest >= 1000 ? rest / 2 : rest);
    lines += "X-" + std::to_string(10000 + i) + ": " + std::string(size - 11, 'h') + "\r\n";
    rest -= size;
  }
  return lines;
}

TEST_F(InetTest, RequestHeadsUpToTheSizeLimitGoOutWholeAndBeyondItAreNotSent) {
  if (!quorvel::test::HasLibcurlSizeLimits()) {
    GTEST_SKIP() << "these are the libcurl backend's size limits; WinInet has its own";
  }
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  ASSERT_TRUE(raw.ok());
  struct Case {
    const char* what;
    std::size_t headBytes;
    std::string body;
    bool sent;
  };
  const std::string small(1000, 's');
  const std::string large(kInetBodyOutsideHeadBytes, 'l');
  const Case cases[] = {
      {"largest head", kInetMaxRequestBytes, "", true},
      {"head one byte over", kInetMaxRequestBytes + 1, "", false},
      {"largest head with a small body", kInetMaxRequestBytes - small.size(), small, true},
      {"head and small body one byte over", kInetMaxRequestBytes - small.size() + 1, small, false},
      {"largest head with a body that does not count", kInetMaxRequestBytes, large, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Call c;
    c.port = raw.port();
    c.verb = k.body.empty() ? "GET" : "PUT";
    c.body = k.body;
    c.headers = CallerLinesForHead(c, k.headBytes);
    const std::size_t before = raw.Requests().size();
    const Outcome out = Perform(c);
    EXPECT_EQ(out.sent, k.sent);
    EXPECT_EQ(out.body, k.sent ? "ok" : "");
    const auto requests = raw.WaitForRequests(before + 1, std::chrono::seconds(k.sent ? 10 : 1));
    ASSERT_EQ(requests.size(), before + (k.sent ? 1 : 0));
    if (!k.sent) continue;
    const RecordedRequest& r = requests.back();
    std::size_t head = r.requestLine.size() + 2 + 2;
    for (const std::string& line : r.headerLines) head += line.size() + 2;
    EXPECT_EQ(head, k.headBytes);
    EXPECT_EQ(r.body, k.body);
  }
}

TEST_F(InetTest, ManyHeaderLinesGoOutWholeAndInOrder) {
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  ASSERT_TRUE(raw.ok());
  // As many lines as fit the libcurl backend's request limit; over WinInet, whose request
  // head has limits of its own, fewer.
  const int kLines = quorvel::test::HasLibcurlSizeLimits() ? 58823 : 2000;
  std::string block;
  std::vector<std::string> expected;
  for (int i = 0; i < kLines; ++i) {
    expected.push_back("X-Line-" + std::to_string(100000 + i).substr(1) + ": v");
    block += expected.back() + "\r\n";
  }
  Call c;
  c.port = raw.port();
  c.headers = block;
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "ok");
  const auto requests = raw.WaitForRequests(1, std::chrono::seconds(10));
  ASSERT_EQ(requests.size(), 1u);
  if (quorvel::test::HasLibcurlSizeLimits()) {
    const std::vector<std::string>& lines = requests[0].headerLines;
    ASSERT_EQ(lines.size(), expected.size() + 2);  // Host and User-Agent first
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin() + 2));
  } else {
    const std::vector<std::string> lines = quorvel::test::CallerLines(requests[0]);
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), lines.begin()));
  }
}

TEST_F(InetTest, ChunkedBodiesAreDecodedAndCompressedBodiesAreNot) {
  const std::string gz("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03garbage", 17);
  ScriptedServer raw([&gz](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n");
    c.Write("5\r\n" + gz.substr(0, 5) + "\r\n");
    c.Write("c\r\n" + gz.substr(5) + "\r\n0\r\nX-Trailer: t\r\n\r\n");
  });
  ASSERT_TRUE(raw.ok());
  Call c;
  c.port = raw.port();
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, gz);
  EXPECT_EQ(out.headers.find("X-Trailer"), std::string::npos);
  EXPECT_EQ(out.headers.substr(out.headers.size() - 4), "\r\n\r\n");
}

TEST_F(InetTest, LargeBodiesStreamThroughWhole) {
  constexpr std::size_t kSize = 64u * 1024u * 1024u;
  auto byteAt = [](std::size_t i) { return static_cast<char>((i * 131u + (i >> 12)) & 0xff); };
  server_.RouteGeneratedBody("/large", kSize, byteAt);
  Handle internet(InetOpen(kAgent, kInetOpenDirect));
  Handle connection(InetConnect(internet.get(), "127.0.0.1", server_.port()));
  Handle request(InetOpenRequest(connection.get(), "GET", "/large", "HTTP/1.1", kPlain));
  ASSERT_TRUE(request);
  ASSERT_TRUE(InetSendRequest(request.get(), "", ""));
  std::size_t total = 0, mismatches = 0;
  char buffer[1024];
  while (std::size_t n = InetReadFile(request.get(), buffer, sizeof(buffer))) {
    ASSERT_LE(n, sizeof(buffer));
    for (std::size_t i = 0; i < n; ++i) mismatches += buffer[i] != byteAt(total + i);
    total += n;
  }
  EXPECT_EQ(total, kSize);
  EXPECT_EQ(mismatches, 0u);
}

TEST_F(InetTest, AServerThatClosesMidBodyGivesTheBytesSentThenZero) {
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + std::string(5000, 'p'));
  });
  ASSERT_TRUE(raw.ok());
  Handle internet(InetOpen(kAgent, kInetOpenDirect));
  Handle connection(InetConnect(internet.get(), "127.0.0.1", raw.port()));
  Handle request(InetOpenRequest(connection.get(), "GET", "/", "HTTP/1.1", kPlain));
  ASSERT_TRUE(request);
  EXPECT_TRUE(InetSendRequest(request.get(), "", ""));
  std::string body;
  char buffer[1024];
  while (std::size_t n = InetReadFile(request.get(), buffer, sizeof(buffer)))
    body.append(buffer, n);
  EXPECT_EQ(body, std::string(5000, 'p'));
  EXPECT_EQ(InetReadFile(request.get(), buffer, sizeof(buffer)), 0u);
#ifdef _WIN32
  // Opening the request tried a connection of its own; WinInet then made the one the request
  // went over (see inet.h).
  EXPECT_EQ(raw.Accepted(), 2u);
#else
  // The connection opened with the request handle is the one the request went over.
  EXPECT_EQ(raw.Accepted(), 1u);
#endif
}

TEST_F(InetTest, AServerThatNeverAnswersIsGivenUpAfterTheStallLimit) {
  ScopedEnv stall(kInetStallSecondsVariable, "2");
  ScriptedServer raw([](ScriptedServer::Connection& c) { c.Hold(); });
  ASSERT_TRUE(raw.ok());
  Call c;
  c.port = raw.port();
  const auto start = std::chrono::steady_clock::now();
  const Outcome out = Perform(c);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(out.opened);
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.body, "");
  EXPECT_EQ(out.headers, "");
  EXPECT_EQ(raw.WaitForRequests(1, std::chrono::seconds(30)).size(), 1u);
  // Far below the default limit: the variable took effect.
  EXPECT_LT(elapsed, std::chrono::seconds(kInetStallSeconds));
}

// The stall limit counts from the last byte, wherever the stall begins: the exchange ends at
// the limit, with what arrived before it. (An averaged speed would let it run on for seconds.)
TEST_F(InetTest, AStallInsideTheHeadersOrTheBodyEndsTheExchangeAtTheLimit) {
  constexpr int kLimit = 2;
  ScopedEnv stall(kInetStallSecondsVariable, std::to_string(kLimit));
  struct Case {
    const char* what;
    std::string before;  // written at once, then the server holds the connection silently
    bool sent;
    std::string body;
  };
  const Case cases[] = {
      {"inside the headers", "HTTP/1.1 200 OK\r\nContent-Length: 9000\r\nX-Half", false, ""},
      {"inside the body",
       "HTTP/1.1 200 OK\r\nContent-Length: 9000\r\n\r\n" + std::string(5000, 'p'), true,
       std::string(5000, 'p')},
      {"inside a chunked body",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n10\r\nde", true, "abcde"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    if (!k.sent && quorvel::test::UnderWine()) {
      // Wine's WinInet takes a header block that a silent server cut off in mid-line for a
      // whole response, and waits again for the body.
      continue;
    }
    ScriptedServer raw([&k](ScriptedServer::Connection& c) {
      c.Write(k.before);
      c.Hold();
    });
    ASSERT_TRUE(raw.ok());
    Call c;
    c.port = raw.port();
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = Perform(c);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(out.sent, k.sent);
    EXPECT_EQ(out.body, k.body);
    // Never before the limit; after it by no more than scheduling slack on a busy machine.
    EXPECT_GE(elapsed.count(), kLimit - 0.1);
    EXPECT_LT(elapsed.count(), kLimit + 2.5);
  }
}

TEST_F(InetTest, ASlowServerThatNeverStallsForTheLimitIsReadToTheEnd) {
  ScopedEnv stall(kInetStallSecondsVariable, "1");
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    c.Write("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\n");
    for (char byte : std::string("slowly")) {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      if (!c.Write(std::string(1, byte))) return;
    }
  });
  ASSERT_TRUE(raw.ok());
  Call c;
  c.port = raw.port();
  const Outcome out = Perform(c);
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body, "slowly");
}

TEST_F(InetTest, AServerThatTricklesItsBodyIsGivenUp) {
  ScopedEnv stall(kInetStallSecondsVariable, "2");
  // A byte every 1.5 seconds: never silent for the whole limit, yet below a byte per second.
  ScriptedServer raw([](ScriptedServer::Connection& c) {
    if (!c.Write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab")) return;
    for (int i = 0; i < 60; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      if (!c.Write("t")) return;
    }
  });
  ASSERT_TRUE(raw.ok());
  Call c;
  c.port = raw.port();
  const auto start = std::chrono::steady_clock::now();
  const Outcome out = Perform(c);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body.substr(0, 2), "ab");
  EXPECT_LT(out.body.size(), 100u);
  EXPECT_LT(elapsed, std::chrono::seconds(30));
}

// ---- failures to open -------------------------------------------------------------------

TEST_F(InetTest, RefusedAndUnresolvableServersFailToOpenTheRequest) {
  Call refused;
  refused.port = quorvel::test::FreeLoopbackPort();  // nothing listens there
  EXPECT_FALSE(Perform(refused).opened);

  // A 64-byte label is refused by the resolver itself, so no name server is asked.
  Call unresolvable;
  unresolvable.host = std::string(64, 'a') + ".invalid";
  unresolvable.port = 80;
  EXPECT_FALSE(Perform(unresolvable).opened);
}

TEST(InetHandles, BadArgumentsGiveNullAndNullHandlesAreHarmless) {
  Handle internet(InetOpen(kAgent, kInetOpenDirect));
  ASSERT_TRUE(internet);
  EXPECT_EQ(InetOpen(kAgent, 0), nullptr);
  EXPECT_EQ(InetOpen(kAgent, kInetOpenProxy, ""), nullptr);
  EXPECT_EQ(InetOpen(kAgent, kInetOpenProxy, "host:notaport"), nullptr);
  EXPECT_EQ(InetOpen(kAgent, kInetOpenProxy, "bad host!:80"), nullptr);
  Handle ftpOnly(InetOpen(kAgent, kInetOpenProxy, "ftp=127.0.0.1:21"));
  EXPECT_TRUE(ftpOnly);

  for (const char* host : {"", "a b", "a/b", "h\xd6\xd0", "[::1", "1:2:3"}) {
    EXPECT_EQ(InetConnect(internet.get(), host, 80), nullptr) << host;
  }
  for (int port : {0, -1, 65536})
    EXPECT_EQ(InetConnect(internet.get(), "127.0.0.1", port), nullptr);
  EXPECT_EQ(InetConnect(nullptr, "127.0.0.1", 80), nullptr);
  Handle connection(InetConnect(internet.get(), "127.0.0.1", 80));
  ASSERT_TRUE(connection);
  EXPECT_EQ(InetConnect(connection.get(), "127.0.0.1", 80), nullptr);  // not an internet handle
  EXPECT_EQ(InetOpenRequest(internet.get(), "GET", "/", "HTTP/1.1", 0), nullptr);
  EXPECT_EQ(InetOpenRequest(connection.get(), "G ET", "/", "HTTP/1.1", 0), nullptr);
  EXPECT_EQ(InetOpenRequest(connection.get(), "", "/", "HTTP/1.1", 0), nullptr);

  char buffer[16];
  std::size_t length = sizeof(buffer);
  EXPECT_FALSE(InetSendRequest(nullptr, "", ""));
  EXPECT_FALSE(InetSendRequest(connection.get(), "", ""));
  EXPECT_EQ(InetReadFile(nullptr, buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(InetReadFile(internet.get(), buffer, sizeof(buffer)), 0u);
  EXPECT_FALSE(InetQueryRawHeaders(nullptr, buffer, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(InetQueryRawHeaders(internet.get(), buffer, nullptr));
  InetCloseHandle(nullptr);
}

TEST_F(InetTest, ARequestNotSentReadsNothingAndHasNoHeaders) {
  Handle internet(InetOpen(kAgent, kInetOpenDirect));
  Handle connection(InetConnect(internet.get(), "127.0.0.1", server_.port()));
  Handle request(InetOpenRequest(connection.get(), "GET", "/echo", "HTTP/1.1", kPlain));
  ASSERT_TRUE(request);
  char buffer[16];
  EXPECT_EQ(InetReadFile(request.get(), buffer, sizeof(buffer)), 0u);
  std::size_t length = sizeof(buffer);
  EXPECT_FALSE(InetQueryRawHeaders(request.get(), buffer, &length));
  EXPECT_EQ(length, 0u);
}

TEST_F(InetTest, HandlesMayCloseInAnyOrder) {
  InetHandle* internet = InetOpen(kAgent, kInetOpenDirect);
  InetHandle* connection = InetConnect(internet, "127.0.0.1", server_.port());
  InetHandle* request = InetOpenRequest(connection, "GET", "/echo", "HTTP/1.1", kPlain);
  ASSERT_NE(request, nullptr);
  InetCloseHandle(internet);
  InetCloseHandle(connection);
  ASSERT_TRUE(InetSendRequest(request, "", ""));
  char buffer[16];
  EXPECT_EQ(InetReadFile(request, buffer, sizeof(buffer)), 5u);
  InetCloseHandle(request);
}

// ---- redirects --------------------------------------------------------------------------

class RedirectTest : public InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    for (int status : {301, 302, 303, 307, 308}) {
      server_.Route("*", "/r" + std::to_string(status),
                    [status](const RecordedRequest&, Response& res) {
                      res.status = status;
                      res.set_header("Location", "/final?from=" + std::to_string(status));
                      Reply(res, "redirect body");
                    });
    }
    server_.Route("*", "/final", [](const RecordedRequest& r, Response& res) {
      res.set_header("X-Final", "1");
      Reply(res, "final " + r.Method() + " [" + r.body + "]");
    });
  }
};

TEST_F(RedirectTest, RedirectsAreFollowedWithTheMethodRulesOfHttp) {
  struct Case {
    int status;
    const char* verb;
    const char* expectedBody;
  };
  const std::vector<Case> cases = {
      {301, "GET", "final GET []"},         {302, "GET", "final GET []"},
      {301, "POST", "final GET []"},        {302, "POST", "final GET []"},
      {303, "POST", "final GET []"},        {307, "POST", "final POST [form=1]"},
      {308, "POST", "final POST [form=1]"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.status) + " after " + k.verb);
    const std::size_t before = server_.RequestCount();
    Call c = To(server_, "/r" + std::to_string(k.status));
    c.verb = k.verb;
    if (std::string(k.verb) == "POST") c.body = "form=1";
    c.headers = "X-Keep: yes";
    const Outcome out = Perform(c);
    ASSERT_TRUE(out.sent);
    EXPECT_EQ(out.body, k.expectedBody);
    EXPECT_EQ(out.headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << out.headers;
    EXPECT_NE(out.headers.find("X-Final: 1"), std::string::npos);
    EXPECT_EQ(out.headers.find("Location"), std::string::npos);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), before + 2);
    EXPECT_EQ(requests.back().Target(), "/final?from=" + std::to_string(k.status));
    EXPECT_EQ(requests.back().Value("X-Keep"), "yes");
  }
}

TEST_F(RedirectTest, NoAutoRedirectReturnsTheRedirectItself) {
  Call c = To(server_, "/r302");
  c.flags |= kInetFlagNoAutoRedirect;
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "redirect body");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 302 Found\r\n", 0), 0u) << out.headers;
  EXPECT_NE(out.headers.find("Location: /final?from=302\r\n"), std::string::npos);
  EXPECT_EQ(server_.RequestCount(), 1u);
}

TEST_F(RedirectTest, RedirectChainsAreBounded) {
  server_.Route("GET", "/loop", [](const RecordedRequest&, Response& res) {
    res.status = 302;
    res.set_header("Location", "/loop");
    Reply(res, "again");
  });
  const Outcome out = Perform(To(server_, "/loop"));
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "again");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_EQ(server_.RequestCount(), static_cast<std::size_t>(kInetMaxRedirects + 1));
}

TEST_F(RedirectTest, CookieAndAuthorizationLinesStayWithTheirOrigin) {
  TestServer other;
  ASSERT_TRUE(other.ok());
  other.Route("GET", "/elsewhere",
              [](const RecordedRequest&, Response& res) { Reply(res, "elsewhere"); });
  server_.Route("GET", "/away", [&other](const RecordedRequest&, Response& res) {
    res.status = 302;
    res.set_header("Location", other.Url("/elsewhere"));
  });
  Call c = To(server_, "/away");
  c.headers = "Cookie: sid=1\r\nAuthorization: Basic eDp5\r\nX-Other: kept";
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "elsewhere");
  EXPECT_EQ(server_.Last().Value("Cookie"), "sid=1");
  const RecordedRequest there = other.Last();
  EXPECT_FALSE(there.Has("Cookie"));
  EXPECT_FALSE(there.Has("Authorization"));
  EXPECT_EQ(there.Value("X-Other"), "kept");
}

// ---- TLS --------------------------------------------------------------------------------

class TlsTest : public InetTest {
 protected:
  void SetUp() override {
    InetTest::SetUp();
    identity_ = quorvel::test::SharedTlsIdentity();
    ASSERT_FALSE(identity_.caCertPem.empty());
    secure_ = std::make_unique<TestServer>(identity_);
    ASSERT_TRUE(secure_->ok());
    secure_->Route("*", "/s", [](const RecordedRequest& r, Response& res) {
      Reply(res, "secret " + r.Method() + " [" + r.body + "]");
    });
  }
  Call SecureCall(const std::string& path) {
    Call c = To(*secure_, path);
    c.flags |= kInetFlagSecure;
    return c;
  }

  TlsIdentity identity_;
  std::unique_ptr<TestServer> secure_;
};

TEST_F(TlsTest, TrustedCertificatesCarryTheExchange) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  Call c = SecureCall("/s");
  c.verb = "POST";
  c.body = "x=1";
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "secret POST [x=1]");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
  EXPECT_EQ(secure_->Last().requestLine, "POST /s HTTP/1.1");
}

TEST_F(TlsTest, ACertificateOfAnUntrustedAuthorityFailsTheSend) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  const TlsIdentity stranger = quorvel::test::MakeTlsIdentity("Some Other Authority");
  ASSERT_FALSE(stranger.caCertPem.empty());
  TestServer other(stranger);
  ASSERT_TRUE(other.ok());
  Call c = To(other, "/s");
  c.flags |= kInetFlagSecure;
  const Outcome out = Perform(c);
  EXPECT_TRUE(out.opened);
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.body, "");
  EXPECT_EQ(out.headers, "");
  EXPECT_EQ(other.RequestCount(), 0u);
}

TEST_F(TlsTest, HttpToHttpsRedirectsNeedTheirFlagAndHttpsNeverDropsToHttp) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  server_.Route("GET", "/up", [this](const RecordedRequest&, Response& res) {
    res.status = 302;
    res.set_header("Location", secure_->Url("/s"));
    Reply(res, "stay");
  });
  secure_->Route("GET", "/down", [this](const RecordedRequest&, Response& res) {
    res.status = 302;
    res.set_header("Location", server_.Url("/echo"));
    Reply(res, "not down");
  });
  Call up = To(server_, "/up");
  Outcome out = Perform(up);
  EXPECT_EQ(out.body, "stay");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 302", 0), 0u);

  up.flags |= kInetFlagIgnoreRedirectToHttps;
  out = Perform(up);
  EXPECT_EQ(out.body, "secret GET []");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 200", 0), 0u);

  Call down = SecureCall("/down");
  down.flags |= kInetFlagIgnoreRedirectToHttps;
  out = Perform(down);
  EXPECT_EQ(out.body, "not down");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 302", 0), 0u);
  EXPECT_EQ(server_.Last().Target(), "/up");  // never asked for /echo over http
}

// ---- cookies ----------------------------------------------------------------------------

TEST_F(InetTest, TheCookieStoreAppliesUnlessARequestOptsOut) {
  server_.Route("GET", "/c/set", [](const RecordedRequest& r, Response& res) {
    res.set_header("Set-Cookie", r.Value("X-Cookie") + "; Path=/c/");
    Reply(res, "set");
  });
  const std::uint32_t withStore = kInetFlagReload | kInetFlagNeedFile;

  Call set = To(server_, "/c/set");
  set.flags = withStore;
  set.headers = "X-Cookie: kept=1";
  ASSERT_TRUE(Perform(set).sent);

  set.flags = kPlain;  // no cookies: not stored
  set.headers = "X-Cookie: ignored=1";
  ASSERT_TRUE(Perform(set).sent);

  Call look = To(server_, "/c/look");
  look.flags = withStore;
  ASSERT_TRUE(Perform(look).opened);
  EXPECT_EQ(server_.Last().Values("Cookie"), std::vector<std::string>{"kept=1"});

  look.flags = kPlain;  // no cookies: not sent
  ASSERT_TRUE(Perform(look).opened);
  EXPECT_FALSE(server_.Last().Has("Cookie"));

  look.flags = withStore;
  InetClearCookieStore();
  ASSERT_TRUE(Perform(look).opened);
  EXPECT_FALSE(server_.Last().Has("Cookie"));
}

// ---- proxies ----------------------------------------------------------------------------

class ProxyTest : public TlsTest {
 protected:
  void SetUp() override {
    TlsTest::SetUp();
    ASSERT_TRUE(proxy_.ok()) << proxy_.error();
  }
  TinyproxyRunner proxy_;
};

TEST_F(ProxyTest, HttpGoesThroughAnHttpOnlyProxy) {
  Call c = To(server_, "/echo?via=proxy");
  c.access = kInetOpenProxy;
  c.proxy = "http=" + proxy_.HostPort();
  c.headers = "X-Mine: 1";
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "hello");
  const RecordedRequest r = server_.Last();
  EXPECT_EQ(r.Target(), "/echo?via=proxy");
  EXPECT_NE(r.Value("Via").find("tinyproxy"), std::string::npos) << r.Value("Via");
  EXPECT_EQ(r.Value("X-Mine"), "1");
  EXPECT_NE(proxy_.Log().find("GET http://127.0.0.1:" + std::to_string(server_.port()) +
                              "/echo?via=proxy"),
            std::string::npos)
      << proxy_.Log();
}

TEST_F(ProxyTest, HttpsTunnelsThroughAProxyForEveryScheme) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  Call c = SecureCall("/s");
  c.access = kInetOpenProxy;
  c.proxy = proxy_.HostPort();
  const Outcome out = Perform(c);
  ASSERT_TRUE(out.sent);
  EXPECT_EQ(out.body, "secret GET []");
  EXPECT_EQ(out.headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << out.headers;
  EXPECT_NE(proxy_.Log().find("CONNECT 127.0.0.1:" + std::to_string(secure_->port())),
            std::string::npos)
      << proxy_.Log();
}

TEST_F(ProxyTest, SchemesAndHostsTheProxyDoesNotServeGoDirect) {
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  Call https = SecureCall("/s");
  https.access = kInetOpenProxy;
  https.proxy = "http=" + proxy_.HostPort();
  EXPECT_EQ(Perform(https).body, "secret GET []");

  Call bypassed = To(server_, "/echo");
  bypassed.access = kInetOpenProxy;
  bypassed.proxy = proxy_.HostPort();
  bypassed.bypass = "other.example;127.0.0.*";
  EXPECT_EQ(Perform(bypassed).body, "hello");
  EXPECT_FALSE(server_.Last().Has("Via"));

  EXPECT_EQ(proxy_.Log().find("Request ("), std::string::npos) << proxy_.Log();
}

TEST_F(ProxyTest, ADirectHandleIgnoresTheProxyVariables) {
  const std::string dead = "http://127.0.0.1:" + std::to_string(quorvel::test::FreeLoopbackPort());
  ScopedEnv a("http_proxy", proxy_.HostPort());
  ScopedEnv b("HTTPS_PROXY", proxy_.HostPort());
  ScopedEnv d("https_proxy", dead);
  ScopedEnv e("ALL_PROXY", dead);
  ScopedEnv f("all_proxy", dead);
  TrustedAuthority trust(identity_.caCertPem);
  ASSERT_TRUE(trust.ok());
  EXPECT_EQ(Perform(To(server_, "/echo")).body, "hello");
  EXPECT_EQ(Perform(SecureCall("/s")).body, "secret GET []");
  EXPECT_FALSE(server_.Last().Has("Via"));
  EXPECT_EQ(proxy_.Log().find("Request ("), std::string::npos) << proxy_.Log();
}

TEST_F(ProxyTest, AnUnreachableProxyFailsToOpen) {
  Call c = To(server_, "/echo");
  c.access = kInetOpenProxy;
  c.proxy = "127.0.0.1:" + std::to_string(quorvel::test::FreeLoopbackPort());
  EXPECT_FALSE(Perform(c).opened);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

}  // namespace
}  // namespace quorvel::platform
