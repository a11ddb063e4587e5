// The text operations on any bytes: each result is checked against a plain walk by
// characters written from the operations' contracts (slow, obviously right), and against
// the properties every caller relies on: a found position holds the sought text, the pieces
// of a split joined by the delimiter give back the text, no result holds a zero byte.
//
// Input: option bytes (ignore case, start, count, numbers for the cut operations, a repeat
// count), then the fields text, sought and replacement. The repeat count makes the text
// its field repeated up to 8 KiB, long enough for the searcher's fallback to its linear
// scan to take over on texts full of near-matches.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "text/text.h"

namespace quorvel {
namespace {

using fuzz::CharLen;
using fuzz::Printable;

unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

// Whether sought matches text at byte i (which starts a character of the text's walk). With
// ignoreCase, bytes that are one-byte characters of both walks (the text's from i, the
// sought's from its first byte) compare by their folded ASCII letters; all others exactly.
bool MatchAt(std::string_view text, std::size_t i, std::string_view sought, bool ignoreCase) {
  std::size_t nextT = 0;  // next character start of the text's walk, relative to i
  std::size_t nextS = 0;  // next character start of the sought's walk
  for (std::size_t j = 0; j < sought.size(); ++j) {
    const auto t = static_cast<unsigned char>(text[i + j]);
    const auto s = static_cast<unsigned char>(sought[j]);
    const bool startT = j == nextT;
    const bool startS = j == nextS;
    if (startT) nextT += CharLen(text, i + j);
    if (startS) nextS += CharLen(sought, j);
    if (t == s) continue;
    if (ignoreCase && startT && startS && t < 0x80 && s < 0x80 && Lower(t) == Lower(s)) continue;
    return false;
  }
  return true;
}

std::size_t SkipOf(std::optional<int> start) {
  return (!start || *start <= 1) ? 0 : static_cast<std::size_t>(*start) - 1;
}

int RefFind(std::string_view text, std::string_view sought, std::optional<int> start, bool ic) {
  const std::size_t skip = SkipOf(start);
  if (skip >= text.size()) return -1;
  if (sought.empty()) return 1;
  for (std::size_t i = skip; i + sought.size() <= text.size(); i += CharLen(text, i)) {
    if (MatchAt(text, i, sought, ic)) return static_cast<int>(i) + 1;
  }
  return -1;
}

int RefFindReverse(std::string_view text, std::string_view sought, std::optional<int> start,
                   bool ic) {
  std::size_t limit = start ? SkipOf(start) : text.size();
  limit = std::min(limit, text.size());
  if (limit == 0) return -1;
  if (sought.empty()) return 1;
  const std::string_view stretch = text.substr(0, limit);
  int last = -1;
  for (std::size_t i = 0; i + sought.size() <= stretch.size(); i += CharLen(stretch, i)) {
    if (MatchAt(stretch, i, sought, ic)) last = static_cast<int>(i) + 1;
  }
  return last;
}

std::string RefReplace(std::string_view text, std::string_view sought, std::string_view rep,
                       std::optional<int> start, std::optional<int> count, bool ic) {
  const std::size_t skip = SkipOf(start);
  if (text.empty() || sought.empty() || skip >= text.size() || (count && *count == 0)) {
    return std::string(text);
  }
  const bool limited = count && *count > 0;
  std::string out(text.substr(0, skip));
  std::size_t i = skip;
  int done = 0;
  while (i + sought.size() <= text.size() && (!limited || done < *count)) {
    if (MatchAt(text, i, sought, ic)) {
      out.append(rep);
      i += sought.size();
      ++done;
    } else {
      const std::size_t n = CharLen(text, i);
      out.append(text.substr(i, n));
      i += n;
    }
  }
  out.append(text.substr(std::min(i, text.size())));
  return out;
}

std::vector<std::string> RefSplit(std::string_view text, std::string_view delim,
                                  std::optional<int> count) {
  std::vector<std::string> items;
  if (text.empty() || (count && *count <= 0)) return items;
  if (delim.empty()) return {std::string(text)};
  const std::size_t max = count ? static_cast<std::size_t>(*count) : SIZE_MAX;
  std::size_t from = 0;
  std::size_t i = 0;
  while (i + delim.size() <= text.size() && items.size() < max) {
    if (MatchAt(text, i, delim, false)) {
      items.emplace_back(text.substr(from, i - from));
      i += delim.size();
      from = i;
    } else {
      i += CharLen(text, i);
    }
  }
  if (from < text.size() && items.size() < max) items.emplace_back(text.substr(from));
  return items;
}

bool IsSpace(std::string_view s, std::size_t i, std::size_t n) {
  return (n == 1 && s[i] == ' ') || (n == 2 && static_cast<unsigned char>(s[i]) == 0xA1 &&
                                     static_cast<unsigned char>(s[i + 1]) == 0xA1);
}

std::string RefTrim(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size() && IsSpace(s, begin, CharLen(s, begin))) begin += CharLen(s, begin);
  std::size_t end = s.size();
  bool inRun = false;
  for (std::size_t i = begin; i < s.size(); i += CharLen(s, i)) {
    if (IsSpace(s, i, CharLen(s, i))) {
      if (!inRun) end = i;
      inRun = true;
    } else {
      inRun = false;
      end = s.size();
    }
  }
  return std::string(s.substr(begin, end - begin));
}

std::string RefRemoveSpaces(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); i += CharLen(s, i)) {
    if (!IsSpace(s, i, CharLen(s, i))) out.append(s.substr(i, CharLen(s, i)));
  }
  return out;
}

std::string RefCase(std::string_view s, bool upper) {
  std::string out(s);
  for (std::size_t i = 0; i < s.size(); i += CharLen(s, i)) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) continue;
    if (upper && c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') out[i] = static_cast<char>(c + 32);
  }
  return out;
}

// The full-width forms read as ASCII, then the leading integer, held at the ends of int.
int RefToInt(std::string_view s) {
  std::string ascii;
  for (std::size_t i = 0; i < s.size(); i += CharLen(s, i)) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (CharLen(s, i) == 1) {
      ascii += static_cast<char>(c);
      continue;
    }
    const auto d = static_cast<unsigned char>(s[i + 1]);
    if (c == 0xA3 && d >= 0xA1 && d <= 0xFE) {
      ascii += static_cast<char>(d - 0x80);
    } else if (c == 0xA1 && d == 0xA1) {
      ascii += ' ';
    } else if (c == 0xA1 && d == 0xAB) {
      ascii += '~';
    } else if (c == 0xA1 && (d == 0xEE || d == 0xEF)) {
      ascii += '*';
    } else {
      ascii += static_cast<char>(c);
      ascii += static_cast<char>(d);
    }
  }
  std::size_t i = 0;
  while (i < ascii.size() && std::strchr(" \t\n\v\f\r", ascii[i]) != nullptr) ++i;
  bool negative = false;
  if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) negative = ascii[i++] == '-';
  long long v = 0;
  for (; i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9'; ++i) {
    v = std::min(v * 10 + (ascii[i] - '0'), 1LL << 32);
  }
  if (negative) v = -v;
  return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

std::string Joined(const TextArray& parts, std::string_view delim) {
  std::string out;
  for (std::size_t k = 0; k < parts.items().size(); ++k) {
    if (k > 0) out.append(delim);
    out.append(parts.items()[k].view());
  }
  return out;
}

void Fail(const char* what, std::string_view text, std::string_view sought, long got, long want) {
  std::fprintf(stderr, "%s: text \"%s\" sought \"%s\": got %ld, want %ld\n", what,
               Printable(text).c_str(), Printable(sought).c_str(), got, want);
  std::abort();
}

void CheckSearches(const Text& text, const Text& sought, std::optional<int> start, bool ic) {
  const std::string_view t = text.view();
  const std::string_view s = sought.view();
  const int p = FindText(text, sought, start, ic);
  const int want = RefFind(t, s, start, ic);
  if (p != want) Fail("FindText", t, s, p, want);
  if (p != -1) {
    // A found position lies in the text, at or after the start, and holds the sought text.
    FUZZ_CHECK(p >= 1 && static_cast<std::size_t>(p) <= t.size());
    // (An empty sought text is found at 1 whenever the stretch searched is not empty.)
    if (!s.empty()) {
      FUZZ_CHECK(p >= (start ? *start : 1));
      FUZZ_CHECK(p - 1 + s.size() <= t.size() && MatchAt(t, p - 1, s, ic));
    }
  }
  const int r = FindTextReverse(text, sought, start, ic);
  const int wantR = RefFindReverse(t, s, start, ic);
  if (r != wantR) Fail("FindTextReverse", t, s, r, wantR);
  if (r != -1 && !s.empty()) {
    // The occurrence ends before the start.
    FUZZ_CHECK(!start || static_cast<long>(r) + static_cast<long>(s.size()) <= *start);
    FUZZ_CHECK(MatchAt(t, r - 1, s, ic));
  }
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  fuzz::Input in(data, size);
  const bool ic = in.Flag();
  const unsigned startMode = in.Byte();
  const int startValue = in.Number();
  const unsigned countMode = in.Byte();
  const int countValue = in.Number();
  const int n1 = in.Number();
  const int n2 = in.Number();
  const unsigned repeat = in.Byte();
  const std::optional<int> start = (startMode & 1) ? std::optional<int>(startValue) : std::nullopt;
  const std::optional<int> count = (countMode & 1) ? std::optional<int>(countValue) : std::nullopt;

  std::string textBytes(in.Field());
  if (repeat >= 0xF0 && !textBytes.empty()) {
    const std::size_t times =
        std::min<std::size_t>((repeat - 0xEF) * 512, (8u << 10) / textBytes.size());
    std::string piece = textBytes;
    for (std::size_t k = 1; k < times; ++k) textBytes += piece;
  }
  const Text text(textBytes);
  const Text sought(in.Field());
  const Text replacement(in.Field());
  const std::string_view t = text.view();
  const std::string_view s = sought.view();

  CheckSearches(text, sought, start, ic);
  // The searches from every start of a short text, so that the starts which fall on the
  // second byte of a character are met as often as the others.
  if (t.size() <= 24) {
    for (int st = 0; st <= static_cast<int>(t.size()) + 1; ++st)
      CheckSearches(text, sought, st, ic);
  }

  const Text replaced = ReplaceText(text, sought, replacement, start, count, ic);
  FUZZ_CHECK(fuzz::WellFormed(replaced));
  const std::string wantReplaced = RefReplace(t, s, replacement.view(), start, count, ic);
  if (replaced.str() != wantReplaced) {
    std::fprintf(stderr, "ReplaceText: got \"%s\" want \"%s\"\n",
                 Printable(replaced.view()).c_str(), Printable(wantReplaced).c_str());
    FUZZ_CHECK(replaced.str() == wantReplaced);
  }
  // Replacing an occurrence by itself changes nothing.
  if (!ic) FUZZ_CHECK(ReplaceText(text, sought, sought, start, count, false) == text);

  const TextArray parts = SplitText(text, sought, count);
  const std::vector<std::string> wantParts = RefSplit(t, s, count);
  FUZZ_CHECK(ElementCount(parts) == static_cast<int>(wantParts.size()));
  for (std::size_t k = 0; k < wantParts.size(); ++k) {
    FUZZ_CHECK(parts.items()[k].str() == wantParts[k]);
    FUZZ_CHECK(fuzz::WellFormed(parts.items()[k]));
  }
  if (!count && !t.empty()) {
    // The pieces joined by the delimiter give back the text, but for a delimiter at its end.
    const std::string joined = Joined(parts, s.empty() ? std::string_view() : s);
    FUZZ_CHECK(joined == t || (!s.empty() && joined + std::string(s) == t));
  }
  FUZZ_CHECK(parts[0].empty() && parts[ElementCount(parts) + 1].empty());

  const Text trimmed = TrimText(text);
  FUZZ_CHECK(trimmed.str() == RefTrim(t));
  FUZZ_CHECK(TrimText(trimmed) == trimmed);
  FUZZ_CHECK(RemoveSpaces(text).str() == RefRemoveSpaces(t));
  const Text upper = ToUpper(text);
  const Text lower = ToLower(text);
  FUZZ_CHECK(upper.str() == RefCase(t, true));
  FUZZ_CHECK(lower.str() == RefCase(t, false));
  FUZZ_CHECK(TextToInt(text) == RefToInt(t));
  FUZZ_CHECK(TextToInt(sought) == RefToInt(s));

  // The cut operations against their contracts.
  const std::size_t len = t.size();
  const Text left = TextLeft(text, n1);
  FUZZ_CHECK(left.view() ==
             (n1 <= 0 ? std::string_view() : t.substr(0, static_cast<std::size_t>(n1))));
  const Text right = TextRight(text, n1);
  FUZZ_CHECK(
      right.view() ==
      (n1 <= 0 ? std::string_view() : t.substr(len - std::min(len, static_cast<std::size_t>(n1)))));
  const Text mid = TextMid(text, n1, n2);
  if (n1 < 1 || n2 <= 0 || static_cast<std::size_t>(n1) > len) {
    FUZZ_CHECK(mid.empty());
  } else {
    FUZZ_CHECK(mid.view() ==
               t.substr(static_cast<std::size_t>(n1) - 1, static_cast<std::size_t>(n2)));
  }
  const Text ch = CharFromCode(n1);
  FUZZ_CHECK(fuzz::WellFormed(ch) && ch.size() == ((n1 & 0xFF) != 0 ? 1u : 0u));
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(n2));
  FUZZ_CHECK(ToHexText(n2).str() == hex);
  FUZZ_CHECK(BlankText(n1 % 4096).size() == static_cast<std::size_t>(std::max(0, n1 % 4096)));

  // Bytes keep zero bytes; turning them into Text stops at the first.
  const Bytes raw(std::string_view(reinterpret_cast<const char*>(data), size));
  FUZZ_CHECK(BytesToText(raw).view() == raw.view().substr(0, raw.view().find('\0')));
  FUZZ_CHECK(BytesLeft(raw, n1).size() ==
             (n1 <= 0 ? 0u : std::min(size, static_cast<std::size_t>(n1))));
  FUZZ_CHECK(ConcatBytes(raw, TextToBytes(text)).size() == size + len);
  FUZZ_CHECK(TextEquals(ConcatText(text, sought), Text(std::string(t) + std::string(s))));
  return 0;
}
