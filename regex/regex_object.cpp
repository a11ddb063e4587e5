// RegexObject over the "VBScript.RegExp" automation class.
//
// Texts take one of two routes to and from the engine's UTF-16: the subject, a match's text
// and the position haystack go through the explicit GBK conversions of text/convert.h; the
// pattern, the replacement, a sub-match's text, Replace's result and the pattern read back
// go through the automation layer's ANSI conversion. Both are code page 936.
#include "regex/regex_object.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "text/convert.h"

namespace quorvel {

namespace {

using platform::CallMethod;
using platform::ComObject;
using platform::GetProperty;
using platform::Variant;

// A count or index read from the engine, as a 32-bit integer truncated toward zero.
int ToInt(const Variant& v) {
  double d = platform::VariantToNumber(v);
  if (!std::isfinite(d)) return 0;
  d = std::trunc(d);
  if (d <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  if (d >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(d);
}

// The zero-based engine index for a 1-based index (as a double, which never overflows).
Variant EngineIndex(int oneBased) { return Variant(static_cast<double>(oneBased) - 1.0); }

ComObject MatchAt(const ComObject& matches, int match) {
  return platform::VariantToObject(GetProperty(matches, "Item", EngineIndex(match)));
}

Text AnsiText(const Variant& v) { return Text(platform::VariantToAnsi(v)); }

// The subject's UTF-16LE bytes as GBK Text.
Text SubjectGbk(const Variant& subject) {
  return WideToGbk(Bytes(platform::VariantToBytes(subject)));
}

// A number of units read from the engine (FirstIndex, Length), whole; false when there is
// none or it is negative.
bool UnitsOf(const Variant& v, std::size_t& units) {
  if (v.IsEmpty()) return false;
  const double d = platform::VariantToNumber(v);
  if (!std::isfinite(d) || d < 0) return false;
  units = d >= 0x1p63 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(d);
  return true;
}

constexpr std::size_t kIntMax = static_cast<std::size_t>(std::numeric_limits<int>::max());

}  // namespace

// The GBK lengths of the subject's prefixes, without converting the subject again for
// every read. Len(u) is the length of WideToGbk of the subject's first u units (which ends
// at the first zero unit). That conversion can join a character with a combining mark after
// it, and a surrogate pair makes one character, so the GBK text of a prefix is not always a
// prefix of the whole one. But before a unit that nothing joins to the unit before it (below
// U+0300, a CJK ideograph, a private-use character; call its place a cut) the conversion
// splits: for a cut c and any u >= c, Len(u) = Len(c) + the GBK length of units [c, u). The
// map keeps Len at a cut about every kStride units, made as far as reads have needed, so a
// read converts at most that stretch and what it asks about.
class RegexObject::SubjectPositions {
 public:
  explicit SubjectPositions(const std::string& bytes)
      : d_(reinterpret_cast<const unsigned char*>(bytes.data())), n_(bytes.size() / 2) {
    zero_ = n_;
    for (std::size_t i = 0; i < n_; ++i) {
      if (Unit(i) == 0) {
        zero_ = i;
        break;
      }
    }
    marks_.push_back({0, 0});
  }

  // True while `bytes` are still the ones this map was made for.
  bool Serves(const std::string& bytes) const {
    return reinterpret_cast<const unsigned char*>(bytes.data()) == d_ && bytes.size() / 2 == n_;
  }

  std::size_t Len(std::size_t u) {
    u = std::min(u, zero_);
    const Mark m = MarkAtOrBefore(u);
    return m.len + Gbk(m.unit, u).size();
  }

  // As FindText over the subject's whole GBK text from byte `offset` (= Len(first)) on, for
  // a needle that stands in units [first, end): the position of its first occurrence, when
  // that occurrence ends by the GBK end of the units; -1 otherwise (it may lie further on).
  int FindWithin(const Text& needle, std::size_t first, std::size_t end, std::size_t offset) {
    first = std::min(first, zero_);
    end = std::min(std::max(end, first), zero_);
    const std::size_t from = CutAtOrBefore(first);
    std::size_t to = end;
    while (!IsCut(to)) ++to;
    // The subject's GBK text splits at both cuts, so this is its stretch from Len(from) on.
    const Text window = Gbk(from, to);
    const std::size_t base = Len(from);
    if (offset < base || offset - base >= kIntMax) return -1;
    const int found = FindText(window, needle, static_cast<int>(offset - base) + 1, false);
    if (found <= 0) return -1;
    const std::size_t at = base + static_cast<std::size_t>(found) - 1;
    return at < kIntMax ? static_cast<int>(at) : -1;
  }

 private:
  static constexpr std::size_t kStride = 1024;
  struct Mark {
    std::size_t unit;
    std::size_t len;
  };

  unsigned Unit(std::size_t i) const { return d_[2 * i] | (d_[2 * i + 1] << 8); }

  bool IsCut(std::size_t i) const {
    if (i == 0 || i >= zero_) return true;
    const unsigned u = Unit(i);
    return u < 0x300 || (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) ||
           (u >= 0xE000 && u <= 0xF8FF);
  }

  // WideToGbk of units [a, b).
  Text Gbk(std::size_t a, std::size_t b) const {
    if (b <= a) return Text();
    return WideToGbk(Bytes(d_ + 2 * a, 2 * (b - a)));
  }

  // The last mark at or before u (<= zero_), after making the marks up to u.
  Mark MarkAtOrBefore(std::size_t u) {
    while (marks_.back().unit + kStride <= u) {
      const Mark last = marks_.back();
      std::size_t next = last.unit + kStride;
      while (!IsCut(next)) ++next;
      marks_.push_back({next, last.len + Gbk(last.unit, next).size()});
    }
    auto it = std::upper_bound(marks_.begin(), marks_.end(), u,
                               [](std::size_t v, const Mark& m) { return v < m.unit; });
    return *(it - 1);
  }

  std::size_t CutAtOrBefore(std::size_t u) {
    const std::size_t floor = MarkAtOrBefore(u).unit;
    while (u > floor && !IsCut(u)) --u;
    return u;
  }

  const unsigned char* d_;
  std::size_t n_;
  std::size_t zero_;
  std::vector<Mark> marks_;
};

RegexObject::SubjectPositions* RegexObject::Positions() {
  const auto* array = subject.AsByteArray();
  if (!array) return nullptr;
  if (!positions_ || !positions_->Serves(array->bytes)) {
    positions_ = std::make_unique<SubjectPositions>(array->bytes);
  }
  return positions_.get();
}

// The zero-based GBK byte offset in the subject of the place `units` units in: the GBK
// length of the units before it; -2 when that does not fit an int.
int RegexObject::GbkOffset(std::size_t units) {
  std::size_t len;
  if (units == 0) {
    len = 0;
  } else if (SubjectPositions* map = Positions()) {
    len = map->Len(units);
  } else {
    std::string bytes = platform::VariantToBytes(subject);
    if (units < bytes.size() / 2) bytes.resize(units * 2);
    len = WideToGbk(Bytes(std::move(bytes))).size();
  }
  return len < kIntMax ? static_cast<int>(len) : -2;
}

RegexObject::RegexObject() { platform::Initialize(); }

RegexObject::~RegexObject() {
  engine.Clear();
  matches.Clear();
  subject.Clear();
  platform::Uninitialize();
}

RegexObject::RegexObject(const RegexObject& other)
    : engine(other.engine), matches(other.matches), subject(other.subject) {
  platform::Initialize();
}

RegexObject& RegexObject::operator=(const RegexObject& other) {
  if (this != &other) {
    engine = other.engine;
    matches = other.matches;
    subject = other.subject;
    positions_.reset();
  }
  return *this;
}

bool RegexObject::Create(const Text& pattern, const Text& subjectText, bool caseSensitive,
                         bool multiLine, bool global, bool quoteMarker) {
  engine.Clear();
  matches.Clear();
  platform::CreateObject("VBScript.RegExp", engine);
  platform::SetProperty(engine, "IgnoreCase", Variant(!caseSensitive));
  platform::SetProperty(engine, "Multiline", Variant(multiLine));
  // The engine has no such member; the setting fails and `.` never crosses a line feed,
  // which the patterns of this program rely on.
  platform::SetProperty(engine, "Singleline", Variant(true));
  platform::SetProperty(engine, "Global", Variant(global));
  Text patternText = quoteMarker ? ReplaceText(pattern, Gbk("#引号"), Text("\"")) : pattern;
  platform::SetProperty(engine, "Pattern", platform::VariantFromAnsi(patternText.view()));

  // The engine sees exactly the subject's characters: the terminating zero unit of the
  // conversion stays out, so `.`, `$` and the like never act on it.
  Bytes wide = GbkToWide(subjectText);
  std::string units = std::move(wide.str());
  if (units.size() >= 2) units.resize(units.size() - 2);
  subject = platform::VariantFromBytes(std::move(units));
  positions_.reset();

  matches = platform::VariantToObject(CallMethod(engine, "Execute", subject));
  return !matches.IsEmpty();
}

Text RegexObject::GetPattern() {
  if (engine.IsEmpty()) return Text();
  return AnsiText(GetProperty(engine, "Pattern"));
}

Text RegexObject::Replace(const Text& replacement) {
  if (engine.IsEmpty()) return Text();
  return AnsiText(
      CallMethod(engine, "Replace", subject, platform::VariantFromAnsi(replacement.view())));
}

int RegexObject::MatchCount() { return ToInt(GetProperty(matches, "Count")); }

Text RegexObject::MatchText(int match, int* position) {
  ComObject m = MatchAt(matches, match);
  Text text = WideToGbk(Bytes(platform::VariantToBytes(GetProperty(m, "Value"))));
  if (position) {
    std::size_t first = 0;
    *position = -2;
    if (!m.IsEmpty() && UnitsOf(GetProperty(m, "FirstIndex"), first)) {
      *position = GbkOffset(first);
    }
  }
  return text;
}

Text RegexObject::SubmatchText(int match, int sub, int* position) {
  ComObject m = MatchAt(matches, match);
  ComObject groups = platform::VariantToObject(GetProperty(m, "SubMatches"));
  Variant value = GetProperty(groups, "Item", EngineIndex(sub));
  Text text = AnsiText(value);
  if (position) {
    *position = -2;
    // Only a group that took part has a place; the empty Variant stands for one that did not.
    std::size_t first = 0;
    if (value.kind() == Variant::Kind::kString && UnitsOf(GetProperty(m, "FirstIndex"), first)) {
      const int offset = GbkOffset(first);
      SubjectPositions* map = Positions();
      if (offset >= 0 && text.empty()) {
        *position = offset;
      } else if (offset >= 0) {
        // The first occurrence from the match's place on: looked for within the match's
        // own GBK text first (where the group stands), in the whole text only if not there.
        std::size_t length = 0;
        int found = -1;
        if (map && UnitsOf(GetProperty(m, "Length"), length)) {
          const std::size_t end = length > SIZE_MAX - first ? SIZE_MAX : first + length;
          found = map->FindWithin(text, first, end, static_cast<std::size_t>(offset));
        }
        if (found < 0) {
          const int p = FindText(SubjectGbk(subject), text, offset + 1, /*ignoreCase=*/false);
          found = p > 0 ? p - 1 : -2;
        }
        *position = found;
      }
    }
  }
  return text;
}

int RegexObject::SubmatchCount() {
  ComObject m = MatchAt(matches, 1);
  ComObject groups = platform::VariantToObject(GetProperty(m, "SubMatches"));
  return ToInt(GetProperty(groups, "Count"));
}

}  // namespace quorvel
