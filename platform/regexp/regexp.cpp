// The "VBScript.RegExp" class: the dialect's pattern (dialect.h) and options mapped onto
// PCRE2's 16-bit library, the match loop, the match objects and the replacement.
#define PCRE2_CODE_UNIT_WIDTH 16
#include "platform/regexp/regexp.h"

#include <pcre2.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/regexp/dialect.h"

namespace quorvel::platform::regexp {
namespace {

// Limits of one pcre2_match call, which PCRE2 applies to each start position on its own;
// the time budget bounds a whole run (see Runner).
constexpr uint32_t kMatchLimit = 10'000'000;
constexpr uint32_t kHeapLimitKiB = 256 * 1024;
constexpr std::size_t kJitStackStart = 32 * 1024;
constexpr std::size_t kJitStackMax = 8 * 1024 * 1024;
// The most offsets a match list keeps, and the longest result Replace builds (code units).
constexpr std::size_t kMaxOffsets = std::size_t{1} << 26;
constexpr std::size_t kMaxReplaceUnits = std::size_t{1} << 26;
// The search goes through the subject in windows of start offsets (the offset limit), one
// pcre2_match call each, and reads the clock between windows. A fast window runs under a low
// per-start match limit, so a call's work stays small however many start positions it holds;
// when a start position needs more, that window is searched again, carefully: under the full
// limit, in windows of a few start positions. A window doubles while it takes less than
// kWindowFastNs and halves when it takes more than kWindowSlowNs.
constexpr uint32_t kFastMatchLimit = 5'000;
constexpr std::size_t kWindowFirst = 256;
constexpr std::size_t kWindowMax = std::size_t{1} << 15;
constexpr std::size_t kCarefulWindowMax = 16;
constexpr int64_t kWindowFastNs = 4'000'000;
constexpr int64_t kWindowSlowNs = 20'000'000;
// Where JIT cannot run (not compiled, or past its stack), the interpreter searches the rest of
// the subject in one call, as its start-of-match scan ignores the offset limit; a callout in
// front of the pattern then checks the time budget at every eighth start position.
constexpr uint32_t kStartCallout = 255;
// Subjects from this length on (code units) are searched for their first match on two
// threads, one half of the start offsets each.
constexpr std::size_t kSplitUnits = std::size_t{1} << 18;
// Deepest nesting PCRE2 accepts: the rewritten pattern nests deeper than the dialect's.
constexpr uint32_t kParensNestLimit = 1000;

std::atomic<int64_t> gBudgetMs{10'000};

bool NameIs(std::string_view member, std::string_view name) {
  if (member.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char a = member[i];
    char b = name[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

Variant CountVariant(std::size_t n) {
  if (n <= static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    return Variant(static_cast<int32_t>(n));
  }
  return Variant(static_cast<double>(n));
}

// A zero-based index argument below `count`.
bool IndexArg(const Variant& v, std::size_t count, std::size_t& index) {
  double d;
  if (const auto* i = v.AsInt()) {
    d = *i;
  } else if (const auto* f = v.AsDouble()) {
    d = *f;
  } else if (v.kind() == Variant::Kind::kString) {
    d = VariantToNumber(v);
  } else {
    return false;
  }
  if (!std::isfinite(d) || d < 0 || d != std::floor(d) || d >= static_cast<double>(count)) {
    return false;
  }
  index = static_cast<std::size_t>(d);
  return true;
}

bool BoolArg(const Variant& v, bool& out) {
  if (const auto* b = v.AsBool()) {
    out = *b;
  } else if (const auto* i = v.AsInt()) {
    out = *i != 0;
  } else if (const auto* d = v.AsDouble()) {
    out = *d != 0;
  } else {
    return false;
  }
  return true;
}

// ---- Compiled patterns ------------------------------------------------------------------

struct CodeDeleter {
  void operator()(pcre2_code* c) const { pcre2_code_free(c); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;

struct Compiled {
  CodePtr code;
  std::u16string pattern;  // as handed to PCRE2, with its options
  uint32_t options = 0;
  bool jit = false;
  bool callouts = false;      // the pattern carries iteration callouts
  uint32_t groups = 0;        // the dialect's groups
  std::vector<uint32_t> map;  // PCRE2's number of each of them; empty when the same
};

CodePtr CompileCode(const std::u16string& pattern, uint32_t options) {
  pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
  if (!cc) return nullptr;
  pcre2_set_newline(cc, PCRE2_NEWLINE_LF);
  pcre2_set_parens_nest_limit(cc, kParensNestLimit);
  int error = 0;
  PCRE2_SIZE offset = 0;
  CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options,
                             &error, &offset, cc));
  pcre2_compile_context_free(cc);
  return code;
}

std::shared_ptr<const Compiled> CompileOrThrow(const std::u16string& pattern, bool ignoreCase,
                                               bool multiline) {
  Translation t;
  if (!TranslatePattern(pattern, multiline, t)) return nullptr;
  // `.` is every unit but LF (no DOTALL, newline LF); `^` and `$` come written out.
  uint32_t options = PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF | PCRE2_NEVER_UCP |
                     PCRE2_NEVER_BACKSLASH_C | PCRE2_USE_OFFSET_LIMIT;
  if (ignoreCase) options |= PCRE2_CASELESS;
  // A callout's failure must be able to take back what an item before it consumed.
  if (t.callouts) options |= PCRE2_NO_AUTO_POSSESS;
  auto compiled = std::make_shared<Compiled>();
  compiled->code = CompileCode(t.pattern, options);
  if (!compiled->code) return nullptr;
  compiled->pattern = std::move(t.pattern);
  compiled->options = options;
  compiled->jit = pcre2_jit_compile(compiled->code.get(), PCRE2_JIT_COMPLETE) == 0;
  compiled->callouts = t.callouts;
  compiled->groups = static_cast<uint32_t>(t.groups.size());
  for (uint32_t k = 0; k < t.groups.size(); ++k) {
    if (t.groups[k] != k + 1) {
      compiled->map = std::move(t.groups);
      break;
    }
  }
  return compiled;
}

// The patterns compiled last, for the next object that runs one of them again: programs
// run the same few patterns over and over, and compiling with JIT can cost more than a short
// search. A compiled pattern is read-only, so objects on any thread share it. Long patterns
// are not kept.
class PatternCache {
 public:
  std::shared_ptr<const Compiled> Find(const std::u16string& pattern, bool ignoreCase,
                                       bool multiline) {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      Entry& e = entries_[i];
      if (e.ignoreCase == ignoreCase && e.multiline == multiline && e.pattern == pattern) {
        std::rotate(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(i),
                    entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        return entries_.front().compiled;
      }
    }
    return nullptr;
  }
  void Keep(const std::u16string& pattern, bool ignoreCase, bool multiline,
            std::shared_ptr<const Compiled> compiled) {
    if (pattern.size() > kLongestKept) return;
    std::lock_guard lock(mutex_);
    if (entries_.size() == kEntries) entries_.pop_back();
    entries_.insert(entries_.begin(), Entry{pattern, ignoreCase, multiline, std::move(compiled)});
  }

 private:
  static constexpr std::size_t kEntries = 8;
  static constexpr std::size_t kLongestKept = 4096;
  struct Entry {
    std::u16string pattern;
    bool ignoreCase;
    bool multiline;
    std::shared_ptr<const Compiled> compiled;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

PatternCache& ThePatternCache() {
  static PatternCache* cache = new PatternCache;  // never destroyed: objects may outlive exit
  return *cache;
}

// A pattern too large for the memory at hand fails like one that does not compile.
std::shared_ptr<const Compiled> Compile(const std::u16string& pattern, bool ignoreCase,
                                        bool multiline) {
  try {
    PatternCache& cache = ThePatternCache();
    if (auto kept = cache.Find(pattern, ignoreCase, multiline)) return kept;
    auto compiled = CompileOrThrow(pattern, ignoreCase, multiline);
    if (compiled) cache.Keep(pattern, ignoreCase, multiline, compiled);
    return compiled;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// ---- Running ----------------------------------------------------------------------------

int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Deadline {
  int64_t endNs = 0;
  uint32_t starts = 0;
};

// The start callout of the interpreter's search and the iteration callouts of the dialect.
int OnCallout(pcre2_callout_block* block, void* data) {
  if (!block->callout_string) {
    if (block->callout_number != kStartCallout) return 0;
    auto* deadline = static_cast<Deadline*>(data);
    if ((++deadline->starts & 7) != 0) return 0;
    return NowNs() > deadline->endNs ? PCRE2_ERROR_CALLOUT : 0;
  }
  const std::u16string_view argument(reinterpret_cast<const char16_t*>(block->callout_string),
                                     block->callout_string_length);
  return IterationMustFail(argument, block->offset_vector, block->capture_top,
                           block->current_position)
             ? 1
             : 0;
}

// One thread's search of a compiled pattern over a subject: the contexts, the match data and
// the window sizes.
//
// PCRE2 applies its match limit to each start position on its own, so one call over a long
// subject may try very many costly start positions. Each call is therefore held to a window
// of start offsets (the offset limit), and the time budget is checked between windows. A
// window's work is small: a fast window holds start positions that each stay under the low
// limit, a careful one only a few start positions. So a search overruns its budget by little.
class Searcher {
 public:
  Searcher(const Compiled& compiled, std::u16string_view subject, int64_t endNs)
      : compiled_(compiled), subject_(subject) {
    deadline_.endNs = endNs;
    context_ = pcre2_match_context_create(nullptr);
    data_ = pcre2_match_data_create_from_pattern(compiled.code.get(), nullptr);
    if (context_) {
      pcre2_set_heap_limit(context_, kHeapLimitKiB);
      pcre2_set_callout(context_, OnCallout, &deadline_);
      if (compiled.jit) {
        stack_ = pcre2_jit_stack_create(kJitStackStart, kJitStackMax, nullptr);
        if (stack_) pcre2_jit_stack_assign(context_, nullptr, stack_);
      }
    }
  }
  ~Searcher() {
    if (stack_) pcre2_jit_stack_free(stack_);
    if (data_) pcre2_match_data_free(data_);
    if (context_) pcre2_match_context_free(context_);
  }
  Searcher(const Searcher&) = delete;
  Searcher& operator=(const Searcher&) = delete;

  bool Ready() const { return context_ && data_; }
  const PCRE2_SIZE* Offsets() const { return pcre2_get_ovector_pointer(data_); }
  uint32_t OffsetPairs() const { return pcre2_get_ovector_count(data_); }

  // The first match that starts at or after `start` and no later than `lastStart`, window by
  // window. Where the interpreter has to search, it looks on to the end of the subject (the
  // match it finds is still the first one from `start` on). A set `stop` ends the search
  // between windows, as if nothing were found.
  int Search(std::size_t start, std::size_t lastStart, const std::atomic<bool>* stop = nullptr) {
    if (!compiled_.jit) return SearchRest(start);
    const std::size_t bound = std::min(lastStart, subject_.size());
    std::size_t from = start;
    for (;;) {
      if (stop && stop->load(std::memory_order_relaxed)) return PCRE2_ERROR_NOMATCH;
      const int64_t begin = NowNs();
      if (begin > deadline_.endNs) return PCRE2_ERROR_CALLOUT;
      const bool careful = from < carefulEnd_;
      std::size_t& window = careful ? carefulWindow_ : window_;
      std::size_t last = bound - from > window ? from + window : bound;
      if (careful && last > carefulEnd_) last = carefulEnd_;
      pcre2_set_offset_limit(context_, last);
      pcre2_set_match_limit(context_, careful ? kMatchLimit : kFastMatchLimit);
      const int rc =
          pcre2_match(compiled_.code.get(), Units(), subject_.size(), from, 0, data_, context_);
      if (rc == PCRE2_ERROR_JIT_STACKLIMIT) return SearchRest(from);
      if (rc == PCRE2_ERROR_MATCHLIMIT && !careful) {
        carefulEnd_ = last;  // search this window again, carefully
        carefulWindow_ = 1;
        continue;
      }
      if (rc != PCRE2_ERROR_NOMATCH || last >= bound) return rc;
      const int64_t spent = NowNs() - begin;
      const std::size_t most = careful ? kCarefulWindowMax : kWindowMax;
      if (spent < kWindowFastNs && window < most) window *= 2;
      if (spent > kWindowSlowNs && window > 1) window /= 2;
      from = last + 1;
    }
  }

 private:
  PCRE2_SPTR Units() const { return reinterpret_cast<PCRE2_SPTR>(subject_.data()); }

  // The interpreter's search from `start` to the end, in one call under the full limit. It
  // keeps its backtracking on the heap, under the heap limit.
  int SearchRest(std::size_t start) {
    if (NowNs() > deadline_.endNs) return PCRE2_ERROR_CALLOUT;
    if (!rest_) {
      try {
        rest_ = CompileCode(u"(?C255)(?:" + compiled_.pattern + u")", compiled_.options);
      } catch (const std::bad_alloc&) {
      }
      if (!rest_) return PCRE2_ERROR_NOMEMORY;
    }
    pcre2_set_offset_limit(context_, PCRE2_UNSET);
    pcre2_set_match_limit(context_, kMatchLimit);
    return pcre2_match(rest_.get(), Units(), subject_.size(), start, 0, data_, context_);
  }

  const Compiled& compiled_;
  std::u16string_view subject_;
  Deadline deadline_;
  CodePtr rest_;  // the pattern behind the start callout, made on first need
  std::size_t window_ = kWindowFirst;
  std::size_t carefulWindow_ = 1;
  std::size_t carefulEnd_ = 0;  // start offsets below this are searched carefully
  pcre2_match_context* context_ = nullptr;
  pcre2_match_data* data_ = nullptr;
  pcre2_jit_stack* stack_ = nullptr;
};

// One run of a compiled pattern over a subject: the match loop, under one time budget.
//
// On a long subject the first match is looked for on two threads: this one searches the
// start offsets of the first half, a second one those of the second half. A match in the
// first half is the first match; only when the first half has none does the second half's
// answer count, match or failure. So the result is the one a search in order gives.
class Runner {
 public:
  Runner(const Compiled& compiled, std::u16string_view subject)
      : compiled_(compiled),
        subject_(subject),
        endNs_(NowNs() + gBudgetMs.load() * 1'000'000),  // budget < 2^43 ms
        main_(compiled, subject, endNs_) {
    if (!compiled.map.empty()) mapped_.resize(2 * (compiled.groups + std::size_t{1}));
  }

  // Calls onMatch(ovector) for each match in order (only the first unless global). Returns
  // false when matching failed (a limit, the time budget, no memory) or onMatch did.
  template <class OnMatch>
  bool Run(bool global, OnMatch onMatch) {
    if (!main_.Ready()) return false;
    const std::size_t length = subject_.size();
    std::size_t start = 0;
    while (start <= length) {
      const PCRE2_SIZE* ov = nullptr;
      const int rc = start == 0 ? SearchFirst(ov) : main_.Search(start, length);
      if (rc == PCRE2_ERROR_NOMATCH) return true;
      if (rc < 0) return false;
      if (!ov) ov = main_.Offsets();
      if (!mapped_.empty()) ov = Mapped(ov);
      if (!onMatch(ov)) return false;
      if (!global) return true;
      // Go on after the match; after an empty one, one unit further.
      std::size_t next = ov[1];
      if (ov[1] <= ov[0]) next = ov[0] + 1;
      if (next <= start) next = start + 1;
      start = next;
    }
    return true;
  }

 private:
  // The first match of the subject, on two threads where the subject is long; `ov` is set
  // when the second half's offsets are the answer.
  int SearchFirst(const PCRE2_SIZE*& ov) {
    const std::size_t length = subject_.size();
    if (!compiled_.jit || length < kSplitUnits) return main_.Search(0, length);
    const std::size_t half = length / 2;
    std::atomic<bool> stop{false};
    int second = PCRE2_ERROR_NOMEMORY;
    std::thread worker;
    try {
      worker = std::thread([&] {
        Searcher searcher(compiled_, subject_, endNs_);
        if (!searcher.Ready()) return;
        second = searcher.Search(half + 1, length, &stop);
        if (second >= 0) {
          const PCRE2_SIZE* o = searcher.Offsets();
          secondOffsets_.assign(o, o + 2 * std::size_t{searcher.OffsetPairs()});
        }
      });
    } catch (...) {
      return main_.Search(0, length);  // no thread to be had: in order, on this one
    }
    const int first = main_.Search(0, half);
    if (first != PCRE2_ERROR_NOMATCH) stop.store(true, std::memory_order_relaxed);
    worker.join();
    if (first != PCRE2_ERROR_NOMATCH) return first;
    if (second >= 0) ov = secondOffsets_.data();
    return second;
  }

  // The offsets in the dialect's group numbering.
  const PCRE2_SIZE* Mapped(const PCRE2_SIZE* ov) {
    mapped_[0] = ov[0];
    mapped_[1] = ov[1];
    for (std::size_t k = 0; k < compiled_.groups; ++k) {
      const uint32_t g = compiled_.map[k];
      mapped_[2 * k + 2] = ov[2 * g];
      mapped_[2 * k + 3] = ov[2 * g + 1];
    }
    return mapped_.data();
  }

  const Compiled& compiled_;
  std::u16string_view subject_;
  const int64_t endNs_;
  Searcher main_;
  std::vector<PCRE2_SIZE> secondOffsets_;
  std::vector<PCRE2_SIZE> mapped_;
};

// The text argument of Execute, Replace or Test as UTF-16 code units, for the length of the
// call: a view of a string, or of a byte array's bytes where they already lie as the host's
// code units (little-endian, two-aligned), else a converted copy.
class Subject {
 public:
  bool Read(const Variant& v) {
    if (const auto* s = v.AsString()) {
      view_ = *s;
      return true;
    }
    const auto* a = v.AsByteArray();
    if (a && std::endian::native == std::endian::little &&
        reinterpret_cast<std::uintptr_t>(a->bytes.data()) % alignof(char16_t) == 0) {
      view_ = std::u16string_view(reinterpret_cast<const char16_t*>(a->bytes.data()),
                                  a->bytes.size() / 2);
      return true;
    }
    if (!VariantToWide(v, copy_)) return false;
    view_ = copy_;
    return true;
  }
  std::u16string_view view() const { return view_; }

 private:
  std::u16string copy_;
  std::u16string_view view_;
};

// ---- Match objects ----------------------------------------------------------------------

// Every match of one Execute: per match, the start and end of the whole match and of each
// group (kUnset for a group that took no part), and the text they need. That text is, per
// match, the stretch of the subject from its first to its last offset, so a few matches in a
// long subject keep little; where the stretches together would be longer than the subject,
// it is the whole subject.
struct MatchList {
  static constexpr uint32_t kUnset = std::numeric_limits<uint32_t>::max();
  std::size_t groups = 0;
  std::vector<uint32_t> offsets;
  std::u16string text;
  // Per match: the subject offset where its stretch begins and where the stretch stands in
  // `text`. Empty when `text` is the whole subject.
  std::vector<uint32_t> stretches;

  std::size_t PerMatch() const { return 2 * (groups + 1); }
  std::size_t Count() const { return offsets.size() / PerMatch(); }
  const uint32_t* At(std::size_t match) const { return offsets.data() + match * PerMatch(); }

  // The subject's units [begin, end) of a match (both within its offsets).
  std::u16string Slice(std::size_t match, uint32_t begin, uint32_t end) const {
    if (stretches.empty()) return text.substr(begin, end - begin);
    return text.substr(stretches[2 * match + 1] + (begin - stretches[2 * match]), end - begin);
  }

  // Keeps what Slice needs of `subject`, once every match is in.
  void KeepText(std::u16string_view subject) {
    const std::size_t count = Count();
    const std::size_t per = PerMatch();
    std::size_t total = 0;
    std::vector<uint32_t> bounds(2 * count);
    for (std::size_t m = 0; m < count; ++m) {
      const uint32_t* at = At(m);
      uint32_t lo = at[0];
      uint32_t hi = at[1] < at[0] ? at[0] : at[1];
      for (std::size_t k = 2; k < per; k += 2) {
        if (at[k] == kUnset || at[k + 1] < at[k]) continue;
        if (at[k] < lo) lo = at[k];
        if (at[k + 1] > hi) hi = at[k + 1];
      }
      bounds[2 * m] = lo;
      bounds[2 * m + 1] = hi;
      total += hi - lo;
      if (total > subject.size()) {
        text.assign(subject);
        return;
      }
    }
    text.reserve(total);
    stretches.resize(2 * count);
    for (std::size_t m = 0; m < count; ++m) {
      stretches[2 * m] = bounds[2 * m];
      stretches[2 * m + 1] = static_cast<uint32_t>(text.size());
      text.append(subject.substr(bounds[2 * m], bounds[2 * m + 1] - bounds[2 * m]));
    }
  }
};

class SubMatchesObject final : public AutomationObject {
 public:
  SubMatchesObject(std::shared_ptr<const MatchList> list, std::size_t match)
      : list_(std::move(list)), match_(match) {}

  bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args, Variant& result) override {
    if (kind == InvokeKind::kPut) return false;
    if (NameIs(member, "Count") && args.empty()) {
      result = CountVariant(list_->groups);
      return true;
    }
    std::size_t index = 0;
    if (NameIs(member, "Item") && args.size() == 1 && IndexArg(*args[0], list_->groups, index)) {
      const uint32_t* at = list_->At(match_) + 2 * (index + 1);
      if (at[0] == MatchList::kUnset || at[1] < at[0]) {
        result.Clear();
      } else {
        result = Variant(list_->Slice(match_, at[0], at[1]));
      }
      return true;
    }
    return false;
  }

 private:
  std::shared_ptr<const MatchList> list_;
  std::size_t match_;
};

class MatchObject final : public AutomationObject {
 public:
  MatchObject(std::shared_ptr<const MatchList> list, std::size_t match)
      : list_(std::move(list)), match_(match) {}

  bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args, Variant& result) override {
    if (kind == InvokeKind::kPut || !args.empty()) return false;
    const uint32_t* at = list_->At(match_);
    const uint32_t end = at[1] < at[0] ? at[0] : at[1];
    if (NameIs(member, "Value")) {
      result = Variant(list_->Slice(match_, at[0], end));
    } else if (NameIs(member, "FirstIndex")) {
      result = CountVariant(at[0]);
    } else if (NameIs(member, "Length")) {
      result = CountVariant(end - at[0]);
    } else if (NameIs(member, "SubMatches")) {
      result = Variant(ComObject(new SubMatchesObject(list_, match_)));
    } else {
      return false;
    }
    return true;
  }

 private:
  std::shared_ptr<const MatchList> list_;
  std::size_t match_;
};

class MatchCollectionObject final : public AutomationObject {
 public:
  explicit MatchCollectionObject(std::shared_ptr<const MatchList> list) : list_(std::move(list)) {}

  bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args, Variant& result) override {
    if (kind == InvokeKind::kPut) return false;
    if (NameIs(member, "Count") && args.empty()) {
      result = CountVariant(list_->Count());
      return true;
    }
    std::size_t index = 0;
    if (NameIs(member, "Item") && args.size() == 1 && IndexArg(*args[0], list_->Count(), index)) {
      result = Variant(ComObject(new MatchObject(list_, index)));
      return true;
    }
    return false;
  }

 private:
  std::shared_ptr<const MatchList> list_;
};

// ---- The engine -------------------------------------------------------------------------

// Appends the replacement for one match: $1..$99 (a two-digit number only when that group
// exists), $& the match, $` the text before it, $' the text after it, $$ one dollar sign;
// any other dollar sign stands for itself. Returns false, as soon as it would happen, when
// `out` would grow past kMaxReplaceUnits: a replacement full of $` or $' on a long subject
// asks for far more than that.
bool AppendReplacement(std::u16string& out, const std::u16string& replacement,
                       std::u16string_view subject, const PCRE2_SIZE* ov, uint32_t groups) {
  auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
  auto fits = [&](std::size_t more) { return more <= kMaxReplaceUnits - out.size(); };
  auto appendPart = [&](std::size_t begin, std::size_t end) {
    if (end <= begin) return true;
    if (!fits(end - begin)) return false;
    out.append(subject.substr(begin, end - begin));
    return true;
  };
  auto appendGroup = [&](std::size_t g) {
    return ov[2 * g] == PCRE2_UNSET || appendPart(ov[2 * g], ov[2 * g + 1]);
  };
  auto appendUnit = [&](char16_t c) {
    if (!fits(1)) return false;
    out.push_back(c);
    return true;
  };
  if (out.size() > kMaxReplaceUnits) return false;
  const std::size_t n = replacement.size();
  for (std::size_t i = 0; i < n; ++i) {
    char16_t c = replacement[i];
    bool ok = true;
    if (c != u'$' || i + 1 == n) {
      ok = appendUnit(c);
    } else if (char16_t d = replacement[i + 1]; d == u'$') {
      ok = appendUnit(u'$');
      ++i;
    } else if (d == u'&') {
      ok = appendGroup(0);
      ++i;
    } else if (d == u'`') {
      ok = appendPart(0, ov[0]);
      ++i;
    } else if (d == u'\'') {
      ok = appendPart(ov[1], subject.size());
      ++i;
    } else if (isDigit(d)) {
      std::size_t one = d - u'0';
      std::size_t two =
          (i + 2 < n && isDigit(replacement[i + 2])) ? one * 10 + (replacement[i + 2] - u'0') : 0;
      if (two >= 1 && two <= groups) {
        ok = appendGroup(two);
        i += 2;
      } else if (one >= 1 && one <= groups) {
        ok = appendGroup(one);
        i += 1;
      } else {
        ok = appendUnit(c);
      }
    } else {
      ok = appendUnit(c);
    }
    if (!ok) return false;
  }
  return true;
}

class RegExpObject final : public AutomationObject {
 public:
  bool Invoke(std::string_view member, InvokeKind kind, InvokeArgs args, Variant& result) override {
    if (kind == InvokeKind::kPut) return args.size() == 1 && Put(member, *args[0]);
    if (kind == InvokeKind::kGet && args.empty()) {
      if (NameIs(member, "Pattern")) {
        result = Variant(pattern_);
        return true;
      }
      if (bool* flag = Flag(member)) {
        result = Variant(*flag);
        return true;
      }
    }
    if (kind == InvokeKind::kMethod) {
      if (NameIs(member, "Execute") && args.size() == 1) return Execute(*args[0], result);
      if (NameIs(member, "Replace") && args.size() == 2) {
        return Replace(*args[0], *args[1], result);
      }
      if (NameIs(member, "Test") && args.size() == 1) return Test(*args[0], result);
    }
    return false;
  }

 private:
  bool* Flag(std::string_view member) {
    if (NameIs(member, "IgnoreCase")) return &ignoreCase_;
    if (NameIs(member, "Global")) return &global_;
    if (NameIs(member, "Multiline")) return &multiline_;
    return nullptr;
  }

  bool Put(std::string_view member, const Variant& value) {
    if (NameIs(member, "Pattern")) {
      std::u16string pattern;
      if (!VariantToWide(value, pattern)) return false;
      pattern_ = std::move(pattern);
      compiled_.reset();
      return true;
    }
    bool* flag = Flag(member);
    bool b = false;
    if (!flag || !BoolArg(value, b)) return false;
    if (flag != &global_ && *flag != b) compiled_.reset();
    *flag = b;
    return true;
  }

  const Compiled* Code() {
    if (!compiled_) compiled_ = Compile(pattern_, ignoreCase_, multiline_);
    return compiled_.get();
  }

  bool Execute(const Variant& text, Variant& result) {
    auto list = std::make_shared<MatchList>();
    Subject subject;
    if (!subject.Read(text)) return false;
    const Compiled* code = Code();
    if (!code || subject.view().size() >= MatchList::kUnset) return false;
    list->groups = code->groups;
    Runner runner(*code, subject.view());
    const std::size_t per = list->PerMatch();
    bool ok = runner.Run(global_, [&](const PCRE2_SIZE* ov) {
      if (list->offsets.size() + per > kMaxOffsets) return false;
      for (std::size_t k = 0; k < per; ++k) {
        list->offsets.push_back(ov[k] == PCRE2_UNSET ? MatchList::kUnset
                                                     : static_cast<uint32_t>(ov[k]));
      }
      return true;
    });
    if (!ok) return false;
    list->offsets.shrink_to_fit();
    list->KeepText(subject.view());
    result = Variant(ComObject(new MatchCollectionObject(std::move(list))));
    return true;
  }

  bool Replace(const Variant& text, const Variant& replacementValue, Variant& result) {
    Subject subjectText;
    std::u16string replacement;
    if (!subjectText.Read(text) || !VariantToWide(replacementValue, replacement)) return false;
    const std::u16string_view subject = subjectText.view();
    const Compiled* code = Code();
    if (!code) return false;
    std::u16string out;
    std::size_t copied = 0;  // the subject is copied up to here
    Runner runner(*code, subject);
    bool ok = runner.Run(global_, [&](const PCRE2_SIZE* ov) {
      std::size_t begin = ov[0] < copied ? copied : ov[0];
      if (begin - copied > kMaxReplaceUnits - out.size()) return false;
      out.append(subject.substr(copied, begin - copied));
      if (!AppendReplacement(out, replacement, subject, ov, code->groups)) return false;
      copied = ov[1] > begin ? ov[1] : begin;
      return true;
    });
    if (!ok || subject.size() - copied > kMaxReplaceUnits - out.size()) return false;
    out.append(subject.substr(copied));
    result = Variant(std::move(out));
    return true;
  }

  bool Test(const Variant& text, Variant& result) {
    Subject subject;
    if (!subject.Read(text)) return false;
    const Compiled* code = Code();
    if (!code) return false;
    bool found = false;
    Runner runner(*code, subject.view());
    if (!runner.Run(false, [&](const PCRE2_SIZE*) { return found = true; })) return false;
    result = Variant(found);
    return true;
  }

  std::u16string pattern_;
  bool ignoreCase_ = false;
  bool global_ = false;
  bool multiline_ = false;
  std::shared_ptr<const Compiled> compiled_;
};

AutomationObject* NewRegExp() { return new (std::nothrow) RegExpObject; }

}  // namespace

void RegisterClasses(void (*add)(std::string_view className, ClassFactory factory)) {
  add(kRegExpClassName, &NewRegExp);
}

void SetTimeBudget(std::chrono::milliseconds budget) {
  constexpr int64_t kMaxMs = int64_t{1} << 42;  // keeps the deadline within int64 nanoseconds
  int64_t ms = budget.count();
  gBudgetMs.store(ms < 0 ? 0 : (ms > kMaxMs ? kMaxMs : ms));
}

std::chrono::milliseconds TimeBudget() { return std::chrono::milliseconds(gBudgetMs.load()); }

}  // namespace quorvel::platform::regexp
