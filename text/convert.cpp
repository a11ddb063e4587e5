// Conversions between GBK, UTF-8 and UTF-16LE over the platform code-page layer. Each
// conversion asks the layer for the size it needs, then converts into a buffer of exactly
// that size; a refused input (size 0) gives the empty value.
#include "text/convert.h"

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
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

// The Text with its terminating zero -> UTF-16, with a size query first: n units, the last
// being zero.
std::u16string TextToUnits(const Text& t, unsigned codePage) {
  if (t.size() >= kMaxLength) return std::u16string();
  int len = static_cast<int>(t.size()) + 1;  // the terminating zero is converted too
  int n = cp::MultiByteToWide(codePage, 0, t.c_str(), len, nullptr, 0);
  if (n <= 0) return std::u16string();
  std::u16string units(static_cast<std::size_t>(n), u'\0');
  int written = cp::MultiByteToWide(codePage, 0, t.c_str(), len, units.data(), n);
  if (written != n) return std::u16string();
  return units;
}

// Text in one code page -> Text in another, through UTF-16.
Text Recode(const Text& t, unsigned from, unsigned to) {
  std::u16string units = TextToUnits(t, from);
  // A Text holds no zero byte, so the only zero unit is the terminating one.
  if (units.empty()) return Text();
  return UnitsToText(units.data(), units.size() - 1, to, 0);
}

}  // namespace

Bytes TextToWide(const Text& t, int codePage) {
  if (t.size() >= kMaxLength) return Bytes();
  int len = static_cast<int>(t.size()) + 1;  // the terminating zero is converted too
  unsigned page = static_cast<unsigned>(codePage);
  int n = cp::MultiByteToWide(page, 0, t.c_str(), len, nullptr, 0);
  if (n <= 0) return Bytes();
  std::string buf(static_cast<std::size_t>(n) * 2, '\0');
  int written =
      cp::MultiByteToWide(page, 0, t.c_str(), len, reinterpret_cast<char16_t*>(buf.data()), n);
  if (written != n) return Bytes();
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
