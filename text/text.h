// Text, Bytes and TextArray: the value types every layer above the platform speaks,
// and the operations on them.
//
// Text is a GBK byte string without zero bytes; positions are 1-based byte positions and
// a search that finds nothing gives -1. Operations never fail: out-of-range arguments give
// an empty, clamped or -1 result. Operations that "walk by characters" take a byte below
// 0x80 as one character and a byte of 0x80 or above together with the next byte as one
// (a lead byte at the very end stands alone; nothing reads past the end).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

class Text {
 public:
  Text() = default;
  // A zero-terminated string; a null pointer is the empty Text.
  Text(const char* zstr) : s_(zstr ? zstr : "") {}  // NOLINT(google-explicit-constructor)
  // Any bytes; the Text keeps those before the first zero byte.
  explicit Text(std::string_view bytes) : s_(bytes.substr(0, bytes.find('\0'))) {}
  explicit Text(std::string&& bytes) : s_(std::move(bytes)) { CutAtZero(); }
  // Bytes [pos, pos + n) of t, cut at its end (empty when pos is past it). The bytes of a
  // Text hold no zero byte, so none is looked for.
  Text(const Text& t, std::size_t pos, std::size_t n)
      : s_(t.s_, pos < t.s_.size() ? pos : t.s_.size(), n) {}

  const char* c_str() const noexcept { return s_.c_str(); }
  std::string_view view() const noexcept { return s_; }
  const std::string& str() const noexcept { return s_; }
  std::size_t size() const noexcept { return s_.size(); }
  bool empty() const noexcept { return s_.empty(); }
  // Byte at 0-based index i (callers keep i < size()).
  unsigned char byte(std::size_t i) const noexcept { return static_cast<unsigned char>(s_[i]); }

  // Appending for builders; a zero byte in the appended bytes ends what is taken.
  Text& Append(std::string_view bytes) {
    s_.append(bytes.substr(0, bytes.find('\0')));
    return *this;
  }
  Text& Append(const Text& t) {
    s_.append(t.s_);
    return *this;
  }
  void Reserve(std::size_t n) { s_.reserve(n); }

  friend bool operator==(const Text& a, const Text& b) noexcept { return a.s_ == b.s_; }

 private:
  // The operations that build a Text from bytes they know to hold no zero byte write its
  // bytes directly.
  friend struct TextBytes;

  void CutAtZero() {
    if (auto z = s_.find('\0'); z != std::string::npos) s_.resize(z);
  }
  std::string s_;
};

class Bytes {
 public:
  Bytes() = default;
  explicit Bytes(std::string_view bytes) : b_(bytes) {}
  explicit Bytes(std::string&& bytes) : b_(std::move(bytes)) {}
  Bytes(const void* data, std::size_t n) : b_(static_cast<const char*>(data), n) {}

  const unsigned char* data() const noexcept {
    return reinterpret_cast<const unsigned char*>(b_.data());
  }
  unsigned char* data() noexcept { return reinterpret_cast<unsigned char*>(b_.data()); }
  std::string_view view() const noexcept { return b_; }
  const std::string& str() const noexcept { return b_; }
  std::string& str() noexcept { return b_; }
  std::size_t size() const noexcept { return b_.size(); }
  bool empty() const noexcept { return b_.empty(); }
  unsigned char operator[](std::size_t i) const noexcept {
    return static_cast<unsigned char>(b_[i]);
  }
  void Append(std::string_view bytes) { b_.append(bytes); }
  void Append(const void* data, std::size_t n) { b_.append(static_cast<const char*>(data), n); }
  void Reserve(std::size_t n) { b_.reserve(n); }

  friend bool operator==(const Bytes& a, const Bytes& b) noexcept { return a.b_ == b.b_; }

 private:
  std::string b_;
};

// A list of Text indexed from 1 to ElementCount.
class TextArray {
 public:
  TextArray() = default;
  TextArray(std::initializer_list<Text> items) : items_(items) {}
  // Element i, 1 <= i <= ElementCount; any other index gives the empty Text.
  const Text& operator[](int i) const noexcept;
  const std::vector<Text>& items() const noexcept { return items_; }
  std::vector<Text>& items() noexcept { return items_; }

  friend bool operator==(const TextArray& a, const TextArray& b) { return a.items_ == b.items_; }

 private:
  std::vector<Text> items_;
};

// ---- Text operations ------------------------------------------------------------------

bool TextEquals(const Text& a, const Text& b);
int TextLength(const Text& t);

inline std::string_view ViewOf(const Text& t) noexcept { return t.view(); }
inline std::string_view ViewOf(const Bytes& b) noexcept { return b.view(); }

Text ConcatText(std::initializer_list<std::string_view> parts);
template <class... Rest>
Text ConcatText(const Text& a, const Text& b, const Rest&... rest) {
  return ConcatText({a.view(), b.view(), ViewOf(rest)...});
}

Text TextLeft(const Text& t, int n);
Text TextRight(const Text& t, int n);
Text TextMid(const Text& t, int start, int n);
Text CharFromCode(int code);

// Position of the first occurrence of sought at or after start, by characters; -1 if none.
int FindText(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
             bool ignoreCase = false);
// Position of the last occurrence that ends before start (whole text when omitted).
int FindTextReverse(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
                    bool ignoreCase = false);

Text ToUpper(const Text& t);
Text ToLower(const Text& t);
// The leading decimal integer, full-width digits, signs and spaces read as ASCII; 0 when
// there is none. A value beyond the int range is held at INT_MIN or INT_MAX.
int TextToInt(const Text& t);
// Without leading and trailing 0x20 bytes and A1 A1 characters; tab, CR and LF stay.
Text TrimText(const Text& t);
Text RemoveSpaces(const Text& t);
// Replaces at most count occurrences (every one when omitted or negative) from start on.
Text ReplaceText(const Text& text, const Text& sought, const Text& replacement = Text(),
                 std::optional<int> start = std::nullopt, std::optional<int> count = std::nullopt,
                 bool ignoreCase = false);
TextArray SplitText(const Text& text, const Text& delimiter = Text(","),
                    std::optional<int> count = std::nullopt);
Text BlankText(int n);
Text ToHexText(int value);

int BitOr(std::initializer_list<int> values);
template <class... Rest>
int BitOr(int a, int b, Rest... rest) {
  return BitOr({a, b, static_cast<int>(rest)...});
}

// ---- Bytes operations -----------------------------------------------------------------

bool BytesEquals(const Bytes& a, const Bytes& b);
int BytesLength(const Bytes& b);
Bytes ConcatBytes(std::initializer_list<std::string_view> parts);
template <class... Rest>
Bytes ConcatBytes(const Bytes& a, const Bytes& b, const Rest&... rest) {
  return ConcatBytes({a.view(), b.view(), ViewOf(rest)...});
}
Bytes TextToBytes(const Text& t);
Text BytesToText(const Bytes& b);
Bytes BytesLeft(const Bytes& b, int n);
Bytes BlankBytes(int n);

// ---- TextArray operations -------------------------------------------------------------

int ElementCount(const TextArray& a);
void AppendText(TextArray& a, const Text& t);

}  // namespace quorvel
