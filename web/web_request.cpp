#include "web/web_request.h"

#include <optional>
#include <string>
#include <string_view>

#include "platform/inet/inet.h"
#include "web/cookies.h"
#include "web/url_parts.h"

namespace quorvel {
namespace {

namespace inet = platform;

// The header query buffer: raw headers that need more (with their zero) are asked for again
// with the size the layer reports.
constexpr std::size_t kHeaderBufferSize = 5000;
constexpr std::size_t kReadChunk = 1024;

bool IsSecure(const Text& url) { return TextEquals(ToLower(TextLeft(url, 5)), Text("https")); }

Text AgentFor(const Text& headers) {
  if (FindText(headers, Text("User-Agent:"), std::nullopt, true) == -1) {
    return Text(kDefaultUserAgent);
  }
  Text agent = TrimText(TextBetween(headers, Text("User-Agent:"), Text("\r\n")));
  if (agent.empty()) agent = HeaderValue(headers);
  return agent;
}

// The caller's lines, then each default whose name is missing, then the cookie line.
Text CompleteHeaders(Text block, const Text& url, const Text* cookies) {
  if (block.empty()) {
    block = Text("Accept: */*");
  } else if (FindText(block, Text("Accept:")) == -1) {
    block.Append(std::string_view("\r\nAccept: */*"));
  }
  if (FindText(block, Text("Referer:")) == -1) {
    block.Append(std::string_view("\r\nReferer: "));
    block.Append(url);
  }
  if (FindText(block, Text("Accept-Language:")) == -1)
    block.Append(std::string_view("\r\nAccept-Language: zh-cn"));
  if (FindText(block, Text("Content-Type:")) == -1) {
    block.Append(std::string_view("\r\nContent-Type: application/x-www-form-urlencoded"));
  }
  if (cookies && !cookies->empty()) {
    block.Append(std::string_view("\r\nCookie: "));
    block.Append(*cookies);
  }
  return block;
}

// The final response's raw headers, or the 5000 blanks when the layer has none.
Text QueryResponseHeaders(inet::InetHandle* request) {
  std::string buffer(kHeaderBufferSize, ' ');
  std::size_t length = buffer.size();
  if (!inet::InetQueryRawHeaders(request, buffer.data(), &length) && length > buffer.size()) {
    buffer.assign(length, ' ');
    inet::InetQueryRawHeaders(request, buffer.data(), &length);
  }
  Text headers{std::string_view(buffer)};  // up to the first zero byte
  return ReplaceText(headers, Text("Set-Cookie"), Text("Set-Cookie"), std::nullopt, std::nullopt,
                     true);
}

void Close(inet::InetHandle* request, inet::InetHandle* connection, inet::InetHandle* internet) {
  inet::InetCloseHandle(request);
  inet::InetCloseHandle(connection);
  inet::InetCloseHandle(internet);
}

}  // namespace

Text CollectCookies(const Text& responseHeaders) {
  Text received;
  const TextArray lines = SplitText(responseHeaders, Text("\r\n"));
  for (const Text& line : lines.items()) {
    if (FindText(line, Text("Set-Cookie")) == -1) continue;
    if (FindText(line, Text(";")) != -1) {
      received.Append(TrimText(TextBetween(line, Text("Set-Cookie:"), Text(";"))));
    } else {
      received.Append(TrimText(
          ReplaceText(line, Text("Set-Cookie:"), Text(), std::nullopt, std::nullopt, true)));
    }
    received.Append(std::string_view("; "));
  }
  return TextLeft(received, TextLength(received) - 2);
}

std::uint32_t WebRequestFlags(const Text& url, bool cookiesGiven, bool noRedirect) {
  std::uint32_t flags = inet::kInetFlagReload | inet::kInetFlagNeedFile;
  if (cookiesGiven) flags |= inet::kInetFlagNoCookies;
  if (noRedirect) flags |= inet::kInetFlagNoAutoRedirect;
  flags |= IsSecure(url) ? inet::kInetFlagSecure : inet::kInetFlagIgnoreRedirectToHttps;
  return flags;
}

Bytes WebRequest(const Text& url, int method, const Text& postText, Text* cookies,
                 Text* receivedCookies, Text* headers, Text* responseHeaders, bool noRedirect,
                 Bytes* postBytes, const Text& proxy) {
  const Text verb(method == 1 ? "POST" : "GET");
  const bool secure = IsSecure(url);
  const Text agent = AgentFor(headers ? *headers : Text());

  inet::InetHandle* internet = nullptr;
  if (proxy.empty()) {
    internet = inet::InetOpen(agent.view(), inet::kInetOpenDirect);
  } else {
    const Text proxyText = secure ? proxy : ConcatText(Text("http="), proxy);
    internet = inet::InetOpen(agent.view(), inet::kInetOpenProxy, proxyText.view(), "");
  }
  if (!internet) {
    Close(nullptr, nullptr, internet);
    return Bytes();
  }
  inet::InetHandle* connection = inet::InetConnect(internet, UrlHost(url).view(), UrlPort(url));
  if (!connection) {
    Close(nullptr, connection, internet);
    return Bytes();
  }
  inet::InetHandle* request =
      inet::InetOpenRequest(connection, verb.view(), UrlPath(url).view(), "HTTP/1.1",
                            WebRequestFlags(url, cookies != nullptr, noRedirect));
  if (!request) {
    Close(request, connection, internet);
    return Bytes();
  }

  const Text block = CompleteHeaders(headers ? *headers : Text(), url, cookies);
  if (headers) *headers = block;

  if (method == 0) {
    inet::InetSendRequest(request, block.view(), {});
  } else {
    Bytes fromText;
    const Bytes* body = postBytes;
    if (!postBytes || postBytes->empty()) {
      fromText = TextToBytes(postText);
      if (postBytes) {
        *postBytes = std::move(fromText);
      } else {
        body = &fromText;
      }
    }
    inet::InetSendRequest(request, block.view(), body->view());
  }

  Bytes result;
  char buffer[kReadChunk];
  while (const std::size_t n = inet::InetReadFile(request, buffer, sizeof(buffer))) {
    result.Append(buffer, n);
  }

  const Text raw = QueryResponseHeaders(request);
  if (responseHeaders) *responseHeaders = raw;
  Close(request, connection, internet);

  Text received = CollectCookies(raw);
  if (cookies) MergeCookies(*cookies, received);
  if (receivedCookies) *receivedCookies = std::move(received);
  return result;
}

}  // namespace quorvel
