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

#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

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
  return ToInt(Run<char, char>(step, in, in + n, query ? nullptr : out, outBytes));
}

}  // namespace quorvel::platform
