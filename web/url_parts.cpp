#include "web/url_parts.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "text/convert.h"

namespace quorvel {
namespace {

// The marker text that stands for a double quote inside TextBetween's markers.
const Text& QuoteMarker() {
  static const Text marker = Gbk("#引号");
  return marker;
}

// Position of the colon that starts the port in a host text, -1 if none. A bracketed IPv6
// literal ("[::1]:8080") keeps its own colons; only a colon behind the "]" counts.
int PortColon(const Text& host, bool last) {
  if (TextLeft(host, 1) == Text("[")) {
    const int close = FindText(host, Text("]"));
    if (close != -1) {
      const int colon =
          last ? FindTextReverse(host, Text(":")) : FindText(host, Text(":"), close + 1);
      return colon > close ? colon : -1;
    }
  }
  return last ? FindTextReverse(host, Text(":")) : FindText(host, Text(":"));
}

Text CutPort(const Text& host) {
  const int colon = PortColon(host, false);
  return colon == -1 ? host : TextLeft(host, colon - 1);
}

struct PlainHost {
  Text host;      // lower case, port still attached
  int start = 1;  // position in the address where the host begins
};

// True when none of the bytes of marks occurs in t before position pos.
bool NoneBefore(const Text& t, std::string_view marks, int pos) {
  for (char mark : marks) {
    const int at = FindText(t, Text(std::string_view(&mark, 1)));
    if (at != -1 && at < pos) return false;
  }
  return true;
}

// The host between the scheme and the first "/" behind it. "http://" counts as the scheme
// only where no "/", "?" or "#" comes before it: behind any of them it lies in the path, the
// query or the fragment of an address without a scheme ("a.com/?next=http://b.com/",
// "a.com?u=http://b.com/", "a.com#http://b.com/"), and such an address names its own host,
// never one that its query or fragment carries.
PlainHost SplitPlainHost(const Text& address) {
  Text t = ToLower(address);
  const Text slash("/");
  if (TextRight(t, 1) != slash) t = ConcatText(t, slash);
  if (TextLeft(t, 8) == Text("https://")) return {TextBetween(t, Text("https://"), slash), 9};
  const Text http("http://");
  const int scheme = FindText(t, http);
  if (scheme != -1 && NoneBefore(t, "/?#", scheme)) {
    return {TextBetween(t, http, slash), scheme + 7};
  }
  return {TextBetween(ConcatText(http, t), http, slash), 1};
}

// The 1-based positions of the dots of t that start a character (walking by characters
// from the first byte, a lead byte of 0x80 or above taking the byte after it), in order.
std::vector<int> DotPositions(const Text& t) {
  std::vector<int> dots;
  const std::string_view s = t.view();
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '.') dots.push_back(static_cast<int>(i) + 1);
    i += (c >= 0x80 && i + 1 < s.size()) ? 2 : 1;
  }
  return dots;
}

Text SuffixHost(Text t, bool domainOnly, int suffixDots) {
  t = ReplaceText(t, Text("http://"));
  t = ReplaceText(t, Text("https://"));
  const int slash = FindText(t, Text("/"));
  if (slash != -1) t = TextLeft(t, slash - 1);
  const int length = TextLength(t);
  // The dots of t, found once by one walk, so that every step back below is a look-up and
  // a host with many dots costs time in proportion to its length.
  const std::vector<int> dots = DotPositions(t);
  // The position of the last dot before position d (-1 when there is none or d is -1): what
  // a reverse search for "." from start d gives.
  auto dotBefore = [&dots](int d) {
    const auto it = std::lower_bound(dots.begin(), dots.end(), d);
    return (d < 1 || it == dots.begin()) ? -1 : *(it - 1);
  };
  // Each step moves d to the dot before it, so the loop ends after at most one step per dot.
  int d = length;
  for (int i = 0; i < suffixDots && d != -1; ++i) d = dotBefore(d);
  const int x = dotBefore(d);
  if (domainOnly) return TextRight(t, length - x);
  if (x != -1) {
    const int y = dotBefore(x);
    if (y != -1) return TextRight(t, length - y);
  }
  return t;
}

}  // namespace

Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker, int startPos,
                 bool ignoreCase) {
  const Text quote("\"");
  const Text start = ReplaceText(startMarker, QuoteMarker(), quote);
  const Text end = ReplaceText(endMarker, QuoteMarker(), quote);
  int p = FindText(text, start, startPos, ignoreCase);
  if (p != -1) p += TextLength(start);
  const int q = FindText(text, end, p, ignoreCase);
  if (p == -1 || q == -1) return Text();
  return TextMid(text, p, q - p);
}

Text HeaderValue(const Text& line) {
  const int p = FindText(line, Text(":"));
  if (p == -1) return Text();
  return TrimText(TextRight(line, TextLength(line) - p));
}

Text UrlHost(const Text& address, bool domainOnly, bool keepPort, std::optional<int> suffixDots) {
  Text t;
  if (suffixDots) {
    t = SuffixHost(ToLower(address), domainOnly, *suffixDots);
  } else {
    t = SplitPlainHost(address).host;
    if (domainOnly) {
      const TextArray parts = SplitText(t, Text("."));
      const int n = ElementCount(parts);
      if (n >= 2) t = ConcatText(parts[n - 1], Text("."), parts[n]);
    }
  }
  return keepPort ? t : CutPort(t);
}

int UrlPort(const Text& address) {
  const Text host = UrlHost(address, false, true);
  const int colon = PortColon(host, true);
  if (colon != -1) return TextToInt(TextRight(host, TextLength(host) - colon));
  return ToLower(TextLeft(address, 5)) == Text("https") ? 443 : 80;
}

Text UrlPath(const Text& address) {
  // The first "/" from where the host begins ends the host (the host holds no "/").
  const int slash = FindText(address, Text("/"), SplitPlainHost(address).start);
  if (slash == -1) return Text("/");
  return TextRight(address, TextLength(address) - slash + 1);
}

}  // namespace quorvel
