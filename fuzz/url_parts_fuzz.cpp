// Host, port and path of any address, TextBetween and HeaderValue of any text.
//
// Checked for every input:
// - UrlHost without suffix count: no "/" starts a character of the host; the host without
//   its port is a prefix of the host with it.
// - UrlHost with a suffix count: the result (port kept) is what the contract's steps give
//   with plain reverse searches; with domainOnly it is a suffix of the result without it,
//   and one count more gives a result that ends in the one of this count.
// - UrlPort: 80 or 443 when the host carries no port colon.
// - UrlPath: "/" or a suffix of the address that begins with "/"; behind an http:// or
//   https:// scheme (any case) the host and the path split the rest of the address: the
//   path begins where the host (port kept) ends.
// - TextBetween: empty, or a piece of the text that stands there between the two markers
//   (their "#引号" read as a double quote).
// - HeaderValue: a piece of the line, already trimmed.
// No result holds a zero byte.
//
// Input: option bytes (domainOnly, keepPort, suffix count, TextBetween's start and case
// flag), then the fields address, start marker and end marker.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "text/convert.h"
#include "web/url_parts.h"

namespace quorvel {
namespace {

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// The suffix-count host with its port, by the contract's steps.
Text RefSuffixHost(const Text& address, bool domainOnly, int n) {
  Text t = ToLower(address);
  t = ReplaceText(t, Text("http://"));
  t = ReplaceText(t, Text("https://"));
  const int slash = FindText(t, Text("/"));
  if (slash != -1) t = TextLeft(t, slash - 1);
  const int length = TextLength(t);
  const Text dot(".");
  int d = length;
  for (int i = 0; i < n && d != -1; ++i) d = FindTextReverse(t, dot, d);
  const int x = FindTextReverse(t, dot, d);
  if (domainOnly) return TextRight(t, length - x);
  if (x != -1) {
    const int y = FindTextReverse(t, dot, x);
    if (y != -1) return TextRight(t, length - y);
  }
  return t;
}

void CheckHost(const Text& address, bool domainOnly, std::optional<int> n) {
  const Text withPort = UrlHost(address, domainOnly, true, n);
  const Text host = UrlHost(address, domainOnly, false, n);
  FUZZ_CHECK(fuzz::WellFormed(withPort) && fuzz::WellFormed(host));
  FUZZ_CHECK(withPort.view().substr(0, host.size()) == host.view());
  if (!n) {
    FUZZ_CHECK(FindText(withPort, Text("/")) == -1);
    return;
  }
  const Text want = RefSuffixHost(address, domainOnly, *n);
  if (withPort != want) {
    std::fprintf(stderr, "UrlHost(\"%s\", %d, true, %d): got \"%s\", want \"%s\"\n",
                 fuzz::Printable(address.view()).c_str(), domainOnly, *n,
                 fuzz::Printable(withPort.view()).c_str(), fuzz::Printable(want.view()).c_str());
    std::abort();
  }
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  fuzz::Input in(data, size);
  const int n = in.Number();
  const int startPos = in.Number();
  const bool ignoreCase = in.Flag();
  const Text address(in.Field());
  const Text startMarker(in.Field());
  const Text endMarker(in.Field());

  for (const bool domainOnly : {false, true}) {
    CheckHost(address, domainOnly, std::nullopt);
    CheckHost(address, domainOnly, n);
    CheckHost(address, domainOnly, 0);
  }
  const Text wide = UrlHost(address, false, true, n);
  FUZZ_CHECK(EndsWith(wide.view(), UrlHost(address, true, true, n).view()));
  if (n >= 0 && n < INT_MAX) {
    FUZZ_CHECK(EndsWith(UrlHost(address, false, true, n + 1).view(), wide.view()));
  }

  const int port = UrlPort(address);
  const Text hostWithPort = UrlHost(address, false, true);
  if (hostWithPort.view().find(':') == std::string_view::npos) {
    const bool https = ToLower(TextLeft(address, 5)) == Text("https");
    FUZZ_CHECK(port == (https ? 443 : 80));
  }

  const Text path = UrlPath(address);
  FUZZ_CHECK(fuzz::WellFormed(path));
  FUZZ_CHECK(path == Text("/") ||
             (TextLeft(path, 1) == Text("/") && EndsWith(address.view(), path.view())));

  const std::string lower = ToLower(address).str();
  const std::size_t scheme = lower.rfind("http://", 0) == 0    ? 7
                             : lower.rfind("https://", 0) == 0 ? 8
                                                               : 0;
  if (scheme != 0) {
    const std::string_view rest = std::string_view(lower).substr(scheme);
    FUZZ_CHECK(rest.substr(0, hostWithPort.size()) == hostWithPort.view());
    const std::string_view after = address.view().substr(scheme + hostWithPort.size());
    // (An address that ends in a lone lead byte has no "/" that starts a character behind
    // its scheme, not even the one put behind it, so its host is empty: that case is left
    // out.)
    if (!hostWithPort.empty() || after.empty() || after[0] == '/') {
      FUZZ_CHECK(path.view() == (after.empty() ? std::string_view("/") : after));
    }
  }

  const Text between = TextBetween(address, startMarker, endMarker, startPos, ignoreCase);
  FUZZ_CHECK(fuzz::WellFormed(between));
  if (!between.empty()) {
    const Text quote("\"");
    const Text marker = Gbk("#引号");
    const std::string framed = ReplaceText(startMarker, marker, quote).str() + between.str() +
                               ReplaceText(endMarker, marker, quote).str();
    if (!ignoreCase) {
      FUZZ_CHECK(address.view().find(framed) != std::string_view::npos);
    } else {
      FUZZ_CHECK(address.view().find(between.view()) != std::string_view::npos);
    }
  }

  const Text value = HeaderValue(address);
  FUZZ_CHECK(fuzz::WellFormed(value));
  FUZZ_CHECK(TrimText(value) == value);
  FUZZ_CHECK(address.view().find(value.view()) != std::string_view::npos);
  if (address.view().find(':') == std::string_view::npos) FUZZ_CHECK(value.empty());
  return 0;
}
