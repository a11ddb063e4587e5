// Shared by the harnesses: the invariant check and the reading of one fuzz input.
//
// An input is a few option bytes at its front, then fields separated by zero bytes (a Text
// holds no zero byte, so a zero is a natural separator). Whatever is missing reads as zero
// bytes and empty fields, so every input is valid.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "text/text.h"

// Aborts (a finding for the fuzzer) when an invariant does not hold.
#define FUZZ_CHECK(cond)                                                                     \
  do {                                                                                       \
    if (!(cond)) {                                                                           \
      std::fprintf(stderr, "invariant failed: %s\n  at %s:%d\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

namespace quorvel::fuzz {

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}

  // The next byte; 0 once the input is used up.
  unsigned Byte() {
    if (rest_.empty()) return 0;
    const auto b = static_cast<unsigned char>(rest_[0]);
    rest_.remove_prefix(1);
    return b;
  }

  bool Flag() { return (Byte() & 1) != 0; }

  // A position, count or code from one byte: mostly small values around the interesting
  // edges (-8 .. 242), sometimes the extremes of int.
  int Number() {
    const unsigned b = Byte();
    switch (b) {
      case 251:
        return INT_MIN;
      case 252:
        return INT_MAX;
      case 253:
        return INT_MAX - 1;
      case 254:
        return INT_MIN + 1;
      case 255:
        return 1 << 20;
      default:
        return static_cast<int>(b) - 8;
    }
  }

  // The bytes up to the next zero byte (which is consumed), or the rest of the input.
  std::string_view Field() {
    const std::size_t z = rest_.find('\0');
    const std::string_view f = rest_.substr(0, z);
    rest_.remove_prefix(z == std::string_view::npos ? rest_.size() : z + 1);
    return f;
  }

  // Everything not yet read, zero bytes included.
  std::string_view Rest() {
    const std::string_view r = rest_;
    rest_ = {};
    return r;
  }

 private:
  std::string_view rest_;
};

// A Text holds no zero byte and its length is that of its bytes.
inline bool WellFormed(const Text& t) { return std::strlen(t.c_str()) == t.size(); }

// Walking by characters: the bytes the character at i takes (a lead byte at the very end
// stands alone).
inline std::size_t CharLen(std::string_view s, std::size_t i) {
  return (static_cast<unsigned char>(s[i]) >= 0x80 && i + 1 < s.size()) ? 2 : 1;
}

inline std::string Printable(std::string_view s) {
  std::string out;
  for (const char c : s) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F && b != '\\') {
      out += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    }
  }
  return out;
}

}  // namespace quorvel::fuzz
