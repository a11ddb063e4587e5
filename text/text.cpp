// The text, bytes and array operations. Every routine takes any bytes, never reads past
// the end of its input and runs in time linear in its input.
#include "text/text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {
namespace {

constexpr std::size_t kNone = std::string_view::npos;

inline unsigned char At(std::string_view s, std::size_t i) noexcept {
  return static_cast<unsigned char>(s[i]);
}

// Bytes taken by the character that starts at i: two for a lead byte that has a byte
// after it, one otherwise (a lead byte at the very end stands alone).
inline std::size_t CharSize(std::string_view s, std::size_t i) noexcept {
  return (At(s, i) >= 0x80 && i + 1 < s.size()) ? 2 : 1;
}

inline bool IsUpperAscii(unsigned char c) noexcept { return c >= 'A' && c <= 'Z'; }
inline bool IsLowerAscii(unsigned char c) noexcept { return c >= 'a' && c <= 'z'; }
inline char LowerAscii(unsigned char c) noexcept {
  return static_cast<char>(IsUpperAscii(c) ? c + 32 : c);
}

// A byte count or position as an int; counts that do not fit are held at INT_MAX.
inline int ToInt(std::size_t n) noexcept {
  return n > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

// The number of leading bytes a 1-based start position skips: 0 when omitted or below 1.
inline std::size_t SkipOf(std::optional<int> start) noexcept {
  if (!start || *start <= 1) return 0;
  return static_cast<std::size_t>(*start) - 1;
}

// Folds the one-byte characters of s (walked from its first byte) to lower case in place;
// the bytes of two-byte characters stay as they are.
void FoldWalk(std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      i += CharSize(s, i);
    } else {
      s[i] = LowerAscii(c);
      ++i;
    }
  }
}

// True when the sought text, walked by its own characters, has an ASCII letter in a
// one-byte character: only then can ignoring case change whether it matches.
bool HasFoldableLetter(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = At(s, i);
    if (c >= 0x80) {
      i += CharSize(s, i);
      continue;
    }
    if (IsUpperAscii(c) || IsLowerAscii(c)) return true;
    ++i;
  }
  return false;
}

// Finds, in order, the occurrences of a needle in a haystack that begin where a character
// starts, for a walk by characters that begins at haystack byte 0 (or at the byte given
// to ResumeAt, which restarts the walk there).
//
// Candidates come from a scan for the needle's first and last bytes (32 positions a step
// where SSE2 is there, memchr otherwise) and a byte compare of the rest. Whether a
// candidate c starts a character follows from the nearest byte below 0x80 before it: such
// a byte is a one-byte character or the second byte of a pair, so the byte after it
// starts a character, and from there the bytes of 0x80 and above pair up. The backward
// look never goes below the last known character start, so all looks together cover the
// haystack at most once. The work spent on candidates is counted; when it outgrows the
// bytes passed (candidates at nearly every byte with long partial matches, or many
// overlapping hits), the search goes on with Knuth-Morris-Pratt, so it stays linear.
//
// Ignoring case, the search runs over a copy of the haystack whose one-byte characters
// are folded to lower case, against the needle folded the same way (walked from its own
// first byte). In a window that starts on a character start and matches, the text's
// characters line up with the needle's, so comparing the folded copies exactly is the
// same as comparing the originals ignoring case. The copy is folded lazily, in steps that
// double, so a search costs time in proportion to the bytes it passes, not to the
// haystack.
class BoundarySearcher {
 public:
  BoundarySearcher(std::string_view hay, std::string_view needle, bool ignoreCase = false)
      : orig_(hay), hay_(hay), needle_(needle), ready_(hay.size()) {
    if (ignoreCase && HasFoldableLetter(needle)) {
      foldedNeedle_.assign(needle);
      FoldWalk(foldedNeedle_);
      needle_ = foldedNeedle_;
      folded_ = std::make_unique_for_overwrite<char[]>(hay.size());
      hay_ = std::string_view(folded_.get(), hay.size());
      ready_ = 0;
    }
  }

  // The next occurrence at or after the cursor that begins on a character start, or kNone.
  std::size_t Find() {
    const std::size_t n = hay_.size();
    const std::size_t m = needle_.size();
    if (m == 0 || m > n) return kNone;
    for (;;) {
      std::size_t c;
      if (!kmp_) {
        if (pos_ > n - m) return kNone;
        if (cost_ > 4 * pos_ + kFreeCost) {
          StartKmp();
          continue;
        }
        if (ready_ < n && ready_ < pos_ + m + 64) Prepare(pos_ + m + 64);
        c = NextCandidate(pos_, ready_);
        if (c == kNone) {
          if (ready_ == n) {
            pos_ = n;
            return kNone;
          }
          // Every start whose window lies in the prepared bytes is ruled out.
          pos_ = std::max(pos_, ready_ - m + 1);
          Prepare(ready_ + 1);
          continue;
        }
        pos_ = c + 1;
        // First and last bytes match; compare the ones between.
        std::size_t k = 1;
        while (k + 1 < m && hay_[c + k] == needle_[k]) ++k;
        cost_ += k + kCandidateCost;
        if (k + 1 < m) continue;
      } else {
        c = KmpNext();
        if (c == kNone) return kNone;
      }
      if (Aligned(c)) return c;
    }
  }

  // Calls hit(c) for each occurrence c, in order, where after each one the walk restarts
  // right after it (as ResumeAt(c + needle size)); stops when hit returns false.
  template <class Hit>
  void ForEach(Hit hit) {
    const std::size_t m = needle_.size();
    for (;;) {
      if (!folded_ && !kmp_) {
        const std::size_t stop = ScanBlocks(hit);
        if (stop == kStopped) return;
      }
      const std::size_t c = Find();
      if (c == kNone || !hit(c)) return;
      ResumeAt(c + m);
    }
  }

  // Restarts the walk at byte p (at most one past the last occurrence found): p starts a
  // character, and the search goes on from there.
  void ResumeAt(std::size_t p) {
    pos_ = p;
    bound_ = p;
    kmpI_ = p;
    kmpJ_ = 0;
    if (folded_ && p < ready_) {
      // The bytes from p on were folded for the old walk. The two walks differ only up to
      // the first byte below 0x80 from p on (after it both start a character), and only
      // that byte can be read differently; refold it for the new walk. Without such a
      // byte, the fold goes on from a character start of the new walk.
      std::size_t a = p;
      while (a < ready_ && At(orig_, a) >= 0x80) ++a;
      if (a < ready_) {
        folded_[a] = ((a - p) % 2 == 0) ? LowerAscii(At(orig_, a)) : orig_[a];
      } else if ((ready_ - p) % 2 != 0) {
        --ready_;
      }
    } else if (folded_ && p > ready_) {
      ready_ = p;
    }
  }

 private:
  // Work allowed before the pace of candidates is judged, and the fixed cost of one.
  static constexpr std::size_t kFreeCost = 1 << 16;
  static constexpr std::size_t kCandidateCost = 8;

  // Folds at least up to byte x (exclusive) of the copy, and at least as many bytes again
  // as are folded already, walking by characters from where the fold stopped.
  void Prepare(std::size_t x) {
    const std::size_t n = orig_.size();
    const std::size_t target = std::min(n, std::max(x, 2 * ready_ + 256));
    std::size_t i = ready_;
    while (i < target) {
      const unsigned char c = At(orig_, i);
      if (c >= 0x80) {
        folded_[i] = orig_[i];
        if (i + 1 < n) folded_[i + 1] = orig_[i + 1];
        i += CharSize(orig_, i);
      } else {
        folded_[i] = LowerAscii(c);
        ++i;
      }
    }
    ready_ = i;
  }

  // The first c >= from with c + m <= limit whose byte is the needle's first byte and
  // whose byte c + m - 1 is the needle's last byte; kNone when there is none. Reads no
  // byte at or beyond limit.
  std::size_t NextCandidate(std::size_t from, std::size_t limit) const {
    const std::size_t m = needle_.size();
    const char* h = hay_.data();
    const char first = needle_[0];
    const char last = needle_[m - 1];
    std::size_t i = from;
#if defined(__SSE2__)
    // 32 candidate positions a step: both 32-byte windows, at i and at i + m - 1, lie
    // below limit.
    const __m128i vf = _mm_set1_epi8(first);
    const __m128i vl = _mm_set1_epi8(last);
    auto block = [&](std::size_t at) {
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + at + m - 1));
      return static_cast<unsigned>(
          _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, vf), _mm_cmpeq_epi8(b, vl))));
    };
    while (i + m + 31 <= limit) {
      const unsigned lo = block(i);
      const unsigned hi = block(i + 16);
      if (lo != 0) return i + static_cast<std::size_t>(__builtin_ctz(lo));
      if (hi != 0) return i + 16 + static_cast<std::size_t>(__builtin_ctz(hi));
      i += 32;
    }
#endif
    while (i + m <= limit) {
      const void* hit = std::memchr(h + i, first, limit - m + 1 - i);
      if (hit == nullptr) return kNone;
      i = static_cast<std::size_t>(static_cast<const char*>(hit) - h);
      if (h[i + m - 1] == last) return i;
      ++i;
    }
    return kNone;
  }

  static constexpr std::size_t kStopped = kNone - 1;

  // The exact search of ForEach, 64 candidate positions a step, for as long as whole steps
  // fit in the haystack and the work on candidates stays in bounds. In each step three
  // masks are made: where the needle's first byte is, where its last byte is (m - 1 on),
  // and which bytes are 0x80 or above. A candidate starts a character when the run of
  // bytes of 0x80 and above right before it, back to the last ASCII byte or to the last
  // restart of the walk, is of even length; `carry` is the length of that run where it
  // reaches back over the start of the step. Returns kStopped when hit asked to stop;
  // otherwise leaves the cursor and a known character start for Find to go on from.
  template <class Hit>
  std::size_t ScanBlocks(Hit& hit) {
#if defined(__SSE2__)
    const std::size_t n = hay_.size();
    const std::size_t m = needle_.size();
    if (m == 0 || m > n) return kNone;
    const char* h = hay_.data();
    const __m128i vf = _mm_set1_epi8(needle_[0]);
    const __m128i vl = _mm_set1_epi8(needle_[m - 1]);
    // 16 bits of a 16-byte mask into place k of 64.
    auto bits = [](__m128i x, int k) {
      return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(x))) << (16 * k);
    };
    auto load = [](const char* at) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    };
    std::size_t p = pos_;
    std::size_t bound = bound_;  // a character start at or before p
    std::size_t carry = 0;       // high bytes right before p, back to bound or an ASCII byte
    std::size_t cost = cost_;
    // bound_ may lie before p (a run of high bytes between them): count it.
    for (std::size_t i = p; i > bound && At(hay_, i - 1) >= 0x80; --i) ++carry;
    if (p - carry > bound) bound = p - carry;
    if (At(needle_, m - 1) < 0x80) {
      // A sought text that ends in an ASCII byte leaves the walk where a walk without the
      // restart would be (after an ASCII byte a character starts either way), so the
      // character starts of a whole step follow from its masks alone: in a run of high
      // bytes the lead bytes are those at the run's own parity, and the byte after each
      // is a second byte. The candidates of several steps are gathered first and then
      // judged in one loop, which keeps the branches on the data few.
      std::uint64_t trail0 = carry % 2;  // the step's first byte is a second byte
      constexpr std::uint64_t kEven = 0x5555555555555555u;
      std::size_t at[8 * 64];
      while (p + 64 + m - 1 <= n) {
        if (cost > 4 * p + kFreeCost) break;
        std::size_t count = 0;
        for (int step = 0; step < 8 && p + 64 + m - 1 <= n; ++step, p += 64) {
          const char* a = h + p;
          const __m128i a0 = load(a), a1 = load(a + 16), a2 = load(a + 32), a3 = load(a + 48);
          const char* lt = a + m - 1;
          const __m128i b0 = load(lt), b1 = load(lt + 16), b2 = load(lt + 32), b3 = load(lt + 48);
          const std::uint64_t high =
              (bits(a0, 0) | bits(a1, 1) | bits(a2, 2) | bits(a3, 3)) & ~trail0;
          std::uint64_t cand = (bits(_mm_cmpeq_epi8(a0, vf), 0) | bits(_mm_cmpeq_epi8(a1, vf), 1) |
                                bits(_mm_cmpeq_epi8(a2, vf), 2) | bits(_mm_cmpeq_epi8(a3, vf), 3)) &
                               (bits(_mm_cmpeq_epi8(b0, vl), 0) | bits(_mm_cmpeq_epi8(b1, vl), 1) |
                                bits(_mm_cmpeq_epi8(b2, vl), 2) | bits(_mm_cmpeq_epi8(b3, vl), 3));
          // Runs of high bytes that start at an even place vanish when their starts are
          // added (the carry runs through them); the others are the rest.
          const std::uint64_t starts = high & ~(high << 1);
          const std::uint64_t evenRuns = high & ~(high + (starts & kEven));
          const std::uint64_t leads = (evenRuns & kEven) | (high & ~evenRuns & ~kEven);
          cand &= ~((leads << 1) | trail0);
          trail0 = leads >> 63;
          // Four places written whatever the count; more only in a loop.
          const std::size_t k = static_cast<std::size_t>(__builtin_popcountll(cand));
          std::uint64_t c4 = cand;
          for (int i = 0; i < 4; ++i) {
            at[count + i] = p + static_cast<std::size_t>(__builtin_ctzll(c4 | (1ull << 63)));
            c4 &= c4 - 1;
          }
          for (std::size_t i = 4; i < k; ++i) {
            at[count + i] = p + static_cast<std::size_t>(__builtin_ctzll(c4));
            c4 &= c4 - 1;
          }
          count += k;
        }
        for (std::size_t i = 0; i < count; ++i) {
          const std::size_t c = at[i];
          if (c < bound) continue;
          std::size_t j = 1;
          while (j + 1 < m && h[c + j] == needle_[j]) ++j;
          cost += j + kCandidateCost;
          if (j + 1 < m) continue;
          if (!hit(c)) {
            cost_ = cost;
            return kStopped;
          }
          bound = c + m;
        }
      }
      cost_ = cost;
      const std::size_t start = trail0 ? p - 1 : p;  // a character start at or before p
      bound_ = std::max(bound, start);
      pos_ = std::max(bound, p);
      return kNone;
    }
    while (p + 64 + m - 1 <= n) {
      if (cost > 4 * p + kFreeCost) break;
      const char* at = h + p;
      const __m128i a0 = load(at), a1 = load(at + 16), a2 = load(at + 32), a3 = load(at + 48);
      const char* lt = at + m - 1;
      const __m128i b0 = load(lt), b1 = load(lt + 16), b2 = load(lt + 32), b3 = load(lt + 48);
      const std::uint64_t high = bits(a0, 0) | bits(a1, 1) | bits(a2, 2) | bits(a3, 3);
      const std::uint64_t first = bits(_mm_cmpeq_epi8(a0, vf), 0) |
                                  bits(_mm_cmpeq_epi8(a1, vf), 1) |
                                  bits(_mm_cmpeq_epi8(a2, vf), 2) | bits(_mm_cmpeq_epi8(a3, vf), 3);
      const std::uint64_t last = bits(_mm_cmpeq_epi8(b0, vl), 0) | bits(_mm_cmpeq_epi8(b1, vl), 1) |
                                 bits(_mm_cmpeq_epi8(b2, vl), 2) | bits(_mm_cmpeq_epi8(b3, vl), 3);
      std::uint64_t cand = first & last;
      bool restarted = false;
      while (cand) {
        const unsigned k = static_cast<unsigned>(__builtin_ctzll(cand));
        cand &= cand - 1;
        const std::size_t c = p + k;
        std::size_t j = 1;
        while (j + 1 < m && h[c + j] == needle_[j]) ++j;
        cost += j + kCandidateCost;
        if (j + 1 < m) continue;
        // The run of high bytes right before c, back to the last ASCII byte or to bound.
        const std::size_t from = bound > p ? bound - p : 0;
        std::uint64_t ascii = ~high & ((std::uint64_t{1} << k) - 1);
        ascii &= ~std::uint64_t{0} << from;
        std::size_t run;
        if (ascii) {
          run = k - 1 - static_cast<unsigned>(63 - __builtin_clzll(ascii));
        } else if (bound > p) {
          run = c - bound;
        } else {
          run = k + carry;
        }
        if (run % 2 != 0) continue;
        if (!hit(c)) {
          cost_ = cost;
          return kStopped;
        }
        bound = c + m;
        if (bound >= p + 64) {
          p = bound;
          carry = 0;
          restarted = true;
          break;
        }
        cand &= ~std::uint64_t{0} << (bound - p);
      }
      if (restarted) continue;
      // The run of high bytes at the end of the step, back to its last ASCII byte or bound.
      const std::size_t from = bound > p ? bound - p : 0;
      const std::uint64_t ascii = ~high & (~std::uint64_t{0} << from);
      if (ascii) {
        carry = static_cast<std::size_t>(__builtin_clzll(ascii));
      } else if (bound > p) {
        carry = p + 64 - bound;
      } else {
        carry += 64;
      }
      p += 64;
    }
    cost_ = cost;
    pos_ = p;
    bound_ = p - carry >= bound ? p - carry : bound;
#else
    (void)hit;
#endif
    return kNone;
  }

  bool Aligned(std::size_t c) {
    // bound_ <= c holds: every candidate lies at or after the cursor, which never falls
    // behind the last known character start.
    std::size_t i = c;
    while (i > bound_ && At(hay_, i - 1) >= 0x80) --i;
    const bool aligned = ((c - i) % 2) == 0;
    bound_ = aligned ? c : c + 1;
    return aligned;
  }

  void StartKmp() {
    kmp_ = true;
    kmpI_ = pos_;
    kmpJ_ = 0;
    const std::size_t m = needle_.size();
    border_.assign(m, 0);
    for (std::size_t k = 1, b = 0; k < m; ++k) {
      while (b > 0 && needle_[k] != needle_[b]) b = border_[b - 1];
      if (needle_[k] == needle_[b]) ++b;
      border_[k] = b;
    }
  }

  std::size_t KmpNext() {
    const std::size_t n = hay_.size();
    const std::size_t m = needle_.size();
    while (kmpI_ < n) {
      if (kmpI_ >= ready_) Prepare(kmpI_ + 1);
      const char h = hay_[kmpI_];
      while (kmpJ_ > 0 && h != needle_[kmpJ_]) kmpJ_ = border_[kmpJ_ - 1];
      if (h == needle_[kmpJ_]) ++kmpJ_;
      ++kmpI_;
      if (kmpJ_ == m) {
        kmpJ_ = border_[m - 1];
        return kmpI_ - m;
      }
    }
    return kNone;
  }

  std::string_view orig_;    // the haystack as given
  std::string_view hay_;     // the haystack searched: orig_, or the folded copy
  std::string_view needle_;  // the needle searched, folded when the haystack is
  std::string foldedNeedle_;
  std::unique_ptr<char[]> folded_;
  std::size_t ready_;      // bytes of hay_ below this are valid (all of them unless folding)
  std::size_t pos_ = 0;    // where the next candidate scan starts
  std::size_t bound_ = 0;  // a known character start, never beyond the next candidate
  std::size_t cost_ = 0;   // work spent on candidates so far
  bool kmp_ = false;
  std::size_t kmpI_ = 0;
  std::size_t kmpJ_ = 0;
  std::vector<std::size_t> border_;
};

// The parts one after another, in one allocation (Text or Bytes).
template <class Value>
Value Joined(std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (std::string_view p : parts) total += p.size();
  Value out;
  out.Reserve(total);
  for (std::string_view p : parts) out.Append(p);
  return out;
}

}  // namespace

// ---- TextArray ------------------------------------------------------------------------

const Text& TextArray::operator[](int i) const noexcept {
  static const Text kEmpty;
  if (i < 1 || static_cast<std::size_t>(i) > items_.size()) return kEmpty;
  return items_[static_cast<std::size_t>(i) - 1];
}

// ---- Text operations ------------------------------------------------------------------

bool TextEquals(const Text& a, const Text& b) { return a.view() == b.view(); }

int TextLength(const Text& t) { return ToInt(t.size()); }

Text ConcatText(std::initializer_list<std::string_view> parts) { return Joined<Text>(parts); }

Text TextLeft(const Text& t, int n) {
  if (n <= 0) return Text();
  return Text(t.view().substr(0, static_cast<std::size_t>(n)));
}

Text TextRight(const Text& t, int n) {
  if (n <= 0) return Text();
  const std::size_t k = static_cast<std::size_t>(n);
  if (k >= t.size()) return t;
  return Text(t.view().substr(t.size() - k));
}

Text TextMid(const Text& t, int start, int n) {
  if (start < 1 || n <= 0 || static_cast<std::size_t>(start) > t.size()) return Text();
  return Text(t.view().substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(n)));
}

Text CharFromCode(int code) {
  const char c = static_cast<char>(static_cast<unsigned>(code) & 0xFFu);
  if (c == '\0') return Text();
  return Text(std::string_view(&c, 1));
}

int FindText(const Text& text, const Text& sought, std::optional<int> start, bool ignoreCase) {
  const std::size_t len = text.size();
  const std::size_t skip = SkipOf(start);
  if (skip >= len) return -1;
  if (sought.empty()) return 1;
  BoundarySearcher searcher(text.view().substr(skip), sought.view(), ignoreCase);
  const std::size_t c = searcher.Find();
  return c == kNone ? -1 : ToInt(skip + c + 1);
}

int FindTextReverse(const Text& text, const Text& sought, std::optional<int> start,
                    bool ignoreCase) {
  const std::size_t len = text.size();
  std::size_t limit = len;
  if (start) limit = SkipOf(start);
  if (limit > len) limit = len;
  if (limit == 0) return -1;
  if (sought.empty()) return 1;
  BoundarySearcher searcher(text.view().substr(0, limit), sought.view(), ignoreCase);
  std::size_t last = kNone;
  for (std::size_t c = searcher.Find(); c != kNone; c = searcher.Find()) last = c;
  return last == kNone ? -1 : ToInt(last + 1);
}

namespace {

// Applies fold to every one-byte character of t, walking by characters.
template <class Fold>
Text MapOneByteChars(const Text& t, Fold fold) {
  std::string s(t.view());
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      i += CharSize(s, i);
    } else {
      s[i] = fold(c);
      ++i;
    }
  }
  return Text(std::move(s));
}

// The character at i of a Text as TextToInt reads it: full-width forms become their ASCII
// byte, anything else its own first byte. Sets size to the bytes taken.
unsigned char NumberByteAt(std::string_view s, std::size_t i, std::size_t& size) {
  const unsigned char c = At(s, i);
  size = CharSize(s, i);
  if (size == 1) return c;
  const unsigned char d = At(s, i + 1);
  if (c == 0xA3 && d >= 0xA1 && d <= 0xFE) return static_cast<unsigned char>(d - 0x80);
  if (c == 0xA1) {
    if (d == 0xA1) return ' ';
    if (d == 0xAB) return '~';
    if (d == 0xEE || d == 0xEF) return '*';
  }
  return c;
}

inline bool IsSpaceChar(std::string_view s, std::size_t i, std::size_t size) {
  return (size == 1 && At(s, i) == 0x20) || (size == 2 && At(s, i) == 0xA1 && At(s, i + 1) == 0xA1);
}

}  // namespace

Text ToUpper(const Text& t) {
  return MapOneByteChars(
      t, [](unsigned char c) { return static_cast<char>(IsLowerAscii(c) ? c - 32 : c); });
}

Text ToLower(const Text& t) {
  return MapOneByteChars(t, [](unsigned char c) { return LowerAscii(c); });
}

int TextToInt(const Text& t) {
  const std::string_view s = t.view();
  std::size_t i = 0;
  std::size_t size = 0;
  unsigned char c = 0;
  // White space, as the full-width forms turn into ASCII.
  for (; i < s.size(); i += size) {
    c = NumberByteAt(s, i, size);
    if (c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r') break;
  }
  if (i >= s.size()) return 0;
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = (c == '-');
    i += size;
  }
  // Values beyond the int range are held at its ends.
  std::int64_t value = 0;
  const std::int64_t cap = static_cast<std::int64_t>(INT_MAX) + 1;
  for (; i < s.size(); i += size) {
    c = NumberByteAt(s, i, size);
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > cap) value = cap;
  }
  if (negative) return static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

Text TrimText(const Text& t) {
  const std::string_view s = t.view();
  std::size_t begin = 0;
  while (begin < s.size()) {
    const std::size_t size = CharSize(s, begin);
    if (!IsSpaceChar(s, begin, size)) break;
    begin += size;
  }
  std::size_t end = s.size();
  std::size_t runStart = kNone;
  for (std::size_t i = begin; i < s.size();) {
    const std::size_t size = CharSize(s, i);
    if (IsSpaceChar(s, i, size)) {
      if (runStart == kNone) runStart = i;
    } else {
      runStart = kNone;
    }
    i += size;
  }
  if (runStart != kNone) end = runStart;
  return Text(s.substr(begin, end - begin));
}

Text RemoveSpaces(const Text& t) {
  const std::string_view s = t.view();
  std::string out;
  out.reserve(s.size());
  std::size_t keptFrom = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t size = CharSize(s, i);
    if (IsSpaceChar(s, i, size)) {
      out.append(s, keptFrom, i - keptFrom);
      keptFrom = i + size;
    }
    i += size;
  }
  out.append(s, keptFrom, s.size() - keptFrom);
  return Text(std::move(out));
}

// The bytes of a Text, for the operations here that fill them from other Texts' bytes.
struct TextBytes {
  static std::string& Of(Text& t) noexcept { return t.s_; }
};

namespace {

// A result built through a pointer into a string that keeps kSlack bytes of room beyond
// what is written, so that short pieces are copied as one fixed-size block (which may
// write past the piece, into that room). The string's capacity is reserved up front; its
// size (which the string fills with zeros) follows the writing in steps of kStep, so the
// bytes are still in cache when they are written.
class Writer {
 public:
  static constexpr std::size_t kSlack = 64;
  static constexpr std::size_t kBlock = 32;
  static constexpr std::size_t kStep = 64 * 1024;

  Writer(std::string& out, std::size_t capacity) : out_(out) {
    out_.reserve(capacity + kSlack);
    p_ = out_.data();
  }
  std::size_t size() const { return w_; }
  std::size_t capacity() const { return out_.capacity() - kSlack; }
  // True when `more` bytes fit in the capacity; otherwise Grow first.
  bool Fits(std::size_t more) const { return w_ + more <= capacity(); }
  void Grow(std::size_t capacity) {
    out_.reserve(capacity + kSlack);
    p_ = out_.data();
  }

  // Copies n bytes (which fit) from src; `readable` bytes from src on may be read (n or
  // more).
  void Put(const char* src, std::size_t n, std::size_t readable) {
    if (w_ + n + kSlack > out_.size()) {
      out_.resize(std::min(out_.capacity(), std::max(w_ + n + kSlack, out_.size() + kStep)));
      p_ = out_.data();
    }
    if (n <= kBlock && readable >= kBlock) {
      std::memcpy(p_ + w_, src, kBlock);
    } else {
      std::memcpy(p_ + w_, src, n);
    }
    w_ += n;
  }
  void Finish() { out_.resize(w_); }

 private:
  std::string& out_;
  char* p_;
  std::size_t w_ = 0;
};

}  // namespace

Text ReplaceText(const Text& text, const Text& sought, const Text& replacement,
                 std::optional<int> start, std::optional<int> count, bool ignoreCase) {
  const std::string_view s = text.view();
  const std::size_t skip = SkipOf(start);
  if (s.empty() || sought.empty() || skip >= s.size() || (count && *count == 0)) return text;
  const bool limited = count && *count > 0;
  const std::size_t maxCount = limited ? static_cast<std::size_t>(*count) : 0;
  const std::string_view rest = s.substr(skip);
  const std::string_view rep = replacement.view();
  const std::size_t m = sought.size();
  const std::size_t n = s.size();

  // A result too large to hold is a step that cannot be done: it gives the empty Text.
  try {
    BoundarySearcher searcher(rest, sought.view(), ignoreCase);
    // The replacement, padded so that a short one is always copied as one block.
    char padded[Writer::kBlock] = {};
    const bool shortRep = rep.size() <= Writer::kBlock;
    if (shortRep) std::memcpy(padded, rep.data(), rep.size());
    const char* repFrom = shortRep ? padded : rep.data();
    const std::size_t repReadable = shortRep ? Writer::kBlock : rep.size();

    Text result;
    // No longer than the text when the replacement is not longer than the sought text;
    // otherwise the size is projected from the part done once a sixteenth is done, and
    // again whenever the room runs out.
    Writer out(TextBytes::Of(result), n);
    bool projected = rep.size() <= m;
    // The projection never reserves more than twice the room there is, so a part done
    // that foretells wrongly (dense hits first, none after) costs at most that.
    auto grow = [&](std::size_t consumed, std::size_t more) {
      projected = true;
      const std::size_t room = out.capacity();
      const double rate = static_cast<double>(out.size()) / static_cast<double>(consumed);
      const double ahead = std::min(static_cast<double>(n - consumed) * rate * 1.0625,
                                    2.0 * static_cast<double>(room));
      std::size_t want = out.size() + more + static_cast<std::size_t>(ahead) + 64;
      if (!out.Fits(more)) want = std::max(want, room + room / 2);
      if (want > room) out.Grow(want);
    };
    out.Put(s.data(), skip, n);
    std::size_t copied = 0;  // bytes of rest already taken into out
    std::size_t done = 0;
    searcher.ForEach([&](std::size_t c) {
      const std::size_t piece = c - copied;
      const std::size_t consumed = skip + c + m;
      if (!out.Fits(piece + rep.size()) || (!projected && consumed >= n / 16)) {
        grow(consumed, piece + rep.size());
      }
      out.Put(rest.data() + copied, piece, rest.size() - copied);
      out.Put(repFrom, rep.size(), repReadable);
      copied = c + m;
      ++done;
      return !limited || done < maxCount;
    });
    if (!out.Fits(rest.size() - copied)) out.Grow(out.size() + rest.size() - copied);
    out.Put(rest.data() + copied, rest.size() - copied, rest.size() - copied);
    out.Finish();
    return result;
  } catch (const std::bad_alloc&) {
    return Text();
  } catch (const std::length_error&) {
    return Text();
  }
}

TextArray SplitText(const Text& text, const Text& delimiter, std::optional<int> count) {
  TextArray result;
  if (text.empty() || (count && *count <= 0)) return result;
  std::vector<Text>& items = result.items();
  if (delimiter.empty()) {
    items.push_back(text);
    return result;
  }
  const std::size_t maxCount =
      count ? static_cast<std::size_t>(*count) : std::numeric_limits<std::size_t>::max();
  const std::string_view s = text.view();
  const std::size_t m = delimiter.size();
  BoundarySearcher searcher(s, delimiter.view());
  std::size_t from = 0;
  // Once a sixteenth of the text is done, room for the parts is reserved as that part
  // foretells (never more than the text can hold).
  bool reserved = false;
  searcher.ForEach([&](std::size_t c) __attribute__((always_inline)) {
    items.emplace_back(text, from, c - from);
    from = c + m;
    if (!reserved && from >= s.size() / 16) {
      reserved = true;
      const std::size_t most = std::min(maxCount, s.size() / m + 1);
      const double rate = static_cast<double>(items.size()) / static_cast<double>(from);
      const std::size_t foretold = static_cast<std::size_t>(rate * 1.25 * s.size()) + 16;
      items.reserve(std::min(most, foretold));
    }
    return items.size() < maxCount;
  });
  if (from < s.size() && items.size() < maxCount) items.emplace_back(text, from, s.size() - from);
  return result;
}

Text BlankText(int n) {
  if (n <= 0) return Text();
  try {
    return Text(std::string(static_cast<std::size_t>(n), ' '));
  } catch (const std::bad_alloc&) {
    return Text();
  }
}

Text ToHexText(int value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::uint32_t v = static_cast<std::uint32_t>(value);
  char buf[8];
  std::size_t k = sizeof buf;
  do {
    buf[--k] = kDigits[v & 0xFu];
    v >>= 4;
  } while (v != 0);
  return Text(std::string_view(buf + k, sizeof buf - k));
}

int BitOr(std::initializer_list<int> values) {
  unsigned r = 0;
  for (int v : values) r |= static_cast<unsigned>(v);
  return static_cast<int>(r);
}

// ---- Bytes operations -----------------------------------------------------------------

bool BytesEquals(const Bytes& a, const Bytes& b) { return a.view() == b.view(); }

int BytesLength(const Bytes& b) { return ToInt(b.size()); }

Bytes ConcatBytes(std::initializer_list<std::string_view> parts) { return Joined<Bytes>(parts); }

Bytes TextToBytes(const Text& t) { return Bytes(t.view()); }

Text BytesToText(const Bytes& b) { return Text(b.view()); }

Bytes BytesLeft(const Bytes& b, int n) {
  if (n <= 0) return Bytes();
  return Bytes(b.view().substr(0, static_cast<std::size_t>(n)));
}

Bytes BlankBytes(int n) {
  if (n <= 0) return Bytes();
  try {
    return Bytes(std::string(static_cast<std::size_t>(n), '\0'));
  } catch (const std::bad_alloc&) {
    return Bytes();
  }
}

// ---- TextArray operations -------------------------------------------------------------

int ElementCount(const TextArray& a) { return ToInt(a.items().size()); }

void AppendText(TextArray& a, const Text& t) { a.items().push_back(t); }

}  // namespace quorvel
