// Code-page conversion over ICU converters. Each thread keeps its own converters (ICU
// converters are not shareable between threads) and resets them at the start of every call,
// so no state leaks from one call into the next, also after a call that failed halfway.
#include "platform/codepage/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>
#include <unicode/unorm2.h>
#include <unicode/uset.h>
#include <unicode/utf16.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorvel::platform {
namespace {

// ICU refuses a single call whose source or target spans more than 2^30 units; every call
// is fed in pieces well below that.
constexpr std::ptrdiff_t kPiece = std::ptrdiff_t{1} << 28;
// Size queries convert into this scratch space, over and over.
constexpr std::ptrdiff_t kScratchBytes = 16 * 1024;

struct CodePageState {
  const char* icuName = nullptr;
  const char* substitute = nullptr;  // what a character the code page lacks becomes
  bool hasEveryCharacter = false;    // a Unicode form: nothing is ever substituted
  UConverter* converter = nullptr;
  USet* encodable = nullptr;  // characters with a round-trip mapping; built on first need
  bool broken = false;        // ICU could not open the converter; do not retry every call
};

// Writes the substitute for every character the code page cannot take. ICU's stock
// callback silently drops unassigned default-ignorable characters (U+180E, U+200B, ...);
// here they become '?' like any other, so no character vanishes without a trace.
void SubstituteEvery(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
                     UConverterCallbackReason reason, UErrorCode* err) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
  *err = U_ZERO_ERROR;
  ucnv_cbFromUWriteSub(args, 0, err);
}

struct ThreadConverters {
  CodePageState gbk{"windows-936-2000", "?"};
  // ICU's own substitute for UTF-8 is U+FFFD, written for an unpaired surrogate.
  CodePageState utf8{"UTF-8", nullptr, true};
  ~ThreadConverters() {
    for (CodePageState* s : {&gbk, &utf8}) {
      if (s->converter) ucnv_close(s->converter);
      if (s->encodable) uset_close(s->encodable);
    }
  }
};

CodePageState* StateFor(unsigned codePage) {
  thread_local ThreadConverters converters;
  CodePageState* s = nullptr;
  if (codePage == kCodePageGbk) {
    s = &converters.gbk;
  } else if (codePage == kCodePageUtf8) {
    s = &converters.utf8;
  } else {
    return nullptr;
  }
  if (s->broken) return nullptr;
  if (s->converter == nullptr) {
    UErrorCode e = U_ZERO_ERROR;
    UConverter* c = ucnv_open(s->icuName, &e);
    if (U_SUCCESS(e) && s->substitute) {
      ucnv_setSubstChars(c, s->substitute, static_cast<int8_t>(std::strlen(s->substitute)), &e);
    }
    if (U_SUCCESS(e)) {
      ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &e);
    }
    if (U_SUCCESS(e)) {
      ucnv_setFromUCallBack(c, SubstituteEvery, nullptr, nullptr, nullptr, &e);
    }
    if (U_FAILURE(e)) {
      if (c) ucnv_close(c);
      s->broken = true;
      return nullptr;
    }
    s->converter = c;
  } else {
    ucnv_reset(s->converter);
  }
  return s;
}

// Runs one conversion direction over the whole input, in pieces ICU accepts. With out ==
// nullptr it only counts what would be written (into scratch space). Returns the count, or
// -1 when the result does not fit the buffer, exceeds INT_MAX, or ICU fails.
template <class Src, class Dst, class Step>
int64_t Run(Step step, const Src* s, const Src* sEnd, Dst* out, std::ptrdiff_t capacity) {
  Dst scratch[kScratchBytes / sizeof(Dst)];
  Dst* const outEnd = out ? out + capacity : nullptr;
  Dst* t = out;
  bool counting = out == nullptr;  // into scratch: a size query, or the rest of a full buffer
  int64_t counted = 0;
  for (;;) {
    const Src* sLimit = sEnd - s > kPiece ? s + kPiece : sEnd;
    const bool flush = sLimit == sEnd;
    Dst* begin;
    Dst* tLimit;
    if (counting) {
      begin = t = scratch;
      tLimit = scratch + sizeof(scratch) / sizeof(Dst);
    } else {
      begin = t;
      tLimit = outEnd - t > kPiece ? t + kPiece : outEnd;
    }
    UErrorCode e = U_ZERO_ERROR;
    step(&t, tLimit, &s, sLimit, flush, &e);
    if (counting) {
      counted += t - begin;
      if (counted > INT_MAX) return -1;
      if (out && counted > 0) return -1;  // the buffer is full and more output follows
    }
    if (e == U_BUFFER_OVERFLOW_ERROR) {
      // A full buffer is an overflow only if the rest of the input writes anything.
      if (!counting && t == outEnd) counting = true;
      continue;
    }
    if (U_FAILURE(e)) return -1;
    if (flush) break;
  }
  if (out == nullptr) return counted;
  return counting ? capacity : t - out;
}

int ToInt(int64_t n) { return n > 0 && n <= INT_MAX ? static_cast<int>(n) : 0; }

// ---- GBK fast path ----------------------------------------------------------------------
//
// Most GBK text is runs of ASCII and well-formed two-byte characters. Those are converted
// here: ASCII runs 16 bytes a step, two-byte characters one table look-up each, from a
// table read once per process from ICU's own converter. Everything else (the one-byte
// characters 0x80 and 0xFF, invalid and unassigned sequences, a lead byte at the very end)
// goes to ICU, from its first byte up to and including the next ASCII byte. After an ASCII
// byte ICU's decoder holds no partial character (an ASCII byte ends a pair or stands alone;
// it never begins one), and a table pair is one whole character wherever a character
// starts, so converting the text in such pieces gives exactly what one ICU call over the
// whole text gives.

struct GbkPairs {
  // The one UTF-16 unit ICU reads lead byte 0x80 + i, trail byte j as; 0 leaves the
  // sequence to ICU.
  char16_t unit[128][256];
};

// Converts every pair of a byte of 0x80 or above and any byte once, each pair followed by
// an ASCII byte, in one run of a converter of its own. A pair is kept only where ICU read
// exactly its two bytes, from the pair's first byte on, as one unit that is neither U+FFFD
// nor a surrogate: the offsets of the output tell which bytes each unit came from, so a
// sequence that ICU reads in any other way never enters the table.
std::unique_ptr<const GbkPairs> BuildGbkPairs() {
  auto pairs = std::make_unique<GbkPairs>();
  UErrorCode e = U_ZERO_ERROR;
  UConverter* c = ucnv_open("windows-936-2000", &e);
  if (U_SUCCESS(e)) {
    ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &e);
  }
  if (U_FAILURE(e)) {
    if (c) ucnv_close(c);
    return nullptr;
  }
  std::string in;
  in.reserve(128 * 256 * 3);
  for (unsigned lead = 0x80; lead <= 0xFF; ++lead) {
    for (unsigned trail = 0; trail <= 0xFF; ++trail) {
      in += static_cast<char>(lead);
      in += static_cast<char>(trail);
      in += 'A';
    }
  }
  std::vector<UChar> out(in.size());
  std::vector<int32_t> offsets(in.size());
  UChar* t = out.data();
  const char* s = in.data();
  ucnv_toUnicode(c, &t, out.data() + out.size(), &s, in.data() + in.size(), offsets.data(), true,
                 &e);
  ucnv_close(c);
  if (U_FAILURE(e)) return nullptr;
  const std::size_t produced = static_cast<std::size_t>(t - out.data());
  for (std::size_t k = 0; k + 1 < produced; ++k) {
    const int32_t at = offsets[k];
    if (at < 0 || at % 3 != 0 || offsets[k + 1] != at + 2) continue;
    const char16_t u = out[k];
    if (u == 0 || u == 0xFFFD || U16_IS_SURROGATE(u)) continue;
    const auto* pair = reinterpret_cast<const unsigned char*>(in.data()) + at;
    pairs->unit[pair[0] - 0x80][pair[1]] = u;
  }
  return pairs;
}

const GbkPairs* TheGbkPairs() {
  static const std::unique_ptr<const GbkPairs> pairs = BuildGbkPairs();
  return pairs.get();
}

// Where the piece that ICU converts ends: after the run of bytes of 0x80 and above from
// `from` on, and after the ASCII byte that ends it (or at the end of the input).
const unsigned char* IcuPieceEnd(const unsigned char* from, const unsigned char* end) {
  while (from < end && *from >= 0x80) ++from;
  return from < end ? from + 1 : end;
}

// Stores the 16 bytes at p to out (as units or as bytes) and returns how many of them, from
// the first on, are ASCII (16 when all are).
template <class Dst>
inline unsigned Ascii16(const unsigned char* p, Dst* out) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (sizeof(Dst) == 2) {
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  }
  return static_cast<unsigned>(
      __builtin_ctz(static_cast<unsigned>(_mm_movemask_epi8(v)) | 0x10000u));
#else
  unsigned k = 16;
  for (unsigned i = 0; i < 16; ++i) {
    out[i] = static_cast<Dst>(p[i]);
    if (p[i] >= 0x80 && k == 16) k = i;
  }
  return k;
#endif
}

// Writes unit u (not a surrogate) where room is known to be there: as itself, or as UTF-8
// (three bytes always stored); returns how far the output moves.
inline unsigned PutRoomy(unsigned u, char16_t* out) {
  *out = static_cast<char16_t>(u);
  return 1;
}
inline unsigned PutRoomy(unsigned u, char* out) {
  const bool one = u < 0x80;
  const bool two = u < 0x800;
  out[0] = static_cast<char>(one ? u : two ? 0xC0 | (u >> 6) : 0xE0 | (u >> 12));
  out[1] = static_cast<char>(two ? 0x80 | (u & 0x3F) : 0x80 | ((u >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (u & 0x3F));
  return one ? 1 : two ? 2 : 3;
}

// The same with a room check; false when it does not fit.
inline bool Put(unsigned u, char16_t*& out, char16_t* outEnd) {
  if (out == outEnd) return false;
  *out++ = static_cast<char16_t>(u);
  return true;
}
inline bool Put(unsigned u, char*& out, char* outEnd) {
  const std::ptrdiff_t need = u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
  if (outEnd - out < need) return false;
  if (need == 1) {
    *out++ = static_cast<char>(u);
  } else if (need == 2) {
    *out++ = static_cast<char>(0xC0 | (u >> 6));
    *out++ = static_cast<char>(0x80 | (u & 0x3F));
  } else {
    *out++ = static_cast<char>(0xE0 | (u >> 12));
    *out++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (u & 0x3F));
  }
  return true;
}

// GBK -> UTF-16 units (Dst = char16_t) or UTF-8 bytes (Dst = char) into out[0, capacity).
// `icu(from, to, dst, room)` converts one piece with ICU and returns the count written, or
// -1. Returns the count written, or -1 when the output does not fit or ICU fails.
template <class Dst, class Icu>
int64_t GbkFast(const GbkPairs& pairs, const unsigned char* in, std::size_t n, Dst* out,
                std::size_t capacity, Icu icu) {
  // Room one step needs: 16 units or bytes for the ASCII store, and the characters after
  // it, which it takes only while 3 more bytes fit.
  constexpr std::ptrdiff_t kStepRoom = 32;
  const unsigned char* const end = in + n;
  Dst* const outEnd = out + capacity;
  Dst* t = out;
  while (in < end) {
    // Each step stores the next 16 bytes as if ASCII and keeps as many as are, then takes
    // the two-byte characters that follow through the table.
    while (end - in >= 16 && outEnd - t >= kStepRoom) {
      const unsigned ascii = Ascii16(in, t);
      in += ascii;
      t += ascii;
      if (ascii == 16) continue;
      while (end - in >= 2 && outEnd - t >= 3) {
        const unsigned u = pairs.unit[in[0] & 0x7F][in[1]];
        if (in[0] < 0x80 || u == 0) break;
        t += PutRoomy(u, t);
        in += 2;
      }
      if (in < end && *in >= 0x80) break;
    }
    if (in == end) break;
    // One character with room checks: near the ends, and for what the table leaves out.
    const unsigned b0 = *in;
    if (b0 < 0x80) {
      if (!Put(b0, t, outEnd)) return -1;
      ++in;
      continue;
    }
    const unsigned pair = end - in >= 2 ? pairs.unit[b0 & 0x7F][in[1]] : 0;
    if (pair != 0) {
      if (!Put(pair, t, outEnd)) return -1;
      in += 2;
      continue;
    }
    const unsigned char* pieceEnd = IcuPieceEnd(in, end);
    const int64_t written = icu(in, pieceEnd, t, outEnd - t);
    if (written < 0) return -1;
    t += written;
    in = pieceEnd;
  }
  return t - out;
}

const UNormalizer2* Nfc() {
  UErrorCode e = U_ZERO_ERROR;
  const UNormalizer2* n = unorm2_getNFCInstance(&e);
  return U_SUCCESS(e) ? n : nullptr;
}

// True when some character of the input may combine with the one before it. Nothing below
// U+0300 ever does, which keeps the common case to one comparison per unit.
bool MayCompose(const UNormalizer2* nfc, const char16_t* in, std::ptrdiff_t n) {
  for (std::ptrdiff_t i = 0; i < n;) {
    if (in[i] < 0x300) {
      ++i;
      continue;
    }
    UChar32 c;
    U16_NEXT(in, i, n, c);
    if (!unorm2_hasBoundaryBefore(nfc, c)) return true;
  }
  return false;
}

bool Encodable(CodePageState& s, UChar32 c) {
  if (s.hasEveryCharacter) return true;
  if (!s.encodable) {
    UErrorCode e = U_ZERO_ERROR;
    USet* set = uset_openEmpty();
    ucnv_getUnicodeSet(s.converter, set, UCNV_ROUNDTRIP_SET, &e);
    if (U_FAILURE(e)) uset_clear(set);
    uset_freeze(set);
    s.encodable = set;
  }
  return uset_contains(s.encodable, c);
}

// The input with each base character + combining mark pair replaced by the precomposed
// character, where one exists and the code page has it. Works left to right, so a
// composed character can take a further mark (u + U+0308 + U+0301 -> U+01D8).
std::u16string Compose(CodePageState& s, const UNormalizer2* nfc, const char16_t* in,
                       std::ptrdiff_t n) {
  std::u16string out;
  out.reserve(static_cast<std::size_t>(n));
  UChar32 last = -1;       // the last code point written: the candidate base
  std::size_t lastAt = 0;  // where it starts in out
  auto append = [&out](UChar32 c) {
    char16_t units[2];
    int32_t k = 0;
    U16_APPEND_UNSAFE(units, k, c);
    out.append(units, static_cast<std::size_t>(k));
  };
  for (std::ptrdiff_t i = 0; i < n;) {
    UChar32 c;
    U16_NEXT(in, i, n, c);
    if (last >= 0 && c >= 0x300) {
      UChar32 p = unorm2_composePair(nfc, last, c);
      if (p >= 0 && Encodable(s, p)) {
        out.resize(lastAt);
        append(p);
        last = p;
        continue;
      }
    }
    lastAt = out.size();
    append(c);
    last = c;
  }
  return out;
}

// GBK -> UTF-16 through the fast path, with the calling thread's converter for what the
// table leaves to ICU. The count written, or -1.
int64_t GbkToUnits(const GbkPairs& pairs, const unsigned char* in, std::size_t n, char16_t* out,
                   std::size_t capacity) {
  CodePageState* s = StateFor(kCodePageGbk);
  if (!s) return -1;
  UConverter* c = s->converter;
  auto step = [c](UChar** t, UChar* tLimit, const char** src, const char* sLimit, bool flush,
                  UErrorCode* e) { ucnv_toUnicode(c, t, tLimit, src, sLimit, nullptr, flush, e); };
  auto icu = [&](const unsigned char* from, const unsigned char* to, char16_t* dst,
                 std::ptrdiff_t room) {
    ucnv_resetToUnicode(c);
    return Run<char, UChar>(step, reinterpret_cast<const char*>(from),
                            reinterpret_cast<const char*>(to), dst, room);
  };
  return GbkFast<char16_t>(pairs, in, n, out, capacity, icu);
}

// Texts from this size on are converted in two halves on two threads.
constexpr std::size_t kSplitBytes = std::size_t{256} << 10;

// Where a long text may be cut in two so that each half converts as it would within the
// whole: right after two bytes below 0x80 in a row, near the middle. The second of them is
// a character of its own whatever came before (the first cannot begin a pair), and no
// character spans the cut. 0 when there is no such place near the middle.
std::size_t SplitPoint(const unsigned char* in, std::size_t n) {
  const std::size_t from = n / 2;
  const std::size_t to = std::min(n - 1, from + (std::size_t{64} << 10));
  for (std::size_t i = from; i < to; ++i) {
    if (in[i - 1] < 0x80 && in[i] < 0x80) return i + 1;
  }
  return 0;
}

// A long GBK text in two halves at once: the second half goes into the output behind the
// room the first may take (one unit per byte at most), then moves up to join it. -1 when
// the output has no room for that layout or a half fails; the caller then converts in one
// piece, which gives the same units.
int64_t GbkToUnitsSplit(const GbkPairs& pairs, const unsigned char* in, std::size_t n,
                        char16_t* out, std::size_t capacity) {
  if (n < kSplitBytes || capacity < n) return -1;
  const std::size_t cut = SplitPoint(in, n);
  if (cut == 0) return -1;
  int64_t second = -1;
  std::thread worker;
  try {
    worker = std::thread(
        [&] { second = GbkToUnits(pairs, in + cut, n - cut, out + cut, capacity - cut); });
  } catch (...) {
    return -1;  // no thread to be had: one piece it is
  }
  const int64_t first = GbkToUnits(pairs, in, cut, out, cut);
  worker.join();
  if (first < 0 || second < 0) return -1;
  std::memmove(out + first, out + cut, static_cast<std::size_t>(second) * sizeof(char16_t));
  return first + second;
}

}  // namespace

int MultiByteToWide(unsigned codePage, unsigned flags, const char* in, int inBytes, char16_t* out,
                    int outUnits) {
  if (flags != 0 || in == nullptr || inBytes == 0 || inBytes < -1 || outUnits < 0) return 0;
  std::size_t n = inBytes == -1 ? std::strlen(in) + 1 : static_cast<std::size_t>(inBytes);
  if (n > static_cast<std::size_t>(INT_MAX)) return 0;
  CodePageState* s = StateFor(codePage);
  if (!s) return 0;
  UConverter* c = s->converter;
  auto step = [c](UChar** t, UChar* tLimit, const char** src, const char* sLimit, bool flush,
                  UErrorCode* e) { ucnv_toUnicode(c, t, tLimit, src, sLimit, nullptr, flush, e); };
  bool query = out == nullptr || outUnits == 0;
  const GbkPairs* pairs = codePage == kCodePageGbk && !query ? TheGbkPairs() : nullptr;
  if (pairs) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(in);
    const auto capacity = static_cast<std::size_t>(outUnits);
    const int64_t split = GbkToUnitsSplit(*pairs, bytes, n, out, capacity);
    return ToInt(split >= 0 ? split : GbkToUnits(*pairs, bytes, n, out, capacity));
  }
  return ToInt(Run<char, UChar>(step, in, in + n, query ? nullptr : out, outUnits));
}

int WideToMultiByte(unsigned codePage, unsigned flags, const char16_t* in, int inUnits, char* out,
                    int outBytes) {
  if ((flags & ~kCompositeCheck) != 0 || in == nullptr || inUnits == 0 || inUnits < -1 ||
      outBytes < 0) {
    return 0;
  }
  std::size_t n = inUnits == -1 ? std::char_traits<char16_t>::length(in) + 1
                                : static_cast<std::size_t>(inUnits);
  if (n > static_cast<std::size_t>(INT_MAX)) return 0;
  CodePageState* s = StateFor(codePage);
  if (!s) return 0;
  std::u16string composed;
  if (flags & kCompositeCheck) {
    const UNormalizer2* nfc = Nfc();
    if (nfc && MayCompose(nfc, in, static_cast<std::ptrdiff_t>(n))) {
      composed = Compose(*s, nfc, in, static_cast<std::ptrdiff_t>(n));
      in = composed.data();
      n = composed.size();
    }
  }
  UConverter* c = s->converter;
  auto step = [c](char** t, char* tLimit, const UChar** src, const UChar* sLimit, bool flush,
                  UErrorCode* e) {
    ucnv_fromUnicode(c, t, tLimit, src, sLimit, nullptr, flush, e);
  };
  bool query = out == nullptr || outBytes == 0;
  return ToInt(Run<UChar, char>(step, in, in + n, query ? nullptr : out, outBytes));
}

int MultiByteToMultiByte(unsigned fromCodePage, const char* in, int inBytes, unsigned toCodePage,
                         char* out, int outBytes) {
  if (fromCodePage == toCodePage || in == nullptr || inBytes == 0 || inBytes < -1 || outBytes < 0) {
    return 0;
  }
  std::size_t n = inBytes == -1 ? std::strlen(in) + 1 : static_cast<std::size_t>(inBytes);
  if (n > static_cast<std::size_t>(INT_MAX)) return 0;
  CodePageState* from = StateFor(fromCodePage);
  CodePageState* to = StateFor(toCodePage);
  if (!from || !to) return 0;
  // The UTF-16 pivot lives across the pieces of one call; ICU keeps what it has not yet
  // written out between its pivotSource and pivotTarget.
  UChar pivot[kScratchBytes / sizeof(UChar)];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  auto step = [&](char** t, char* tLimit, const char** src, const char* sLimit, bool flush,
                  UErrorCode* e) {
    ucnv_convertEx(to->converter, from->converter, t, tLimit, src, sLimit, pivot, &pivotSource,
                   &pivotTarget, pivot + std::size(pivot), false, flush, e);
  };
  bool query = out == nullptr || outBytes == 0;
  const GbkPairs* pairs = fromCodePage == kCodePageGbk && toCodePage == kCodePageUtf8 && !query
                              ? TheGbkPairs()
                              : nullptr;
  if (pairs) {
    auto icu = [&](const unsigned char* begin, const unsigned char* limit, char* dst,
                   std::ptrdiff_t room) {
      ucnv_resetToUnicode(from->converter);
      ucnv_resetFromUnicode(to->converter);
      pivotSource = pivotTarget = pivot;
      return Run<char, char>(step, reinterpret_cast<const char*>(begin),
                             reinterpret_cast<const char*>(limit), dst, room);
    };
    return ToInt(GbkFast<char>(*pairs, reinterpret_cast<const unsigned char*>(in), n, out,
                               static_cast<std::size_t>(outBytes), icu));
  }
  return ToInt(Run<char, char>(step, in, in + n, query ? nullptr : out, outBytes));
}

}  // namespace quorvel::platform
