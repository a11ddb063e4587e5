// RegexObject over the "VBScript.RegExp" automation class.
//
// Texts take one of two routes to and from the engine's UTF-16: the subject, a match's text
// and the position haystack go through the explicit GBK conversions of text/convert.h; the
// pattern, the replacement, a sub-match's text, Replace's result and the pattern read back
// go through the automation layer's ANSI conversion. Both are code page 936.
#include "regex/regex_object.h"

#include <cmath>
#include <limits>
#include <string>

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

// The subject's UTF-16LE bytes as GBK Text: the whole of it, or its first `units` units.
Text SubjectGbk(const Variant& subject, std::size_t units = std::string::npos) {
  std::string bytes = platform::VariantToBytes(subject);
  if (units != std::string::npos && units * 2 < bytes.size()) bytes.resize(units * 2);
  return WideToGbk(Bytes(std::move(bytes)));
}

// The zero-based GBK byte offset in the subject of a match, from its FirstIndex in UTF-16
// units: the GBK length of the units before it. -2 when the match has no valid FirstIndex.
int GbkOffset(const Variant& subject, const ComObject& match) {
  Variant first = GetProperty(match, "FirstIndex");
  if (first.IsEmpty()) return -2;
  double units = platform::VariantToNumber(first);
  if (!std::isfinite(units) || units < 0) return -2;
  if (units == 0) return 0;
  Text prefix = SubjectGbk(subject, static_cast<std::size_t>(units));
  if (prefix.size() >= static_cast<std::size_t>(std::numeric_limits<int>::max())) return -2;
  return static_cast<int>(prefix.size());
}

}  // namespace

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
  if (position) *position = m.IsEmpty() ? -2 : GbkOffset(subject, m);
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
    if (value.kind() == Variant::Kind::kString) {
      int offset = GbkOffset(subject, m);
      if (offset >= 0 && text.empty()) {
        *position = offset;
      } else if (offset >= 0) {
        int found = FindText(SubjectGbk(subject), text, offset + 1, /*ignoreCase=*/false);
        *position = found > 0 ? found - 1 : -2;
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
