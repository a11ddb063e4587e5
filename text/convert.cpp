// Conversions between GBK, UTF-8 and UTF-16LE over the platform code-page layer. Each
// conversion asks the layer for the size it needs, then converts into a buffer of that
// size; a refused input (size 0) gives the empty value.
#include "text/convert.h"

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/codepage/codepage.h"

namespace quorvel {
namespace {

namespace cp = quorvel::platform;

// Bytes carry UTF-16LE; the platform layer speaks native char16_t.
static_assert(std::endian::native == std::endian::little,
              "UTF-16LE Bytes are handed to the code-page layer as native units");

constexpr std::size_t kMaxLength = static_cast<std::size_t>(INT_MAX);

// The whole UTF-16 units held in a Bytes value. Bytes storage is always aligned for
// char16_t in practice; a misaligned buffer is copied so no unit is read misaligned.
class Units {
 public:
  explicit Units(const Bytes& b) : n_(b.size() / 2) {
    const unsigned char* d = b.data();
    if (reinterpret_cast<std::uintptr_t>(d) % alignof(char16_t) == 0) {
      p_ = reinterpret_cast<const char16_t*>(d);
    } else {
      copy_.resize(n_);
      for (std::size_t i = 0; i < n_; ++i)
        copy_[i] = static_cast<char16_t>(d[2 * i] | d[2 * i + 1] << 8);
      p_ = copy_.data();
    }
  }
  const char16_t* data() const { return p_; }
  std::size_t size() const { return n_; }

 private:
  const char16_t* p_ = nullptr;
  std::size_t n_;
  std::u16string copy_;
};

// Number of whole units before the first zero unit (all of them when there is none).
std::size_t UnitsBeforeZero(const Bytes& b) {
  const unsigned char* d = b.data();
  std::size_t n = b.size() / 2;
  for (std::size_t i = 0; i < n; ++i) {
    if (d[2 * i] == 0 && d[2 * i + 1] == 0) return i;
  }
  return n;
}

// k units -> the code page, with a size query first. A zero byte in the result (from a zero
// unit) ends the Text.
Text UnitsToText(const char16_t* units, std::size_t k, unsigned codePage, unsigned flags) {
  if (k == 0 || k > kMaxLength) return Text();
  int n = static_cast<int>(k);
  int m = cp::WideToMultiByte(codePage, flags, units, n, nullptr, 0);
  if (m <= 0) return Text();
  std::string buf(static_cast<std::size_t>(m), '\0');
  int written = cp::WideToMultiByte(codePage, flags, units, n, buf.data(), m);
  if (written <= 0) return Text();
  buf.resize(static_cast<std::size_t>(written));
  return Text(std::move(buf));
}

// An upper bound, exact for ASCII and CJK text, of the UTF-8 size of GBK text: one byte
// for each ASCII byte, three for each two-byte character (all of GBK lies in the BMP) and
// for each other byte of 0x80 or above. Should the layer read the text otherwise, the
// conversion reports that the buffer is too small and the exact size is asked for.
std::size_t Utf8SizeBound(std::string_view gbk) {
  const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
  const std::size_t n = gbk.size();
  std::size_t bound = 0;
  std::size_t i = 0;
  while (i < n) {
    // Runs of ASCII, eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, p + i, 8);
      if (w & 0x8080808080808080u) break;
      bound += 8;
      i += 8;
    }
    const std::size_t stop = i + 8 < n ? i + 8 : n;
    while (i < stop) {
      const unsigned b = p[i];
      if (b < 0x80) {
        bound += 1;
        i += 1;
        continue;
      }
      const unsigned t = i + 1 < n ? p[i + 1] : 0;
      const bool pair = b != 0x80 && b != 0xFF && t >= 0x40 && t != 0x7F && t != 0xFF;
      bound += 3;
      i += pair ? 2 : 1;
    }
  }
  return bound;
}

// The number of bytes of 0x80 and above, eight bytes a step.
std::size_t HighBytes(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  std::size_t count = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    count += static_cast<std::size_t>(std::popcount(w & 0x8080808080808080u));
  }
  for (; i < n; ++i) count += p[i] >> 7;
  return count;
}

// Text in one code page -> Text in another. The result is that of converting to UTF-16
// and on to the target page, done in one pass without holding the UTF-16 text, into a
// buffer of a size guessed first:
// - UTF-8 -> GBK never grows (every UTF-8 sequence, valid or not, becomes at most as many
//   GBK bytes).
// - GBK -> UTF-8 grows by one byte for each two-byte character and by two for each other
//   character of 0x80 and above. One byte more for each byte of 0x80 and above, counted
//   fast, does unless such one-byte characters outnumber the two-byte characters whose
//   both bytes are of 0x80 and above; then the bound above, and then the size asked for.
Text Recode(const Text& t, unsigned from, unsigned to) {
  if (t.empty() || t.size() > kMaxLength) return Text();
  const int len = static_cast<int>(t.size());
  std::string buf;
  auto attempt = [&](std::size_t room) {
    if (room > kMaxLength) return 0;
    buf.assign(room, '\0');
    return cp::MultiByteToMultiByte(from, t.c_str(), len, to, buf.data(), static_cast<int>(room));
  };
  int written = 0;
  if (from == cp::kCodePageUtf8) {
    written = attempt(t.size());
  } else {
    written = attempt(t.size() + HighBytes(t.view()));
    if (written <= 0) written = attempt(Utf8SizeBound(t.view()));
  }
  if (written <= 0) {
    int size = cp::MultiByteToMultiByte(from, t.c_str(), len, to, nullptr, 0);
    if (size <= 0) return Text();
    buf.assign(static_cast<std::size_t>(size), '\0');
    written = cp::MultiByteToMultiByte(from, t.c_str(), len, to, buf.data(), size);
    if (written <= 0) return Text();
  }
  buf.resize(static_cast<std::size_t>(written));
  return Text(std::move(buf));
}

}  // namespace

// Neither GBK nor UTF-8 reads a byte as more than one unit (a four-byte UTF-8 sequence
// gives two), so a buffer of one unit per byte takes the whole conversion in one pass; the
// size is asked for only should the layer need more.
Bytes TextToWide(const Text& t, int codePage) {
  if (t.size() >= kMaxLength) return Bytes();
  int len = static_cast<int>(t.size()) + 1;  // the terminating zero is converted too
  unsigned page = static_cast<unsigned>(codePage);
  std::string buf(static_cast<std::size_t>(len) * 2, '\0');
  int written =
      cp::MultiByteToWide(page, 0, t.c_str(), len, reinterpret_cast<char16_t*>(buf.data()), len);
  if (written <= 0) {
    int n = cp::MultiByteToWide(page, 0, t.c_str(), len, nullptr, 0);
    if (n <= 0) return Bytes();
    buf.assign(static_cast<std::size_t>(n) * 2, '\0');
    written =
        cp::MultiByteToWide(page, 0, t.c_str(), len, reinterpret_cast<char16_t*>(buf.data()), n);
    if (written != n) return Bytes();
  }
  buf.resize(static_cast<std::size_t>(written) * 2);
  return Bytes(std::move(buf));
}

Text WideToText(const Bytes& wide, int codePage) {
  Units units(wide);
  return UnitsToText(units.data(), UnitsBeforeZero(wide), static_cast<unsigned>(codePage), 0);
}

Text AnsiToUtf8(const Text& gbk) { return Recode(gbk, cp::kCodePageGbk, cp::kCodePageUtf8); }

Text Utf8ToAnsi(const Text& utf8) { return Recode(utf8, cp::kCodePageUtf8, cp::kCodePageGbk); }

Bytes GbkToWide(const Text& gbk) { return TextToWide(gbk, kCodePageGbk); }

Text WideToGbk(const Bytes& wide) {
  Units units(wide);
  return UnitsToText(units.data(), units.size(), cp::kCodePageGbk, cp::kCompositeCheck);
}

Text Gbk(std::string_view utf8) { return Utf8ToAnsi(Text(utf8)); }

}  // namespace quorvel
