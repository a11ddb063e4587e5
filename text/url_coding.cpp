#include "text/url_coding.h"

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

// Value of a byte as a percent digit: 0-15 for a hex digit of either case, -2 for any other
// byte. (A position beyond the end of the input counts as 0; the decoder handles that.)
struct DigitTable {
  signed char value[256];
  constexpr DigitTable() : value() {
    for (int b = 0; b < 256; ++b) value[b] = -2;
    for (int d = 0; d < 10; ++d) value['0' + d] = static_cast<signed char>(d);
    for (int d = 0; d < 6; ++d) {
      value['A' + d] = static_cast<signed char>(10 + d);
      value['a' + d] = static_cast<signed char>(10 + d);
    }
  }
};
constexpr DigitTable kDigits;

int DigitValue(unsigned char b) { return kDigits.value[b]; }

}  // namespace

Text UrlEncode(const Text& t, bool keep, bool utf8) {
  if (t.empty()) return Text();
  const Text converted = utf8 ? AnsiToUtf8(t) : Text();
  const std::string_view bytes = utf8 ? converted.view() : t.view();
  std::string out(bytes.size() * 3, '\0');
  char* o = out.data();
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (keep && IsKept(b)) {
      *o++ = ch;
    } else {
      o[0] = '%';
      o[1] = kHexDigits[b >> 4];
      o[2] = kHexDigits[b & 0x0F];
      o += 3;
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return Text(std::move(out));
}

Text UrlDecode(const Text& t, bool utf8) {
  const auto* in = reinterpret_cast<const unsigned char*>(t.view().data());
  const std::size_t n = t.size();
  // The result is never longer than the input: write into a buffer of that size, then cut.
  std::string out(n, '\0');
  char* o = out.data();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = in[i];
    if (c != '%') {
      *o++ = static_cast<char>(c);
      ++i;
      continue;
    }
    const int first = i + 1 < n ? DigitValue(in[i + 1]) : 0;
    const int second = i + 2 < n ? DigitValue(in[i + 2]) : 0;
    // Low 8 bits of the code; 0 appends nothing, so no zero byte enters the Text.
    const auto b = static_cast<unsigned char>((16 * first + second) & 0xFF);
    if (b != 0) *o++ = static_cast<char>(b);
    i += 3;
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  Text decoded(std::move(out));
  return utf8 ? Utf8ToAnsi(decoded) : decoded;
}

}  // namespace quorvel
