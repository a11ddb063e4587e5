#include "text/url_coding.h"

#include <cstring>
#include <string>
#include <string_view>

#include "text/convert.h"

namespace quorvel {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsKept(unsigned char b) {
  return b == '-' || b == '.' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
         (b >= 'a' && b <= 'z');
}

// Value of the byte at index i as a percent digit: 0-15 for a hex digit of either case, -2 for
// any other byte, 0 beyond the end of the input.
int DigitValue(std::string_view s, std::size_t i) {
  if (i >= s.size()) return 0;
  const unsigned char b = static_cast<unsigned char>(s[i]);
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  return -2;
}

}  // namespace

Text UrlEncode(const Text& t, bool keep, bool utf8) {
  if (t.empty()) return Text();
  const Bytes bytes = TextToBytes(utf8 ? AnsiToUtf8(t) : t);
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = bytes[i];
    if (keep && IsKept(b)) {
      out.push_back(static_cast<char>(b));
    } else {
      out.push_back('%');
      out.push_back(kHexDigits[b >> 4]);
      out.push_back(kHexDigits[b & 0x0F]);
    }
  }
  return Text(std::move(out));
}

Text UrlDecode(const Text& t, bool utf8) {
  const std::string_view s = t.view();
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy the run up to the next "%" in one piece.
    const void* pct = std::memchr(s.data() + i, '%', s.size() - i);
    const std::size_t next =
        pct ? static_cast<std::size_t>(static_cast<const char*>(pct) - s.data()) : s.size();
    out.append(s.data() + i, next - i);
    if (next == s.size()) break;
    const int code = 16 * DigitValue(s, next + 1) + DigitValue(s, next + 2);
    const unsigned char b = static_cast<unsigned char>(code & 0xFF);
    if (b != 0) out.push_back(static_cast<char>(b));
    i = next + 3;
  }
  Text decoded(std::move(out));
  return utf8 ? Utf8ToAnsi(decoded) : decoded;
}

}  // namespace quorvel
