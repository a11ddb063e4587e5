// The code-page conversions on any bytes, and the platform layer under them with any
// lengths and output capacities.
//
// Checked for every input: the one-pass GBK <-> UTF-8 conversions give what the two steps
// through UTF-16 give; UTF-16 results end in exactly one zero unit; UTF-8 results are
// well-formed UTF-8; an invalid UTF-8 sequence becomes one "?" in GBK; GBK built from
// characters the code page has, and UTF-8 built from ASCII and the CJK ideographs
// U+4E00..U+9FA5 (all in GBK), come back unchanged from a round trip; the platform calls
// never write past the capacity they are given, and a conversion into a buffer of the size
// the size query reported writes exactly that size.
//
// Input: option bytes (a code page choice, capacities, a flag), then the rest as raw bytes.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/codepage/codepage.h"
#include "text/convert.h"

namespace quorvel {
namespace {

namespace cp = platform;

// Well-formed UTF-8 without surrogates (what a conversion from UTF-16 writes).
bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n;
    std::uint32_t cpoint;
    if (b < 0x80) {
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      n = 1;
      cpoint = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      n = 2;
      cpoint = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      n = 3;
      cpoint = b & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cpoint = (cpoint << 6) | (c & 0x3F);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cpoint < least[n] || cpoint > 0x10FFFF || (cpoint >= 0xD800 && cpoint <= 0xDFFF)) {
      return false;
    }
    i += n + 1;
  }
  return true;
}

// GBK text made only of ASCII (no zero) and the characters of rows B0..D6, which are all
// assigned: each input byte picks one.
Text SafeGbk(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      if (b != 0) out += static_cast<char>(b);
    } else if (i + 1 < bytes.size()) {
      const auto t = static_cast<unsigned char>(bytes[++i]);
      out += static_cast<char>(0xB0 + (b - 0x80) % 39);
      out += static_cast<char>(0xA1 + t % 94);
    }
  }
  return Text(std::move(out));
}

// UTF-8 text made of ASCII (no zero) and ideographs U+4E00..U+9FA5 picked by the input.
Text SafeUtf8(std::string_view bytes) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      if (b != 0) out += static_cast<char>(b);
    } else if (i + 1 < bytes.size()) {
      const auto t = static_cast<unsigned char>(bytes[++i]);
      const std::uint32_t c = 0x4E00 + ((b - 0x80) * 256 + t) % (0x9FA5 - 0x4E00 + 1);
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return Text(std::move(out));
}

// UTF-16 from TextToWide: an even number of bytes, exactly one zero unit, at the end.
void CheckWide(const Bytes& w) {
  FUZZ_CHECK(w.size() >= 2 && w.size() % 2 == 0);
  for (std::size_t i = 0; i + 2 < w.size(); i += 2) FUZZ_CHECK(w[i] != 0 || w[i + 1] != 0);
  FUZZ_CHECK(w[w.size() - 2] == 0 && w[w.size() - 1] == 0);
}

// The platform calls with an output buffer of exactly `capacity` units on the heap, so a
// write past it is an ASan finding.
void CheckPlatform(unsigned page, std::string_view raw, int inLength, int capacity,
                   bool composite) {
  const char* in = raw.data();
  const int wideNeed = cp::MultiByteToWide(page, 0, in, inLength, nullptr, 0);
  FUZZ_CHECK(wideNeed >= 0);
  if (capacity > 0) {
    auto buf = std::make_unique<char16_t[]>(static_cast<std::size_t>(capacity));
    const int got = cp::MultiByteToWide(page, 0, in, inLength, buf.get(), capacity);
    FUZZ_CHECK(got >= 0 && got <= capacity);
    if (wideNeed > 0 && capacity >= wideNeed) FUZZ_CHECK(got == wideNeed);
  }
  if (wideNeed <= 0) return;
  std::vector<char16_t> wide(static_cast<std::size_t>(wideNeed));
  FUZZ_CHECK(cp::MultiByteToWide(page, 0, in, inLength, wide.data(), wideNeed) == wideNeed);

  const unsigned flags = composite ? cp::kCompositeCheck : 0;
  for (const unsigned to : {cp::kCodePageGbk, cp::kCodePageUtf8}) {
    const int need = cp::WideToMultiByte(to, flags, wide.data(), wideNeed, nullptr, 0);
    FUZZ_CHECK(need >= 0);
    if (capacity > 0) {
      auto buf = std::make_unique<char[]>(static_cast<std::size_t>(capacity));
      const int got = cp::WideToMultiByte(to, flags, wide.data(), wideNeed, buf.get(), capacity);
      FUZZ_CHECK(got >= 0 && got <= capacity);
      if (need > 0 && capacity >= need) FUZZ_CHECK(got == need);
    }
    if (to == page) continue;
    const int direct = cp::MultiByteToMultiByte(page, in, inLength, to, nullptr, 0);
    const int twoStep = cp::WideToMultiByte(to, 0, wide.data(), wideNeed, nullptr, 0);
    FUZZ_CHECK(direct == twoStep);
    if (capacity > 0) {
      auto buf = std::make_unique<char[]>(static_cast<std::size_t>(capacity));
      const int got = cp::MultiByteToMultiByte(page, in, inLength, to, buf.get(), capacity);
      FUZZ_CHECK(got >= 0 && got <= capacity);
      if (direct > 0 && capacity >= direct) FUZZ_CHECK(got == direct);
    }
  }
}

}  // namespace
}  // namespace quorvel

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quorvel;
  fuzz::Input in(data, size);
  const unsigned pageChoice = in.Byte();
  const int capacity = static_cast<int>(in.Byte() % 64) - 1;
  const unsigned lengthMode = in.Byte();
  const bool composite = in.Flag();
  const std::string_view raw = in.Rest();
  const Text text(raw);

  // TextToWide in both code pages, and in one the layer does not know.
  const Bytes gbkWide = TextToWide(text, kCodePageGbk);
  const Bytes utf8Wide = TextToWide(text, kCodePageUtf8);
  CheckWide(gbkWide);
  CheckWide(utf8Wide);
  FUZZ_CHECK(GbkToWide(text) == gbkWide);
  const int otherPage = static_cast<int>(pageChoice) * 977;
  if (otherPage != kCodePageGbk && otherPage != kCodePageUtf8) {
    FUZZ_CHECK(TextToWide(text, otherPage).empty());
    FUZZ_CHECK(WideToText(gbkWide, otherPage).empty());
  }

  // The one-pass conversions give what the two steps give.
  const Text utf8 = AnsiToUtf8(text);
  const Text gbk = Utf8ToAnsi(text);
  FUZZ_CHECK(fuzz::WellFormed(utf8) && fuzz::WellFormed(gbk));
  FUZZ_CHECK(utf8 == WideToText(gbkWide, kCodePageUtf8));
  FUZZ_CHECK(gbk == WideToText(utf8Wide, kCodePageGbk));
  FUZZ_CHECK(ValidUtf8(utf8.view()));
  // An invalid UTF-8 sequence arrives in GBK as one "?", wherever it stands (the result page
  // reading relies on 0xDE followed by "td>" becoming "?td>").
  FUZZ_CHECK(Utf8ToAnsi(ConcatText(text, Text("\xDEtd>"))) == ConcatText(gbk, Text("?td>")));

  // Round trips where the code page guarantees them.
  const Text safeGbk = SafeGbk(raw);
  FUZZ_CHECK(Utf8ToAnsi(AnsiToUtf8(safeGbk)) == safeGbk);
  FUZZ_CHECK(WideToGbk(GbkToWide(safeGbk)) == safeGbk);
  const Text safeUtf8 = SafeUtf8(raw);
  FUZZ_CHECK(AnsiToUtf8(Utf8ToAnsi(safeUtf8)) == safeUtf8);
  FUZZ_CHECK(WideToText(TextToWide(safeUtf8), kCodePageUtf8) == safeUtf8);

  // Any UTF-16 units, odd lengths and zero units included.
  const Bytes units(raw);
  const Text fromUnits = WideToGbk(units);
  FUZZ_CHECK(fuzz::WellFormed(fromUnits));
  const Text fromUnitsUtf8 = WideToText(units, kCodePageUtf8);
  FUZZ_CHECK(fuzz::WellFormed(fromUnitsUtf8) && ValidUtf8(fromUnitsUtf8.view()));
  FUZZ_CHECK(fuzz::WellFormed(WideToText(units, kCodePageGbk)));

  // The platform layer: explicit lengths (zeros inside), -1 (up to the zero), and lengths
  // the layer must refuse.
  int length;
  std::string_view source = raw;
  switch (lengthMode % 4) {
    case 0:
      length = static_cast<int>(raw.size());
      break;
    case 1:  // up to the terminating zero
      length = -1;
      source = std::string_view(text.c_str(), text.size() + 1);
      break;
    case 2:
      length = static_cast<int>(raw.size() / 2);
      break;
    default:
      length = -2 - static_cast<int>(lengthMode);
      break;
  }
  for (const unsigned page : {platform::kCodePageGbk, platform::kCodePageUtf8}) {
    CheckPlatform(page, source, length, capacity, composite);
  }
  return 0;
}
