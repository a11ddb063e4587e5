// Code-page conversion over the system's MultiByteToWideChar and WideCharToMultiByte, looked
// up by name in kernel32 on first use. The system keeps no state between calls, so every
// call stands alone; a size query passes no output buffer, as the layer's contract does.
#include "platform/codepage/codepage.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel::platform {
namespace {

using MultiByteToWideCharFn = int(WINAPI*)(UINT, DWORD, LPCCH, int, LPWSTR, int);
using WideCharToMultiByteFn = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);

struct Kernel32 {
  MultiByteToWideCharFn toWide = nullptr;
  WideCharToMultiByteFn fromWide = nullptr;
};

const Kernel32& Functions() {
  static const Kernel32 k = [] {
    Kernel32 f;
    if (HMODULE m = GetModuleHandleW(L"kernel32.dll")) {
      f.toWide = reinterpret_cast<MultiByteToWideCharFn>(
          reinterpret_cast<void*>(GetProcAddress(m, "MultiByteToWideChar")));
      f.fromWide = reinterpret_cast<WideCharToMultiByteFn>(
          reinterpret_cast<void*>(GetProcAddress(m, "WideCharToMultiByte")));
    }
    return f;
  }();
  return k;
}

bool Known(unsigned codePage) { return codePage == kCodePageGbk || codePage == kCodePageUtf8; }

// The system's flags for one conversion to `codePage`: it takes the composite check only for
// the ANSI code pages, so UTF-8 is written as it stands.
DWORD ToMultiByteFlags(unsigned codePage, unsigned flags) {
  return codePage == kCodePageGbk && (flags & kCompositeCheck) ? WC_COMPOSITECHECK : 0;
}

bool IsGbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsGbkTrail(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE); }

// The end of the run of well-formed GBK from `from`: the first lead byte without a fitting
// trail byte, or n.
std::size_t WellFormedGbkEnd(const unsigned char* in, std::size_t from, std::size_t n) {
  std::size_t i = from;
  while (i < n) {
    if (!IsGbkLead(in[i])) {
      ++i;
    } else if (i + 1 < n && IsGbkTrail(in[i + 1])) {
      i += 2;
    } else {
      break;
    }
  }
  return i;
}

// Asks the system to convert exactly n bytes; with out == nullptr only counts. Returns the
// units, or -1 when they do not fit `capacity` or the system refuses.
long long SystemToWide(unsigned codePage, const char* in, std::size_t n, char16_t* out,
                       long long capacity) {
  const Kernel32& k = Functions();
  if (!k.toWide || n > static_cast<std::size_t>(INT_MAX)) return -1;
  const int bytes = static_cast<int>(n);
  const int need = k.toWide(codePage, 0, in, bytes, nullptr, 0);
  if (need <= 0) return -1;
  if (!out) return need;
  if (need > capacity) return -1;
  // Converting into exactly the size asked for: no system fills a too-small buffer then.
  const int got = k.toWide(codePage, 0, in, bytes, reinterpret_cast<LPWSTR>(out), need);
  return got == need ? need : -1;
}

// GBK to UTF-16 as the layer's contract has it: the system converts each well-formed run,
// and a lead byte without a fitting trail byte becomes U+FFFD on its own (the system would
// take the next byte, a terminating zero too, into one '?').
long long GbkToWide(const char* in, std::size_t n, char16_t* out, long long capacity) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(in);
  long long written = 0;
  std::size_t at = 0;
  while (at < n) {
    const std::size_t end = WellFormedGbkEnd(bytes, at, n);
    if (end > at) {
      const long long r = SystemToWide(kCodePageGbk, in + at, end - at,
                                       out ? out + written : nullptr, capacity - written);
      if (r < 0) return -1;
      written += r;
    }
    if (end < n) {
      if (out) {
        if (written >= capacity) return -1;
        out[written] = u'\uFFFD';
      }
      ++written;
    }
    if (written > INT_MAX) return -1;
    at = end + 1;
  }
  return written;
}

// A character outside the BMP becomes one '?' in GBK, as a character GBK lacks does: the
// system would write one for each of its two units.
bool HasSurrogatePair(const char16_t* in, std::size_t n) {
  for (std::size_t i = 0; i + 1 < n; ++i) {
    if (in[i] >= 0xD800 && in[i] <= 0xDBFF && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

std::u16string PairsAsQuestionMarks(const char16_t* in, std::size_t n) {
  std::u16string out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (i + 1 < n && in[i] >= 0xD800 && in[i] <= 0xDBFF && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      out.push_back(u'?');
      ++i;
    } else {
      out.push_back(in[i]);
    }
  }
  return out;
}

}  // namespace

int MultiByteToWide(unsigned codePage, unsigned flags, const char* in, int inBytes, char16_t* out,
                    int outUnits) {
  if (flags != 0 || in == nullptr || inBytes == 0 || inBytes < -1 || outUnits < 0 ||
      !Known(codePage)) {
    return 0;
  }
  const Kernel32& k = Functions();
  if (!k.toWide) return 0;
  const bool query = out == nullptr || outUnits == 0;
  if (codePage == kCodePageGbk) {
    const std::size_t n = inBytes == -1 ? std::strlen(in) + 1 : static_cast<std::size_t>(inBytes);
    if (n > static_cast<std::size_t>(INT_MAX)) return 0;
    const long long r = GbkToWide(in, n, query ? nullptr : out, query ? 0 : outUnits);
    return r > 0 && r <= INT_MAX ? static_cast<int>(r) : 0;
  }
  const int n = k.toWide(codePage, 0, in, inBytes, query ? nullptr : reinterpret_cast<LPWSTR>(out),
                         query ? 0 : outUnits);
  if (n <= 0) return 0;
  // Some versions of the system fill a buffer that is too small and report it full; a
  // full buffer counts only when the whole text needs no more.
  if (!query && n == outUnits && k.toWide(codePage, 0, in, inBytes, nullptr, 0) != n) return 0;
  return n;
}

int WideToMultiByte(unsigned codePage, unsigned flags, const char16_t* in, int inUnits, char* out,
                    int outBytes) {
  if ((flags & ~kCompositeCheck) != 0 || in == nullptr || inUnits == 0 || inUnits < -1 ||
      outBytes < 0 || !Known(codePage)) {
    return 0;
  }
  const Kernel32& k = Functions();
  if (!k.fromWide) return 0;
  const bool query = out == nullptr || outBytes == 0;
  std::u16string substituted;
  if (codePage == kCodePageGbk) {
    const std::size_t n = inUnits == -1 ? std::char_traits<char16_t>::length(in) + 1
                                        : static_cast<std::size_t>(inUnits);
    if (n > static_cast<std::size_t>(INT_MAX)) return 0;
    if (HasSurrogatePair(in, n)) {
      try {
        substituted = PairsAsQuestionMarks(in, n);
      } catch (...) {
        return 0;
      }
      in = substituted.data();
      inUnits = static_cast<int>(substituted.size());
    }
  }
  const DWORD systemFlags = ToMultiByteFlags(codePage, flags);
  const auto* wide = reinterpret_cast<LPCWCH>(in);
  const int n = k.fromWide(codePage, systemFlags, wide, inUnits, query ? nullptr : out,
                           query ? 0 : outBytes, nullptr, nullptr);
  if (n <= 0) return 0;
  if (!query && n == outBytes &&
      k.fromWide(codePage, systemFlags, wide, inUnits, nullptr, 0, nullptr, nullptr) != n) {
    return 0;
  }
  return n;
}

int MultiByteToMultiByte(unsigned fromCodePage, const char* in, int inBytes, unsigned toCodePage,
                         char* out, int outBytes) {
  if (fromCodePage == toCodePage || in == nullptr || inBytes == 0 || inBytes < -1 || outBytes < 0 ||
      !Known(fromCodePage) || !Known(toCodePage)) {
    return 0;
  }
  const int units = MultiByteToWide(fromCodePage, 0, in, inBytes, nullptr, 0);
  if (units <= 0) return 0;
  std::u16string wide;
  try {
    wide.resize(static_cast<std::size_t>(units));
  } catch (...) {
    return 0;
  }
  if (MultiByteToWide(fromCodePage, 0, in, inBytes, wide.data(), units) != units) return 0;
  return WideToMultiByte(toCodePage, 0, wide.data(), units, out, outBytes);
}

}  // namespace quorvel::platform
