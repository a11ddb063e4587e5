// Percent-encoding and -decoding on any bytes.
//
// Checked for every input: UrlDecode(UrlEncode(t)) gives back t (and with the UTF-8 flag on
// both, the GBK -> UTF-8 -> GBK round trip of t); the encoding holds only "%" and upper-case
// hex digits (and, with keep, the kept bytes), three bytes for each encoded byte; decoding
// matches a byte-by-byte reading of its contract, never grows the text and never yields a
// zero byte; decoding with the UTF-8 flag is decoding followed by Utf8ToAnsi.
//
// Input: one option byte (keep), then the text.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "text/convert.h"
#include "text/url_coding.h"

namespace quorvel {
namespace {

bool IsKept(unsigned char b) {
  return b == '-' || b == '.' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
         (b >= 'a' && b <= 'z');
}

bool IsUpperHex(unsigned char b) { return (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F'); }

// The digit value as the contract reads it: the 1-based place of the upper-cased byte in
// "0123456789ABCDEF" minus 1 (so -2 for any other byte), and 0 beyond the end of the text.
int DigitAt(std::string_view t, std::size_t i) {
  if (i >= t.size()) return 0;
  const Text digit = ToUpper(Text(t.substr(i, 1)));
  return FindText(Text("0123456789ABCDEF"), digit) - 1;
}

std::string RefDecode(std::string_view t) {
  std::string out;
  for (std::size_t i = 0; i < t.size();) {
    if (t[i] != '%') {
      out += t[i++];
      continue;
    }
    out.append(CharFromCode(16 * DigitAt(t, i + 1) + DigitAt(t, i + 2)).view());
    i += 3;
  }
  return out;
}

void CheckEncoding(const Text& text, bool keep, bool utf8) {
  const Text encoded = UrlEncode(text, keep, utf8);
  FUZZ_CHECK(fuzz::WellFormed(encoded));
  const std::string_view e = encoded.view();
  const Text source = utf8 ? AnsiToUtf8(text) : text;
  std::size_t expected = 0;
  for (const char c : source.view())
    expected += keep && IsKept(static_cast<unsigned char>(c)) ? 1 : 3;
  FUZZ_CHECK(e.size() == expected);
  for (std::size_t i = 0; i < e.size();) {
    const auto b = static_cast<unsigned char>(e[i]);
    if (b == '%') {
      FUZZ_CHECK(i + 2 < e.size() && IsUpperHex(e[i + 1]) && IsUpperHex(e[i + 2]));
      i += 3;
    } else {
      FUZZ_CHECK(keep && IsKept(b));
      ++i;
    }
  }
  FUZZ_CHECK(UrlDecode(encoded) == source);
  if (utf8) FUZZ_CHECK(UrlDecode(encoded, true) == Utf8ToAnsi(source));
  if (!utf8) FUZZ_CHECK(UrlDecode(encoded) == text);
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  fuzz::Input in(data, size);
  const bool keep = in.Flag();
  const Text text(in.Field());

  CheckEncoding(text, keep, false);
  CheckEncoding(text, keep, true);

  const Text decoded = UrlDecode(text);
  FUZZ_CHECK(fuzz::WellFormed(decoded));
  FUZZ_CHECK(decoded.size() <= text.size());
  FUZZ_CHECK(decoded.str() == RefDecode(text.view()));
  const Text decodedUtf8 = UrlDecode(text, true);
  FUZZ_CHECK(fuzz::WellFormed(decodedUtf8));
  FUZZ_CHECK(decodedUtf8 == Utf8ToAnsi(decoded));
  // Text that holds no "%" decodes to itself.
  if (text.view().find('%') == std::string_view::npos) FUZZ_CHECK(decoded == text);
  return 0;
}
